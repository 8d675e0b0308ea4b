#include "Resampler.h"
#include "WavBytes.h"
#include "WavCache.h"
#include "WavDecoder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <numbers>

using namespace sound;
using namespace wavtest;

namespace {

// The G.711 expansions, written out from the standard's description.
int muLawToLinear(std::uint8_t u)
{
    u = static_cast<std::uint8_t>(~u);
    int t = ((u & 0x0F) << 3) + 0x84;
    t <<= (u & 0x70) >> 4;
    return (u & 0x80) ? (0x84 - t) : (t - 0x84);
}

int aLawToLinear(std::uint8_t a)
{
    a ^= 0x55;
    int t = (a & 0x0F) << 4;
    const int segment = (a & 0x70) >> 4;
    if (segment == 0)
        t += 8;
    else
        t = (t + 0x108) << (segment - 1);
    return (a & 0x80) ? t : -t;
}

Bytes bytesOf(std::initializer_list<int> values)
{
    Bytes b;
    for (int v : values)
        b.push_back(static_cast<std::uint8_t>(v));
    return b;
}

Bytes floats(std::initializer_list<float> values)
{
    Bytes b;
    for (float v : values) {
        std::uint32_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        put32(b, bits);
    }
    return b;
}

// One IMA ADPCM block per channel-interleaved header plus all-zero nibbles: every sample keeps
// the header's predictor, because the smallest step rounds to no change.
Bytes imaAdpcmWav(std::int16_t predictor, std::uint16_t blockAlign, int blocks)
{
    Fmt f{.tag = 0x11, .channels = 1, .rate = 48000, .bits = 4, .blockAlign = blockAlign, .byteRate = 24000};
    const std::uint16_t samplesPerBlock = static_cast<std::uint16_t>(1 + (blockAlign - 4) * 2);
    put16(f.extra, 2);
    put16(f.extra, samplesPerBlock);
    Bytes data;
    for (int b = 0; b < blocks; ++b) {
        put16(data, static_cast<std::uint16_t>(predictor));
        data.push_back(0); // step index
        data.push_back(0);
        data.resize(data.size() + blockAlign - 4, 0);
    }
    Bytes fact;
    put32(fact, static_cast<std::uint32_t>(samplesPerBlock * blocks));
    return riff({{"fmt ", fmtBody(f)}, {"fact", fact}, {"data", data}});
}

// One MS ADPCM block with the first coefficient pair (256, 0) and zero nibbles: every sample
// repeats the header's first sample.
Bytes msAdpcmWav(std::int16_t level, std::uint16_t blockAlign)
{
    Fmt f{.tag = 2, .channels = 1, .rate = 48000, .bits = 4, .blockAlign = blockAlign, .byteRate = 24000};
    const std::uint16_t samplesPerBlock = static_cast<std::uint16_t>(2 + (blockAlign - 7) * 2);
    put16(f.extra, 32);
    put16(f.extra, samplesPerBlock);
    put16(f.extra, 7);
    const int coefficients[7][2] = {{256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232}};
    for (const auto& c : coefficients) {
        put16(f.extra, static_cast<std::uint16_t>(c[0]));
        put16(f.extra, static_cast<std::uint16_t>(c[1]));
    }
    Bytes data;
    data.push_back(0); // coefficient pair
    put16(data, 16); // delta
    put16(data, static_cast<std::uint16_t>(level)); // sample 1
    put16(data, static_cast<std::uint16_t>(level)); // sample 2
    data.resize(blockAlign, 0);
    Bytes fact;
    put32(fact, samplesPerBlock);
    return riff({{"fmt ", fmtBody(f)}, {"fact", fact}, {"data", data}});
}

Bytes extensiblePcm16Stereo(const Bytes& data)
{
    Fmt f{.tag = 0xFFFE, .channels = 2, .rate = 48000, .bits = 16};
    put16(f.extra, 22);
    put16(f.extra, 16); // valid bits
    put32(f.extra, 0x3); // front left, front right
    put16(f.extra, 0x0001); // subformat PCM...
    for (int v : {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71})
        f.extra.push_back(static_cast<std::uint8_t>(v));
    return wav(f, data);
}

struct FormatCase {
    const char* name;
    Bytes file;
    std::size_t frames;
    // Expected output (left, right) of the first frames.
    std::vector<std::pair<float, float>> first;
};

std::vector<FormatCase> formatCases()
{
    const float mu = static_cast<float>(muLawToLinear(0x80)) / 32768.0f;
    const float muNeg = static_cast<float>(muLawToLinear(0x1F)) / 32768.0f;
    const float al = static_cast<float>(aLawToLinear(0xAA)) / 32768.0f;
    const float alNeg = static_cast<float>(aLawToLinear(0x2A)) / 32768.0f;
    return {
        {"pcm8 mono",
         wav(Fmt{.bits = 8}, bytesOf({128, 255, 0, 192})),
         4,
         {{0.f, 0.f}, {127 / 128.f, 127 / 128.f}, {-1.f, -1.f}, {.5f, .5f}}},
        {"pcm16 stereo",
         wav(Fmt{.channels = 2}, pcm16({0, 16384, -32768, 32767})),
         2,
         {{0.f, .5f}, {-1.f, 32767 / 32768.f}}},
        {"pcm24 mono",
         wav(Fmt{.bits = 24}, bytesOf({0x00, 0x00, 0x40, 0x00, 0x00, 0xC0})),
         2,
         {{.5f, .5f}, {-.5f, -.5f}}},
        {"pcm32 mono", wav(Fmt{.bits = 32}, bytesOf({0, 0, 0, 0x40, 0, 0, 0, 0xE0})), 2, {{.5f, .5f}, {-.25f, -.25f}}},
        {"float32 stereo, NaN and overrange tamed",
         wav(Fmt{.tag = 3, .channels = 2, .bits = 32}, floats({.25f, -.75f, NAN, 2.f})),
         2,
         {{.25f, -.75f}, {0.f, 1.f}}},
        {"mu-law mono",
         wav(Fmt{.tag = 7, .bits = 8}, bytesOf({0xFF, 0x80, 0x1F})),
         3,
         {{0.f, 0.f}, {mu, mu}, {muNeg, muNeg}}},
        {"a-law mono", wav(Fmt{.tag = 6, .bits = 8}, bytesOf({0xAA, 0x2A})), 2, {{al, al}, {alNeg, alNeg}}},
        {"extensible pcm16 stereo", extensiblePcm16Stereo(pcm16({8192, -8192})), 1, {{.25f, -.25f}}},
        {"four channels fold to two", wav(Fmt{.channels = 4}, pcm16({8192, 0, 0, 16384})), 1, {{.125f, .25f}}},
        {"ima adpcm mono",
         imaAdpcmWav(1000, 256, 2),
         2 * 505,
         {{1000 / 32768.f, 1000 / 32768.f}, {1000 / 32768.f, 1000 / 32768.f}}},
        {"ms adpcm mono",
         msAdpcmWav(2000, 256),
         500,
         {{2000 / 32768.f, 2000 / 32768.f}, {2000 / 32768.f, 2000 / 32768.f}}},
    };
}

} // namespace

