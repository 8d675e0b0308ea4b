// SPDX-License-Identifier: GPL-3.0-or-later

#include "SoundSystem.h"

namespace app {

std::unique_ptr<sound::AudioEngine> makeSoundSystem()
{
    // The engine opens no device and loads no SoundFont on this thread, and starts neither
    // until told: the first frame of the window never shares the machine with them.
    return sound::AudioEngine::create(sound::MusicChannel::Start::WhenTold);
}

} // namespace app
