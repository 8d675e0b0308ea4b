// SPDX-License-Identifier: GPL-3.0-or-later

// Effect files as libsndfile reads them: every format it writes, what another tool writes,
// broken files of every kind, our own limits in front, and the resampler behind.

#include "EffectFile.h"
#include "../support/SkipUnlessCi.h"
#include "AudioSource.h"
#include "MixMeasure.h"
#include "SoundFileWriter.h"
#include "WavBytes.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <numbers>

using namespace sound;
using namespace wavtest;

namespace {

Bytes bytesOf(std::initializer_list<int> values)
{
    Bytes b;
    for (int v : values)
        b.push_back(static_cast<std::uint8_t>(v));
    return b;
}

double rmsOf(const std::vector<float>& stereo, std::size_t from, std::size_t to)
{
    double sum = 0;
    for (std::size_t i = from * 2; i < to * 2; ++i)
        sum += static_cast<double>(stereo[i]) * stereo[i];
    return std::sqrt(sum / static_cast<double>((to - from) * 2));
}

double db(double ratio)
{
    return 20 * std::log10(ratio);
}

// Checks that `sound` is a tone of `amplitude` lasting about `seconds`.
void expectTone(const Waveform& sound, double amplitude, double seconds, bool lossy)
{
    const double expected = seconds * kOutputRate;
    const auto frames = static_cast<double>(sound.frames());
    // Perceptual codecs pad to whole blocks and add their encoder's delay.
    EXPECT_GE(frames, expected * 0.98 - 8);
    // A few lossless formats pad to blocks of samples too.
    EXPECT_LE(frames, expected * (lossy ? 1.1 : 1.0) + (lossy ? 2400 : 48));
    const std::size_t n = sound.frames();
    const double rms = rmsOf(sound.samples, n / 4, n * 3 / 4);
    EXPECT_NEAR(db(rms / (amplitude / std::sqrt(2.0))), 0.0, lossy ? 3.0 : 0.5);
    for (float v : sound.samples)
        ASSERT_TRUE(std::isfinite(v) && std::fabs(v) <= 1.0f);
}

} // namespace

TEST(EffectFile, EveryFormatLibsndfileWritesIsDecoded)
{
    const auto formats = writableFormats();
    ASSERT_GT(formats.size(), 30u) << "libsndfile lists fewer formats than any build of it writes";
    std::size_t decoded = 0;
    for (const WritableFormat& f : formats) {
        SCOPED_TRACE(f.name + " at " + std::to_string(f.rate) + " Hz, " + std::to_string(f.channels) + " channels");
        const Bytes file = writeTone(f, 440.0, 0.5, 0.3);
        if (file.empty())
            continue; // listed, but not writable in one go into memory (e.g. only to a real file)
        const auto sound = decodeEffect(file);
        ASSERT_TRUE(sound);
        expectTone(*sound, 0.5, 0.3, f.lossy);
        ++decoded;
    }
    std::cout << "[  NOTE    ] " << decoded << " of " << formats.size() << " format pairs written and decoded\n";
    EXPECT_GT(decoded, 30u);
}

