// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// Offline measurements of what the player hears, shared by the tests and the benchmarks:
// renders through the real engine (music channel, effect player, mixer with its gains and
// limiter) and measures with libebur128, the EBU R128 reference meter, not a meter of our own.

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace mixmeasure {

struct Loudness {
    double integratedLufs = -HUGE_VAL;
    double truePeakDbtp = -HUGE_VAL;
    double samplePeakDbfs = -HUGE_VAL;
};

// Interleaved stereo float at the output rate.
Loudness measure(const std::vector<float>& stereo);

// The loudness of a short sound while it sounds, in LUFS: the K-weighted mean power (ITU-R
// BS.1770, libebur128's window) over the whole sound, from its first sample that is not
// silent to its last. Integrated loudness needs 400 ms blocks, which a slash of 0.35 s does
// not fill and a beep of 0.4 s fills once; this measures every effect the same way.
double soundingLoudness(const std::vector<float>& stereo);

// The tune at `midiPath` played once from its start through the engine, with `soundFont`
// (or the system's default when empty), `seconds` long. Nothing when there is no SoundFont or
// no FluidSynth.
std::optional<std::vector<float>> renderTune(const std::string& midiPath, const std::string& soundFont, double seconds);

// The effect at `path` as the game requests it, through the same engine, to its end.
std::vector<float> renderEffect(const std::string& path);

// The tune with the effect requested every `everySeconds` on top, as a pressing player hears it.
std::optional<std::vector<float>> renderGame(const std::string& midiPath, const std::string& effectPath,
                                             const std::string& soundFont, double seconds, double everySeconds);

double dbfs(double amplitude);

// The effect converter's gain at `hz` relative to its gain at 0 Hz, in dB, taken from its
// impulse response when it turns 22050 Hz into the output rate. Nothing when no converter loads.
std::optional<double> converterGainDb(double hz);

} // namespace mixmeasure
