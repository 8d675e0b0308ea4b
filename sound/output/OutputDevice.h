// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <optional>
#include <string>

namespace sound {

// The device the output (SdlOutput) runs, seen from the output's own thread: every call may
// block for a while. SdlDevice is the real one; the tests hand in a device they pull by hand.
class OutputDevice {
public:
    // Pulls `frames` interleaved stereo float frames at kOutputRate into `out` (overwriting them).
    using Pull = void (*)(void* user, float* out, int frames);

    struct Opened {
        int framesPerBuffer = 0;
        std::string driver;
    };

    enum class Close {
        KeepDriver, // a quiet close: the next open may use the same driver again
        WithDriver, // the device went away under us, and its driver's connection with it
    };

    virtual ~OutputDevice() = default;

    // Opens the library ahead of the first sound.
    virtual void preload() = 0;
    // Opens a device that calls `pull` from a thread of its own, and starts it.
    virtual std::optional<Opened> open(Pull pull, void* user) = 0;
    virtual void pause(bool paused) = 0;
    // True once the open device has gone away (unplugged, server gone): it pulls no more.
    virtual bool lost() = 0;
    virtual void close(Close how) = 0;
    // The output's thread is about to end.
    virtual void threadEnding() { }
};

} // namespace sound