TEST(EffectFile, WhatSoxWritesIsDecoded)
{
    if (std::system("command -v sox >/dev/null 2>&1") != 0)
        SKIP_UNLESS_CI("sox is not installed");
    // sox's own writers, not libsndfile's: other header layouts, padding and block sizes.
    const struct {
        const char* file;
        const char* options;
        bool lossy;
    } cases[] = {
        {"pcm16.wav", "-r 44100 -c 2 -b 16", false},
        {"pcm24.wav", "-r 96000 -c 1 -b 24", false},
        {"float.wav", "-r 22050 -c 1 -e floating-point -b 32", false},
        {"ima.wav", "-r 22050 -c 1 -e ima-adpcm", true},
        {"ms.wav", "-r 22050 -c 2 -e ms-adpcm", true},
        {"alaw.wav", "-r 8000 -c 1 -e a-law", true},
        {"ulaw.au", "-r 8000 -c 1 -e u-law", true},
        {"gsm.wav", "-r 8000 -c 1 -e gsm-full-rate", true},
        {"tone.aiff", "-r 32000 -c 2 -b 16", false},
        {"tone.aifc", "-r 32000 -c 1 -b 16", false},
        {"tone.flac", "-r 44100 -c 2 -b 16", false},
        {"tone.ogg", "-r 44100 -c 2", true},
        {"tone.w64", "-r 11025 -c 1 -b 16", false},
        {"tone.caf", "-r 16000 -c 1 -b 16", false},
        {"tone.voc", "-r 11025 -c 1 -b 8", true},
        {"six.wav", "-r 48000 -c 6 -b 16", false},
    };
    OddTempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const auto path = dir.file(c.file);
        // The folder's name has an apostrophe in it: sox gets the file name through the environment.
        ::setenv("OMBURA_SOX_OUT", path.c_str(), 1);
        const std::string command =
            std::string("sox -q -n ") + c.options + " \"$OMBURA_SOX_OUT\" synth 0.3 sine 440 vol 0.5 2>/dev/null";
        if (std::system(command.c_str()) != 0) {
            std::cout << "[  NOTE    ] this sox cannot write " << c.file << "\n";
            continue;
        }
        const auto sound = loadEffectFile(path.string());
        ASSERT_TRUE(sound);
        // More than two channels fold into two, each side the mean of its half.
        const bool folded = std::string(c.file) == "six.wav";
        expectTone(*sound, 0.5, 0.3, c.lossy || folded);
    }
}

TEST(EffectFile, DecodesTheFuzzersSeeds)
{
    // The fuzzer's seeds were written by sox: each encoding as a common tool lays it out.
    // libsndfile, like sox itself, plays ADPCM's last block whole, past what the fact chunk
    // counts: a few milliseconds of the encoder's padding.
    const struct {
        const char* name;
        double seconds;
    } cases[] = {
        {"pcm8.wav", 0.005}, {"pcm16-stereo.wav", 0.004}, {"pcm24.wav", 0.002},        {"float32.wav", 0.002},
        {"alaw.wav", 0.01},  {"mulaw.wav", 0.01},         {"ima.wav", 1010 / 11025.0}, {"msadpcm.wav", 1000 / 11025.0},
        {"quad.wav", 0.001}};
    for (const auto& c : cases) {
        const auto sound = loadEffectFile(std::string(OMBURA_WAV_CORPUS) + "/" + c.name);
        ASSERT_TRUE(sound) << c.name;
        const double seconds = static_cast<double>(sound->frames()) / 48000.0;
        EXPECT_NEAR(seconds, c.seconds, 0.0015) << c.name;
        float peak = 0;
        for (float v : sound->samples)
            peak = std::max(peak, std::abs(v));
        EXPECT_GT(peak, 0.1f) << c.name << " decoded to near silence";
    }
}

