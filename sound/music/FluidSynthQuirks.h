// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

namespace sound {

// What the synthesiser relies on in FluidSynth beyond its documented interface, found in its
// source and by experiment on 2.3.1 (Debian 12) and checked again on 2.4.4 (Debian 13), where
// the music tests pass as well. Each says what the code does about it and when that can go.
// Two more are worked around outside the code: more than 16 MIDI channels reach a heap
// overflow before 2.5 (the synthesiser has 16, as General MIDI does), and 2.3 allocates 2^64 - 2
// bytes for an SF3 sample whose length libsndfile cannot tell (tools/sanitize.sh; 2.4 reads it
// as empty).
struct FluidSynthQuirks {
    // fluid_synth_write_float() renders whole blocks of fluid_synth_get_internal_bufsize() frames
    // and hands them out piecemeal: up to a block of sound from before a call that silences is
    // still handed out after it, so the engine renders it and throws it away. Can go if
    // FluidSynth ever drops what it holds on such a call.
    bool holdsRenderedBlocks = true;
    // Deleting synthesisers that load samples on demand, one after another, has crashed
    // (upstream #1043): they are lent out again instead. Can go once no supported version does.
    bool crashesDeletingSynths = true;
    // With reverb and chorus off, every voice is still mixed into their send buffers by
    // controllers 91 and 93, about 7 % of the work on a tune: the engine leaves those
    // controllers out. Can go when FluidSynth skips the sends of an effect that is off.
    bool mixesIntoEffectsOff = true;
    // A channel made to choose an instrument whose samples cannot be read (the file gone or
    // changed since the font was loaded) keeps it, and rendering it crashes; the failure shows
    // only as an error in FluidSynth's log. The engine counts the errors logged while it prepares
    // a tune, plays nothing after any, and never asks for a preset the font lacks (an error too).
    // Can go when FluidSynth refuses such a choice.
    bool crashesOnUnreadSamples = true;
    // FluidSynth's GS reset, addressed to every device, resets every channel and the bank-select
    // rules a GM or XG reset changed. Unchecked before 2.3, where the engine falls back on
    // fluid_synth_system_reset(), which leaves those rules as they were.
    bool gsResetRestoresBankRules = true;
};

// The quirks of the FluidSynth that fluid_version() names. A later version is taken to have
// those of the latest checked.
constexpr FluidSynthQuirks fluidSynthQuirks(int major, int minor)
{
    FluidSynthQuirks quirks;
    quirks.gsResetRestoresBankRules = major > 2 || (major == 2 && minor >= 3);
    return quirks;
}

} // namespace sound
