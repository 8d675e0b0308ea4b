// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

namespace sound {

// The mixer's output format: interleaved stereo float at this rate.
inline constexpr int kOutputRate = 48000;
inline constexpr int kOutputChannels = 2;

// Something the mixer pulls samples from. render() runs on the audio thread and adds
// (never overwrites) `frames` stereo frames into `out`; it must not block for long.
class AudioSource {
public:
    virtual ~AudioSource() = default;
    virtual void render(float* out, int frames) = 0;
    // True while the source has something to say; the output may pause when no source is active.
    virtual bool active() const = 0;
};

} // namespace sound
