// SPDX-License-Identifier: GPL-3.0-or-later

#include "SdlLibrary.h"

#include "AudioDrivers.h"

#include <cstdlib>

namespace sound::sdl {

const Sdl* sdl()
{
    static const Sdl* const loaded = []() -> const Sdl* {
        static Sdl table;
        ombura::SharedLibrary library("libSDL2-2.0.so.0");
        if (!table.bind(library))
            return nullptr;
        // SDL2's hint table has no lock, so every hint is set here, once, before any thread of
        // ours can read one.
        // Without this SDL takes over SIGINT and SIGTERM, and Ctrl-C stops working on the game.
        table.SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        // How the desktop's sound settings show us. PipeWire takes the role from the hint, in
        // its own spelling; SDL's PulseAudio driver has no role, so libpulse is given it the
        // way it reads one from outside, in PulseAudio's spelling. This runs before the first
        // device opens, and a value the user has set wins.
        table.SDL_SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, "Ombura");
        table.SDL_SetHint(SDL_HINT_AUDIO_DEVICE_STREAM_NAME, "Ombura");
        table.SDL_SetHint(SDL_HINT_AUDIO_DEVICE_STREAM_ROLE, "Game");
        setenv("PULSE_PROP_media.role", "game", 0);
        setenv("PULSE_LATENCY_MSEC", kPulseBufferMs, 0);
        return &table;
    }();
    return loaded;
}

} // namespace sound::sdl
