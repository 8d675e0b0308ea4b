// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <string>
#include <string_view>
#include <vector>

// Which of SDL's audio drivers the output tries, in which order, and with what block size.
// SDL 2.26 on its own tries PulseAudio before PipeWire, so on a PipeWire desktop the game would
// go through the PulseAudio layer, and it falls back to ALSA, which on a desktop whose server
// has just died would take the sound card away from the server when it comes back.
namespace sound {

struct DriverSituation {
    // The user has set SDL_AUDIODRIVER: SDL follows it, and we choose nothing.
    bool userChoice = false;
    // A PipeWire server accepts connections on its socket.
    bool pipewireRunning = false;
    // A sound server has served this process before, so a later failure means that server is
    // gone for a while, not that this machine has none.
    bool serverSeen = false;
};

// The drivers to try, best first. An empty name stands for SDL's own choice.
std::vector<std::string> driversToTry(const DriverSituation& situation);

bool isServerDriver(std::string_view driver);

// Frames per callback block for a driver, chosen so that its server does not run dry on a
// loaded two-core machine while a press still reaches the speakers quickly.
int framesPerBufferFor(std::string_view driver);

// How much the PulseAudio server is asked to buffer for our stream, in milliseconds, as
// libpulse reads it from PULSE_LATENCY_MSEC (SDL has no setting of its own for it). Set
// before SDL starts, unless the user has set it.
inline constexpr const char* kPulseBufferMs = "24";

// Frames of silence to play after the mix has faded out at the end of the program, before the
// device is closed. Both servers throw away what they still hold of a stream that closes, and
// that would be the fade itself, a click at the speakers: PulseAudio holds kPulseBufferMs (or
// the user's PULSE_LATENCY_MSEC), PipeWire's graph a block or two (one was enough at its sink
// here, two are kept). SDL's other drivers play out two blocks on their own before they close.
int silenceBeforeCloseFor(std::string_view driver, int framesPerBuffer);

// Whether a PipeWire server listens where libpipewire would look for it (PIPEWIRE_REMOTE,
// PIPEWIRE_RUNTIME_DIR, XDG_RUNTIME_DIR; "pipewire-0" by default). One non-blocking connect on
// a local socket: it never waits for the server to answer.
bool pipewireRunning();

// The same test for one socket path; a stale socket file with no server behind it is false.
bool socketAccepts(const std::string& path);

} // namespace sound
