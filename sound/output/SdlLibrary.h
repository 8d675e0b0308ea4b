// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "SharedLibrary.h"

#include <SDL.h>

// SDL opened at run time: the table of every SDL function this program calls. Only the output
// (the device) includes this; everything else sees plain types.
namespace sound::sdl {

#define OMBURA_SDL_FUNCTIONS(X)                                                                                        \
    X(SDL_SetHint)                                                                                                     \
    X(SDL_AudioInit)                                                                                                   \
    X(SDL_AudioQuit)                                                                                                   \
    X(SDL_GetCurrentAudioDriver)                                                                                       \
    X(SDL_OpenAudioDevice)                                                                                             \
    X(SDL_PauseAudioDevice)                                                                                            \
    X(SDL_GetAudioDeviceStatus)                                                                                        \
    X(SDL_CloseAudioDevice)                                                                                            \
    X(SDL_TLSCleanup)

OMBURA_SYMBOL_TABLE(Sdl, OMBURA_SDL_FUNCTIONS)

// SDL and the libraries it links (X11, Wayland, sound servers) are not needed for the window,
// so the program does not link them: they are opened by the output's thread. Null when SDL is
// missing or lacks a function.
const Sdl* sdl();

} // namespace sound::sdl
