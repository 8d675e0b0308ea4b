// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "AudioEngine.h"

#include <memory>

namespace app {

// The sound devices the program plays through. Their heavy work (the SoundFont, the sound
// libraries) waits for startBackgroundWork(); commands sent before then are served all the same.
std::unique_ptr<sound::AudioEngine> makeSoundSystem();

} // namespace app
