// The generators' readers and writers: a bad score or pixel map is refused
// with a reason, never half-used, and the PNG deflate round-trips.

#include "Png.h"
#include "Score.h"
#include "Xpm.h"

#include <QByteArray>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string kHead = "tempo 120\nmeter 4/4\nvoice v channel 1 program 0\n";

TEST(ScoreReader, RefusesBrokenScoresWithTheLine)
{
    const struct {
        std::string text;
        const char* why; // part of the message
    } cases[] = {
        {kHead + "block a\nv | C4/4 C4/4 C4/4 |\nend\nplay a\n", "line 5: bar 1 of v does not fill"},
        {kHead + "block a\nv | C4/3 C4/4 C4/4 C4/4 |\nend\nplay a\n", "length must be"},
        {kHead + "block a\nv | H4/1 |\nend\nplay a\n", "A to G"},
        {kHead + "block a\nv | C10/1 |\nend\nplay a\n", "octave"},
        {kHead + "block a\nv | C4/1\nend\nplay a\n", "between | marks"},
        {kHead + "block a\nw | C4/1 |\nend\nplay a\n", "expected a voice line"},
        {kHead + "block a\nv | C4/1 |\nend\nplay b\n", "unknown block"},
        {kHead + "block a\nv | C4/1 |\n", "not closed"},
        {kHead + "block a\nv | C4/1 |\nend\n", "nothing to play"},
        {"tempo fast\n", "tempo"},
        {"voice v program 3\n", "needs a channel"},
        {"voice v channel 17\n", "out of range"},
        {"voice v channel 1 volume\n", "without a value"},
        {"meter 4/3\n", "meter"},
        {"voice d channel 10\nblock a\nd | xx/1 |\nend\nplay a\n", "percussion"},
        {"", "nothing to play"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string error;
        EXPECT_FALSE(score::parse(c.text, &error).has_value());
        EXPECT_NE(error.find(c.why), std::string::npos) << error;
    }
}

TEST(ScoreReader, LaysBlocksEndToEndWithRestsForMissingVoices)
{
    const std::string text = "tempo 120\nmeter 4/4\n"
                             "voice a channel 1 program 0 velocity 80 gate 50\n"
                             "voice b channel 2 program 0 velocity 80\n"
                             "block one\na | C4/2 r/4 D#4/4! |\nend\n"
                             "block two\nb | Bb3/1 |\nend\n"
                             "play one two one\n";
    std::string error;
    const auto sc = score::parse(text, &error);
    ASSERT_TRUE(sc.has_value()) << error;
    EXPECT_EQ(sc->totalTicks, 3 * 1920);
    ASSERT_EQ(sc->notes.size(), 5u);
    // Voice a in bars one and three, voice b alone in bar two.
    EXPECT_EQ(sc->notes[0].key, 60);
    EXPECT_EQ(sc->notes[0].start, 0);
    EXPECT_EQ(sc->notes[0].length, 480); // half gate of a half note
    EXPECT_EQ(sc->notes[1].key, 63);
    EXPECT_EQ(sc->notes[1].start, 1440);
    EXPECT_EQ(sc->notes[1].velocity, 80 + 3 + 18); // on a beat, accented
    EXPECT_EQ(sc->notes[2].key, 58);
    EXPECT_EQ(sc->notes[2].start, 1920);
    EXPECT_EQ(sc->notes[2].length, 1920); // b's last note rings to its end
    EXPECT_EQ(sc->notes[4].start, 3840 + 1440);
    EXPECT_EQ(sc->notes[4].length, 480); // a's last note keeps its full length
}

TEST(XpmReader, RefusesBrokenPixelMaps)
{
    const char* cases[] = {
        "",
        "\"2 1 1\"",
        "\"2 1 1 1\",\". c None\",\"..\"", // fine, checked below
        "\"2 1 1 1\",\". c None\",\".\"", // short row
        "\"2 1 1 1\",\". c None\",\".x\"", // undefined colour
        "\"2 1 1 1\",\". c red\",\"..\"", // named colours are not ours
        "\"2 2 1 1\",\". c #000000\",\"..\"", // missing row
        "\"0 1 1 1\",\". c #000000\",\"\"", // no width
        "\"2 1 1 3\",\"... c #000000\",\"......\"", // three characters a pixel
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        std::string error;
        const auto img = xpm::parse(cases[i], &error);
        EXPECT_EQ(img.has_value(), i == 2) << cases[i] << ": " << error;
    }
}

TEST(XpmReader, ReadsColoursAndTransparency)
{
    const auto img = xpm::parse("/* XPM */ static char *x[] = {\n/* header */ \"3 1 3 1\",\n"
                                "\"a c #ff8000\", /* orange */\n\"b c #0F0\",\n\". c None\",\n\"ab.\"};");
    ASSERT_TRUE(img.has_value());
    EXPECT_EQ(img->at(0, 0), (xpm::Rgba{255, 128, 0, 255}));
    EXPECT_EQ(img->at(1, 0), (xpm::Rgba{0, 255, 0, 255}));
    EXPECT_EQ(img->at(2, 0).a, 0);
}

QByteArray inflate(const std::vector<std::uint8_t>& z, std::size_t size)
{
    // qUncompress wants the expected size in front of the zlib stream.
    QByteArray framed;
    framed.append(char(size >> 24)).append(char(size >> 16)).append(char(size >> 8)).append(char(size));
    framed.append(reinterpret_cast<const char*>(z.data()), qsizetype(z.size()));
    return qUncompress(framed);
}

TEST(PngDeflate, RoundTripsThroughZlib)
{
    std::vector<std::vector<std::uint8_t>> inputs;
    inputs.emplace_back(); // nothing at all
    inputs.emplace_back(std::vector<std::uint8_t>(100000, 7)); // runs far longer than a match
    std::vector<std::uint8_t> mixed;
    std::uint32_t x = 1;
    for (int i = 0; i < 70000; ++i) {
        x = x * 1103515245u + 12345u;
        // Noise with repeats near and beyond the 32 KiB window.
        mixed.push_back(i % 5000 < 2500 ? std::uint8_t(x >> 24) : mixed[std::size_t(i) - 2500]);
    }
    inputs.push_back(mixed);
    for (const auto& in : inputs) {
        const std::vector<std::uint8_t> z = png::zlibCompress(in);
        const QByteArray out = inflate(z, in.size());
        ASSERT_EQ(std::size_t(out.size()), in.size());
        EXPECT_TRUE(std::equal(in.begin(), in.end(), reinterpret_cast<const std::uint8_t*>(out.constData())));
    }
}

TEST(PngDeflate, CrcMatchesTheKnownValue)
{
    const std::string s = "123456789";
    EXPECT_EQ(png::crc32(reinterpret_cast<const std::uint8_t*>(s.data()), s.size()), 0xCBF43926u);
}

} // namespace