TEST(EffectFile, RefusesBrokenFilesAndWhatIsPastOurLimits)
{
    const Bytes good = wav(Fmt{}, pcm16({1000, 2000, 3000, 4000}));
    auto withByte = [&](std::size_t at, std::uint8_t v) {
        Bytes b = good;
        b[at] = v;
        return b;
    };
    Bytes headerCut = good;
    headerCut.resize(30);
    const WritableFormat ninePcm{"nine channels", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 9, false};
    const WritableFormat slowPcm{"100 Hz", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 100, 1, false};
    const WritableFormat fastPcm{"768 kHz", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 768000, 1, false};
    const WritableFormat longPcm{"too long", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1000, 1, false};

    const struct {
        const char* name;
        Bytes file;
    } cases[] = {
        {"empty", {}},
        {"four bytes", bytesOf({'R', 'I', 'F', 'F'})},
        {"text", bytesOf({'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!', '!'})},
        {"a MIDI file", bytesOf({'M', 'T', 'h', 'd', 0,   0, 0, 6, 0, 0, 0,    1,    0,
                                 96,  'M', 'T', 'r', 'k', 0, 0, 0, 4, 0, 0xFF, 0x2F, 0})},
        {"a PNG picture", bytesOf({0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 13, 'I', 'H', 'D', 'R'})},
        {"AVI, not WAVE", withByte(8, 'A')},
        {"cut inside the header", headerCut},
        {"no fmt chunk", riff({{"data", pcm16({1, 2})}})},
        {"no channels", wav(Fmt{.channels = 0, .blockAlign = 2}, pcm16({1}))},
        {"rate zero", wav(Fmt{.rate = 0}, pcm16({1}))},
        {"MP3 tag with nothing behind it", wav(Fmt{.tag = 0x55}, Bytes(16))},
        {"empty data", wav(Fmt{}, {})},
        {"random bytes", Bytes(5000, 0xA5)},
        {"nine channels", writeTone(ninePcm, 440, 0.5, 0.01)},
        {"rate 100 Hz", writeTone(slowPcm, 10, 0.5, 0.5)},
        {"rate 768 kHz", writeTone(fastPcm, 440, 0.5, 0.01)},
        {"longer than an effect may be", writeTone(longPcm, 100, 0.5, 201.0)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(!c.file.empty() || std::string(c.name) == "empty") << "the test could not write its file";
        EXPECT_FALSE(decodeEffect(c.file));
    }
    // docs/SOUND.md's limits, each just inside: 200 s at 1 kHz, 8 channels, 384 kHz.
    const WritableFormat eightPcm{"eight channels", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 8, false};
    const WritableFormat topPcm{"384 kHz", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 384000, 1, false};
    for (const auto& [f, seconds] : {std::pair{longPcm, 200.0}, std::pair{eightPcm, 0.01}, std::pair{topPcm, 0.01}})
        EXPECT_TRUE(decodeEffect(writeTone(f, 100, 0.5, seconds))) << f.name;
}

TEST(EffectFile, FilesCutShortAreBrokenButHarmlessQuirksPlay)
{
    // libsndfile would read a file cut short up to where it ends; we hold it broken, as a file
    // whose sizes claim more than it holds, in every container that says how long it is.
    const Bytes pcm = pcm16(std::vector<std::int16_t>(1000, 8192));
    Bytes cut = wav(Fmt{}, pcm);
    cut.resize(cut.size() - 600);
    const Bytes lyingData = riff({{"fmt ", fmtBody(Fmt{})}, {"data", pcm16({1, 2, 3}), 400000}});
    const Bytes lyingRiff = riff({{"fmt ", fmtBody(Fmt{})}, {"data", pcm}}, 1000000);
    const auto cutOf = [](const WritableFormat& f) {
        Bytes b = writeTone(f, 440, 0.5, 0.3);
        b.resize(b.size() * 2 / 3);
        return b;
    };
    const struct {
        const char* name;
        Bytes file;
    } broken[] = {
        {"WAV cut inside the data", cut},
        {"WAV data size past the end", lyingData},
        {"WAV RIFF size past the end", lyingRiff},
        {"AIFF cut", cutOf({"", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 22050, 2, false})},
        {"FLAC cut", cutOf({"", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 22050, 1, false})},
        {"IMA ADPCM cut", cutOf({"", SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 22050, 1, false})},
    };
    for (const auto& c : broken) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(decodeEffect(c.file));
    }
    // AU and W64 keep their lengths out of libsndfile's chunk list, and it reads them cut short
    // as it reads any file: up to where they end. They play what they hold.
    for (const WritableFormat& f : {WritableFormat{"", SF_FORMAT_AU | SF_FORMAT_ULAW, 8000, 1, false},
                                    WritableFormat{"", SF_FORMAT_W64 | SF_FORMAT_PCM_24, 22050, 1, false}}) {
        const auto sound = decodeEffect(cutOf(f));
        ASSERT_TRUE(sound) << f.format;
        EXPECT_NEAR(static_cast<double>(sound->frames()), 0.2 * kOutputRate, 0.01 * kOutputRate) << f.format;
    }

    // An odd-sized data chunk without its pad byte, a chunk we do not know, and a RIFF size
    // that stops short of trailing junk: common, and harmless.
    Bytes noPad = wav(Fmt{.bits = 8}, Bytes{128, 160, 160});
    noPad.pop_back();
    const Bytes listed =
        riff({{"LIST", Bytes{'I', 'N', 'F', 'O'}}, {"fmt ", fmtBody(Fmt{})}, {"data", pcm16({8192, 8192})}});
    Bytes junk = wav(Fmt{}, pcm16({8192, 8192}));
    junk.insert(junk.end(), {'j', 'u', 'n', 'k', 1, 2, 3});
    const struct {
        const char* name;
        Bytes file;
        std::size_t frames;
    } quirks[] = {{"missing pad byte", noPad, 3}, {"LIST chunk first", listed, 2}, {"trailing junk", junk, 2}};
    for (const auto& c : quirks) {
        const auto sound = decodeEffect(c.file);
        ASSERT_TRUE(sound) << c.name;
        EXPECT_EQ(sound->frames(), c.frames) << c.name;
    }
}

