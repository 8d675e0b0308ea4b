// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Running one audio device through SDL, behind plain types.
namespace sound::sdl {

// Sets SDL's hints and quiets ALSA, once per process; initAudio() does it too. Keep it off the
// UI thread: it opens libasound.
void setUp();

// Pulls `frames` interleaved stereo float frames at 48000 Hz into `out` (overwriting them).
using PullFunction = void (*)(void* user, float* out, int frames);

// What an open device's callback calls. The caller keeps it, unchanged, until the device is
// closed: SDL's audio thread reads it at every block, and it must never be a global that the
// end of the program could free under that thread.
struct Pull {
    PullFunction function = nullptr;
    void* user = nullptr;
};

// One opened output device. The functions below may block for a while (driver start-up,
// joining SDL's audio thread), so the output calls them from its own helper thread only.
struct OpenedDevice {
    std::uint32_t id = 0;
    int framesPerBuffer = 0;
};

// Starts SDL's audio with the named driver, or with SDL's own choice (which follows
// SDL_AUDIODRIVER) for null. Only one driver is up at a time; quitAudio() ends it.
bool initAudio(const char* driver);
void quitAudio();
// The driver that initAudio() started.
std::string currentDriver();
std::optional<OpenedDevice> openDevice(int framesPerBuffer, const Pull& pull);
void pauseDevice(std::uint32_t id, bool paused);
// True once the device has gone away under us (unplugged, server gone): it pulls no more.
bool deviceLost(std::uint32_t id);
void closeDevice(std::uint32_t id);
// A thread of ours that called SDL is about to end: SDL keeps its last error message for it,
// and only frees that for threads it started itself.
void releaseThread();

} // namespace sound::sdl
