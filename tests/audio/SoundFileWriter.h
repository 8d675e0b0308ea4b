// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// Writes sound files with libsndfile itself, in every format it can write, for the tests that
// check every format plays: the files are made by the library, not by hand.

#include <cstdint>
#include <string>
#include <vector>

namespace wavtest {

struct WritableFormat {
    std::string name; // "WAV (Microsoft) / IMA ADPCM"
    int format = 0; // SF_FORMAT_... major | subtype
    int rate = 0;
    int channels = 0;
    bool lossy = false; // a perceptual codec or a few-bit ADPCM: the level is only roughly kept
};

// Every major format and subtype pair libsndfile says it can write, with a rate and channel
// count it accepts for the pair.
std::vector<WritableFormat> writableFormats();

// A sine of `hz` at `amplitude` lasting `seconds`, in `format`; empty if libsndfile would not
// write it after all.
std::vector<std::uint8_t> writeTone(const WritableFormat& format, double hz, double amplitude, double seconds);

} // namespace wavtest