TEST(EffectFile, FloatFilesAreTamed)
{
    const WritableFormat f{"float", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1, false};
    const Bytes file = writeTone(f, 440, 4.0, 0.05); // far past full scale
    const auto sound = decodeEffect(file);
    ASSERT_TRUE(sound);
    float peak = 0;
    for (float v : sound->samples)
        peak = std::max(peak, std::fabs(v));
    EXPECT_LE(peak, 1.0f);
}

TEST(EffectFile, RefusesWhatIsNotAPlayableFile)
{
    OddTempDir dir;
    const auto empty = dir.file("empty.dat");
    writeFile(empty, {});
    const auto fifo = dir.file("a fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto huge = dir.file("huge.dat");
    writeFile(huge, wav(Fmt{}, pcm16({1, 2})));
    std::filesystem::resize_file(huge, (64u << 20) + 1); // docs/SOUND.md: 64 MiB; sparse, no disk
    const auto garbage = dir.file("garbage.dat");
    writeFile(garbage, Bytes(5000, 0xA5));

    const struct {
        const char* name;
        std::string path;
    } cases[] = {
        {"empty path", ""},
        {"missing", dir.file("nothing here.dat").string()},
        {"missing folder", (dir.path() / "no dir" / "x.dat").string()},
        {"below a file", (garbage / "x.dat").string()},
        {"directory", dir.path().string()},
        {"fifo (must not hang)", fifo.string()},
        {"empty file", empty.string()},
        {"over the size cap", huge.string()},
        {"random bytes", garbage.string()},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(loadEffectFile(c.path)) << c.name;
    }

    const auto path = dir.file("\xC3\xBC'x sound.dat");
    writeFile(path, levelWav(100, 16384));
    const auto link = dir.file("link to it");
    std::filesystem::create_symlink(path, link);
    EXPECT_TRUE(loadEffectFile(link.string())) << "a path with odd characters, through a link";
    std::filesystem::resize_file(huge, 64u << 20);
    EXPECT_TRUE(loadEffectFile(huge.string())) << "64 MiB are read, and the junk after the sound ignored";
}

TEST(EffectFile, ResamplingKeepsExactLengthsAndRemovesWhatCannotBeRepresented)
{
    const struct {
        std::uint32_t rate;
        std::size_t frames;
        std::size_t expected;
    } lengths[] = {{48000, 7, 7},        {44100, 4410, 4800}, {22050, 1000, 2177}, {11025, 7, 30},
                   {96000, 12345, 6173}, {8000, 1000, 6000},  {192000, 7, 2},      {1000, 3, 144}};
    for (const auto& c : lengths) {
        SCOPED_TRACE(c.rate);
        const std::vector<float> in(c.frames * 2, 0.5f);
        const auto out = resampleStereo(in, c.rate);
        ASSERT_TRUE(out);
        EXPECT_EQ(out->size(), c.expected * 2);
    }

    // The filter's response at the source's Nyquist frequency, from the impulse response: an
    // image left there is what the old resampler let through at -15 dB.
    const auto nyquist = mixmeasure::converterGainDb(11025);
    ASSERT_TRUE(nyquist);
    EXPECT_LT(*nyquist, -90.0);
    EXPECT_NEAR(*mixmeasure::converterGainDb(9000), 0.0, 0.5) << "the passband stays flat";
}
