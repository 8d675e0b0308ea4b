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
        // The image handed to SDL is rebuilt from chunks we have already measured, so a
        // complete-looking file that still falls short is an error, not a shorter sound.
        table.SDL_SetHint(SDL_HINT_WAVE_RIFF_CHUNK_SIZE, "force");
        table.SDL_SetHint(SDL_HINT_WAVE_TRUNCATION, "dropframe");
        // ADPCM writers pad the last block; the fact chunk says where the sound really ends.
        table.SDL_SetHint(SDL_HINT_WAVE_FACT_CHUNK, "ignorezero");
        return &table;
    }();
    return loaded;
}

} // namespace sound::sdl