TEST(WavDecoder, DecodesEveryEncodingToStereoFloat)
{
    for (const auto& c : formatCases()) {
        SCOPED_TRACE(c.name);
        const auto result = decodeWav(c.file);
        ASSERT_TRUE(result.sound.has_value()) << static_cast<int>(result.error);
        const auto& s = result.sound->samples;
        ASSERT_EQ(result.sound->frames(), c.frames);
        for (std::size_t i = 0; i < c.first.size(); ++i) {
            EXPECT_NEAR(s[i * 2], c.first[i].first, 1e-6) << "frame " << i;
            EXPECT_NEAR(s[i * 2 + 1], c.first[i].second, 1e-6) << "frame " << i;
        }
        if (std::string(c.name).find("adpcm") != std::string::npos) {
            // Every sample of these blocks holds the same level, the last one included.
            EXPECT_NEAR(s.back(), c.first[0].first, 1e-6);
        }
    }
}

TEST(WavDecoder, ConvertsRatesToExactLengthWithoutLosingTheTail)
{
    for (std::uint32_t rate : {8000u, 11025u, 22050u, 44100u, 96000u}) {
        for (std::size_t n : {1u, 2u, 3u, 101u, 9600u, 12345u, 22050u}) {
            std::vector<std::int16_t> samples(n);
            for (std::size_t i = 0; i < n; ++i)
                samples[i] = static_cast<std::int16_t>(
                    16000 * std::sin(2 * std::numbers::pi * 440.0 * static_cast<double>(i) / rate));
            const auto result = decodeWav(wav(Fmt{.rate = rate}, pcm16(samples)));
            ASSERT_TRUE(result.sound) << rate << " " << n;
            const auto expected = static_cast<std::size_t>(std::llround(static_cast<double>(n) * 48000.0 / rate));
            EXPECT_EQ(result.sound->frames(), expected) << rate << " Hz, " << n << " frames";
        }
    }
}

