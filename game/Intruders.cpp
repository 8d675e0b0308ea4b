// SPDX-License-Identifier: GPL-3.0-or-later

#include "Form1.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <random>

namespace game {

namespace {

struct IntruderRange {
    std::int16_t low;
    std::int16_t high; // inclusive
    std::string_view picture;
};

// Per level, the rolls that bring each intruder; rolls outside every range bring none. At the
// third level the ranges touch, and the first range that holds a shared bound takes it.
// clang-format off
constexpr std::array<std::array<IntruderRange, 4>, 3> kIntruderRanges{{
    {{{1, 10, "Image2"}, {20, 30, "Image12"}, {40, 50, "Image13"}, {60, 70, "Image14"}}},
    {{{1, 15, "Image2"}, {20, 35, "Image12"}, {40, 55, "Image13"}, {60, 75, "Image14"}}},
    {{{1, 20, "Image2"}, {20, 40, "Image12"}, {40, 60, "Image13"}, {60, 80, "Image14"}}},
}};
// clang-format on

constexpr std::array<std::string_view, 4> kIntruders{"Image2", "Image12", "Image13", "Image14"};

} // namespace

TimeOfDay systemTimeOfDay()
{
    return [] {
        using namespace std::chrono;
        const auto ns = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
        return static_cast<std::uint64_t>(ns % (86'400LL * 1'000'000'000LL));
    };
}

std::int16_t rollFromTimeOfDay(std::uint64_t timeOfDay)
{
    // A fresh generator every time, so the roll depends on this reading alone. The reading is
    // spread over the whole seed first: nearby readings must not give related sequences.
    std::uint64_t z = timeOfDay + 0x9E3779B97F4A7C15ULL;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    z ^= z >> 31;
    std::mt19937_64 generator(z);
    const double r = static_cast<double>(generator() >> 11) * 0x1.0p-53; // uniform in [0, 1)
    return static_cast<std::int16_t>(static_cast<int>(100.0 * r) + 1);
}

void Form1::Timer2_Timer()
{
    HideIntruders();
    state_.intruderCode = 0;
    state_.intruderRoll = rollFromTimeOfDay(timeOfDay_());
    el("Label1").setCaption(std::to_string(state_.intruderRoll));
    ShowIntruder();
}

void Form1::HideIntruders()
{
    for (std::string_view name : kIntruders)
        el(name).setVisible(false);
}

void Form1::ShowIntruder()
{
    const std::size_t row = static_cast<std::size_t>(std::clamp<int>(state_.level, 1, 3) - 1);
    state_.intruderCode = 0;
    for (const IntruderRange& range : kIntruderRanges[row]) {
        if (state_.intruderRoll >= range.low && state_.intruderRoll <= range.high) {
            el(range.picture).setVisible(true);
            state_.intruderCode = 1;
            break;
        }
    }
    el("Label2").setCaption(std::to_string(*state_.intruderCode));
}

void Form1::CatchByIntruder()
{
    timer("Timer4").setEnabled(true);
    el("Image15").setVisible(true);
    sound_.PlayEffect(state_.slashSoundPath, 0);
}

void Form1::Timer4_Timer()
{
    addChecked(state_.flashTicks, 1);
    if (state_.flashTicks == 3) {
        state_.flashTicks = 0;
        el("Image15").setVisible(false);
        timer("Timer4").setEnabled(false);
    }
}

} // namespace game
