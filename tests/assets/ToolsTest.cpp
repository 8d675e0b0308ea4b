// The score reader: a bad score is refused with a reason, never half-used.

#include "Score.h"

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

} // namespace