TEST(WavDecoder, ResampledToneKeepsItsShapeToTheEnd)
{
    // 22050 Hz (upsampled) and 96000 Hz (downsampled): a 1 kHz tone must come out as the same
    // tone at 48000 Hz, right up to its last 10 ms.
    for (std::uint32_t rate : {22050u, 96000u}) {
        SCOPED_TRACE(rate);
        const std::size_t n = rate / 2;
        std::vector<std::int16_t> samples(n);
        for (std::size_t i = 0; i < n; ++i)
            samples[i] = static_cast<std::int16_t>(
                std::lround(16384 * std::sin(2 * std::numbers::pi * 1000.0 * static_cast<double>(i) / rate)));
        const auto result = decodeWav(wav(Fmt{.rate = rate}, pcm16(samples)));
        ASSERT_TRUE(result.sound);
        const auto& s = result.sound->samples;
        const std::size_t frames = result.sound->frames();
        double worst = 0;
        for (std::size_t k = 200; k + 200 < frames; ++k)
            worst = std::max(worst, std::abs(s[k * 2] - 0.5 * std::sin(2 * std::numbers::pi * 1000.0 *
                                                                       static_cast<double>(k) / 48000.0)));
        EXPECT_LT(worst, 0.005);
        double tail = 0;
        for (std::size_t k = frames - 480; k + 40 < frames; ++k)
            tail += s[k * 2] * s[k * 2];
        EXPECT_NEAR(std::sqrt(tail / 440), 0.5 / std::sqrt(2.0), 0.02);
    }
}

TEST(WavDecoder, DownsamplingRemovesWhatCannotBeRepresented)
{
    // 30 kHz is above the output's Nyquist frequency: folded back it would be a loud 18 kHz.
    std::vector<std::int16_t> samples(48000);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::int16_t>(
            std::lround(16384 * std::sin(2 * std::numbers::pi * 30000.0 * static_cast<double>(i) / 96000)));
    const auto result = decodeWav(wav(Fmt{.rate = 96000}, pcm16(samples)));
    ASSERT_TRUE(result.sound);
    double energy = 0;
    const auto& s = result.sound->samples;
    for (std::size_t k = 1000; k < result.sound->frames() - 1000; ++k)
        energy += s[k * 2] * s[k * 2];
    EXPECT_LT(std::sqrt(energy / static_cast<double>(result.sound->frames() - 2000)), 0.003);
}

