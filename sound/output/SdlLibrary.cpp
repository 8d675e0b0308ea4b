#include "SdlLibrary.h"

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
        table.SDL_SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, "Ombura");
        return &table;
    }();
    return loaded;
}

} // namespace sound::sdl
