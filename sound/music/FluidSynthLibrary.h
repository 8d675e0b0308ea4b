// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "FluidSynthQuirks.h"
#include "SharedLibrary.h"

#include <fluidsynth.h>

// FluidSynth opened at run time: the table of every FluidSynth function this program calls.
// Only the synthesiser's own files include this; nothing links FluidSynth.
namespace sound::fluid {

#define OMBURA_FLUID_FUNCTIONS(X)                                                                                      \
    X(fluid_version)                                                                                                   \
    X(new_fluid_settings)                                                                                              \
    X(delete_fluid_settings)                                                                                           \
    X(fluid_settings_setint)                                                                                           \
    X(fluid_settings_setnum)                                                                                           \
    X(fluid_set_log_function)                                                                                          \
    X(new_fluid_synth)                                                                                                 \
    X(delete_fluid_synth)                                                                                              \
    X(fluid_synth_sfload)                                                                                              \
    X(fluid_synth_get_sfont_by_id)                                                                                     \
    X(fluid_sfont_get_preset)                                                                                          \
    X(fluid_synth_set_bank_offset)                                                                                     \
    X(fluid_synth_get_channel_preset)                                                                                  \
    X(fluid_preset_get_banknum)                                                                                        \
    X(fluid_preset_get_num)                                                                                            \
    X(fluid_synth_pin_preset)                                                                                          \
    X(fluid_synth_unpin_preset)                                                                                        \
    X(fluid_synth_noteoff)                                                                                             \
    X(fluid_synth_noteon)                                                                                              \
    X(fluid_synth_key_pressure)                                                                                        \
    X(fluid_synth_cc)                                                                                                  \
    X(fluid_synth_program_change)                                                                                      \
    X(fluid_synth_program_select)                                                                                      \
    X(fluid_synth_channel_pressure)                                                                                    \
    X(fluid_synth_pitch_bend)                                                                                          \
    X(fluid_synth_sysex)                                                                                               \
    X(fluid_synth_system_reset)                                                                                        \
    X(fluid_synth_all_sounds_off)                                                                                      \
    X(fluid_synth_all_notes_off)                                                                                       \
    X(fluid_synth_get_active_voice_count)                                                                              \
    X(fluid_synth_get_internal_bufsize)                                                                                \
    X(fluid_synth_write_float)

OMBURA_SYMBOL_TABLE(Fluid, OMBURA_FLUID_FUNCTIONS)

// Opening FluidSynth drags in a long chain of its own dependencies (sound servers, sample file
// readers) and runs their constructors: about half of what a bare Qt window costs to start.
// The first caller is the SoundFont loader thread, so the window never pays for it. Null when
// the library is missing or lacks a function; the game is then silent.
const Fluid* library();

// What this FluidSynth needs worked around. Valid once library() is not null.
const FluidSynthQuirks& quirks();

// How many errors FluidSynth has logged so far, by any synthesiser: its log names none.
unsigned errorsLogged();

} // namespace sound::fluid
