#pragma once

// The text score of the background music, read into timed notes.
// The format is described at the top of tools/bgm.score.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace score {

inline constexpr int kTicksPerQuarter = 480;

struct Voice {
    std::string name;
    int channel = 0; // 0-based; 9 is the percussion channel
    int program = -1; // none for percussion
    int volume = 100, pan = 64, reverb = 40, velocity = 90, gate = 90;
};

struct Note {
    int voice = 0;
    int start = 0; // ticks
    int length = 0; // ticks the note sounds for, gate applied
    int key = 0;
    int velocity = 0;
};

struct Score {
    int tempo = 120; // quarter notes a minute
    int beats = 4, beatUnit = 4;
    std::vector<Voice> voices;
    std::vector<Note> notes; // in start order
    int totalTicks = 0;
};

// Nothing on failure; `error` then names the line and the problem.
std::optional<Score> parse(std::string_view text, std::string* error);

} // namespace score
