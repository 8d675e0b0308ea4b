// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "SynthEngine.h"

#include <memory>
#include <string>

namespace sound {

// A FluidSynth synthesiser with `soundFontPath` loaded, or null when the font cannot be
// loaded. Synthesisers are made once per SoundFont and kept for the life of the process:
// releasing the pointer resets the synthesiser and hands it to the next caller. Slow the
// first time (it reads the SoundFont), so never call it on the UI or the audio thread.
std::shared_ptr<SynthEngine> acquireFluidSynth(const std::string& soundFontPath);

} // namespace sound