TEST(WavDecoder, RefusesBrokenFilesWithTheirReason)
{
    const Bytes good = wav(Fmt{}, pcm16({1, 2, 3, 4}));
    auto withByte = [&](std::size_t at, std::uint8_t v) {
        Bytes b = good;
        b[at] = v;
        return b;
    };
    Bytes riffOnly = bytesOf({'R', 'I', 'F', 'F'});
    Bytes cut = good;
    cut.resize(cut.size() - 3);

    const struct {
        const char* name;
        Bytes file;
        WavError error;
    } cases[] = {
        {"empty", {}, WavError::Empty},
        {"four bytes", riffOnly, WavError::NotWav},
        {"text", bytesOf({'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!', '!'}), WavError::NotWav},
        {"big-endian RIFX", withByte(3, 'X'), WavError::NotWav},
        {"AVI, not WAVE", withByte(8, 'A'), WavError::NotWav},
        {"file cut inside data", cut, WavError::Truncated},
        {"RIFF size larger than the file", riff({{"fmt ", fmtBody(Fmt{})}, {"data", pcm16({1, 2})}}, 1000),
         WavError::Truncated},
        {"data size larger than the file", riff({{"fmt ", fmtBody(Fmt{})}, {"data", pcm16({1, 2}), 4000}}),
         WavError::Truncated},
        {"RIFF size too small", riff({{"fmt ", fmtBody(Fmt{})}}, 2), WavError::BadHeader},
        {"no fmt chunk", riff({{"data", pcm16({1, 2})}}), WavError::BadHeader},
        {"no data chunk", riff({{"fmt ", fmtBody(Fmt{})}}), WavError::BadHeader},
        {"fmt chunk too short", riff({{"fmt ", bytesOf({1, 0, 1, 0})}, {"data", pcm16({1})}}), WavError::BadHeader},
        {"no channels", wav(Fmt{.channels = 0, .blockAlign = 2}, pcm16({1})), WavError::BadHeader},
        {"rate zero", wav(Fmt{.rate = 0}, pcm16({1})), WavError::BadHeader},
        {"rate 100 Hz", wav(Fmt{.rate = 100}, pcm16({1})), WavError::Unsupported},
        {"nine channels", wav(Fmt{.channels = 9}, pcm16(std::vector<std::int16_t>(9))), WavError::Unsupported},
        {"12-bit PCM", wav(Fmt{.bits = 12, .blockAlign = 2}, pcm16({1})), WavError::Unsupported},
        {"64-bit float", wav(Fmt{.tag = 3, .bits = 64}, Bytes(16)), WavError::Unsupported},
        {"MP3 inside", wav(Fmt{.tag = 0x55}, Bytes(16)), WavError::Unsupported},
        {"block align lies", wav(Fmt{.channels = 2, .blockAlign = 2}, pcm16({1, 2})), WavError::BadHeader},
        {"byte rate lies", wav(Fmt{.byteRate = 1234}, pcm16({1, 2})), WavError::BadHeader},
        {"a-law of 16 bits", wav(Fmt{.tag = 6, .bits = 16}, pcm16({1})), WavError::BadHeader},
        {"empty data", wav(Fmt{}, {}), WavError::Empty},
        {"less than one frame", wav(Fmt{.channels = 2}, bytesOf({1, 2, 3})), WavError::Empty},
        {"ADPCM block smaller than its header",
         wav(Fmt{.tag = 0x11, .bits = 4, .blockAlign = 2, .extra = bytesOf({2, 0, 1, 0})}, Bytes(8)),
         WavError::BadHeader},
        {"too long once converted", wav(Fmt{.rate = 1000, .bits = 8}, Bytes(200000, 128)), WavError::TooLong},
    };
    for (const auto& c : cases) {
        const auto result = decodeWav(c.file);
        EXPECT_FALSE(result.sound.has_value()) << c.name;
        EXPECT_EQ(result.error, c.error) << c.name;
    }
}

TEST(WavDecoder, ToleratesTheCommonHarmlessQuirks)
{
    // An odd-sized data chunk without its pad byte, a partial trailing frame, a chunk we do
    // not know, and a RIFF size that stops short of trailing junk.
    Bytes noPad = wav(Fmt{.bits = 8}, bytesOf({128, 129, 130}));
    noPad.pop_back();
    Bytes partial = wav(Fmt{}, bytesOf({0, 0, 0, 64, 7}));
    Bytes listed = riff({{"LIST", bytesOf({'I', 'N', 'F', 'O'})}, {"fmt ", fmtBody(Fmt{})}, {"data", pcm16({1, 2})}});
    Bytes junk = wav(Fmt{}, pcm16({1, 2}));
    junk.insert(junk.end(), {'j', 'u', 'n', 'k', 1, 2, 3});
    const struct {
        const char* name;
        Bytes file;
        std::size_t frames;
    } cases[] = {{"missing pad byte", noPad, 3},
                 {"partial frame", partial, 2},
                 {"LIST chunk first", listed, 2},
                 {"trailing junk", junk, 2}};
    for (const auto& c : cases) {
        const auto result = decodeWav(c.file);
        ASSERT_TRUE(result.sound.has_value()) << c.name;
        EXPECT_EQ(result.sound->frames(), c.frames) << c.name;
    }
}

TEST(WavFile, LoadsFromPathsWithBlanksAndOddCharacters)
{
    OddTempDir dir;
    const auto path = dir.file("\xC3\xBC'x sound.dat");
    writeFile(path, levelWav(100, 16384));
    const auto result = loadWavFile(path.string());
    ASSERT_TRUE(result.sound);
    EXPECT_EQ(result.sound->frames(), 100u);

    const auto link = dir.file("link to it");
    std::filesystem::create_symlink(path, link);
    EXPECT_TRUE(loadWavFile(link.string()).sound);
}

TEST(WavFile, RefusesWhatIsNotAPlayableFile)
{
    OddTempDir dir;
    const auto empty = dir.file("empty.dat");
    writeFile(empty, {});
    const auto fifo = dir.file("a fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto huge = dir.file("huge.dat");
    writeFile(huge, wav(Fmt{}, pcm16({1, 2})));
    std::filesystem::resize_file(huge, kMaxWavFileBytes + 1); // sparse: costs no disk
    const auto garbage = dir.file("garbage.dat");
    writeFile(garbage, Bytes(5000, 0xA5));

    const struct {
        const char* name;
        std::string path;
        WavError error;
    } cases[] = {
        {"empty path", "", WavError::NotFound},
        {"missing", dir.file("nothing here.dat").string(), WavError::NotFound},
        {"missing folder", (dir.path() / "no dir" / "x.dat").string(), WavError::NotFound},
        {"below a file", (garbage / "x.dat").string(), WavError::NotFound},
        {"directory", dir.path().string(), WavError::NotAFile},
        {"fifo (must not hang)", fifo.string(), WavError::NotAFile},
        {"empty file", empty.string(), WavError::Empty},
        {"over the size cap", huge.string(), WavError::TooLarge},
        {"random bytes", garbage.string(), WavError::NotWav},
    };
    for (const auto& c : cases) {
        const auto result = loadWavFile(c.path);
        EXPECT_FALSE(result.sound) << c.name;
        EXPECT_EQ(result.error, c.error) << c.name;
    }
}

TEST(WavFile, UnreadableFileIsRefused)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every file";
    OddTempDir dir;
    const auto path = dir.file("locked.dat");
    writeFile(path, levelWav(10, 100));
    std::filesystem::permissions(path, std::filesystem::perms::none);
    EXPECT_EQ(loadWavFile(path.string()).error, WavError::Unreadable);
}

TEST(WavCache, DecodesOnceAndAgainWhenTheFileChanges)
{
    OddTempDir dir;
    const auto path = dir.file("spin.dat").string();
    const auto broken = dir.file("broken.dat").string();
    writeFile(path, levelWav(100, 1000));
    writeFile(broken, Bytes(64, 7));

    WavCache cache;
    const auto first = cache.load(path);
    ASSERT_TRUE(first);
    EXPECT_EQ(cache.load(path), first);
    EXPECT_EQ(cache.decodes(), 1u);

    writeFile(path, levelWav(200, 1000));
    const auto changed = cache.load(path);
    ASSERT_TRUE(changed);
    EXPECT_EQ(changed->frames(), 200u);
    EXPECT_EQ(cache.decodes(), 2u);

    EXPECT_FALSE(cache.load(broken));
    EXPECT_FALSE(cache.load(broken));
    EXPECT_EQ(cache.decodes(), 3u) << "a broken file is remembered, not re-read on every press";

    std::filesystem::remove(path);
    EXPECT_FALSE(cache.load(path)) << "a deleted file no longer plays from the cache";
}

TEST(WavCache, KeepsOnlyItsCapacity)
{
    OddTempDir dir;
    WavCache cache(2);
    std::vector<std::string> paths;
    for (int i = 0; i < 3; ++i) {
        paths.push_back(dir.file(std::to_string(i) + ".wav").string());
        writeFile(paths.back(), levelWav(10 + i, 1000));
        ASSERT_TRUE(cache.load(paths.back()));
    }
    EXPECT_TRUE(cache.load(paths[2]));
    EXPECT_EQ(cache.decodes(), 3u);
    EXPECT_TRUE(cache.load(paths[0]));
    EXPECT_EQ(cache.decodes(), 4u) << "the least recently used entry was evicted";
}

TEST(WavFile, DecodesWhatAnotherToolWrote)
{
    // The fuzzer's seeds were written by sox, not by us: each encoding as a common tool lays
    // it out (extensible headers, fact chunks, padded ADPCM blocks).
    const struct {
        const char* name;
        double seconds;
    } cases[] = {{"pcm8.wav", 0.005},    {"pcm16-stereo.wav", 0.004}, {"pcm24.wav", 0.002},
                 {"float32.wav", 0.002}, {"alaw.wav", 0.01},          {"mulaw.wav", 0.01},
                 {"ima.wav", 0.05},      {"msadpcm.wav", 0.05},       {"quad.wav", 0.001}};
    for (const auto& c : cases) {
        const auto result = loadWavFile(std::string(OMBURA_WAV_CORPUS) + "/" + c.name);
        ASSERT_TRUE(result.sound) << c.name << " error " << static_cast<int>(result.error);
        const double seconds = static_cast<double>(result.sound->frames()) / 48000.0;
        EXPECT_NEAR(seconds, c.seconds, 0.001) << c.name << ": ADPCM block padding counts as sound";
        float peak = 0;
        for (float v : result.sound->samples)
            peak = std::max(peak, std::abs(v));
        EXPECT_GT(peak, 0.1f) << c.name << " decoded to near silence";
    }
}
