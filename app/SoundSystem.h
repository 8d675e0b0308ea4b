// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "AudioEngine.h"

#include <memory>
#include <string>
#include <vector>

namespace app {

// The sound devices the program plays through. Their heavy work (the SoundFont, the sound
// libraries) waits for startBackgroundWork(); commands sent before then are served all the same.
//
// Every way out of the program stops the sound first: main() calls shutDown() once the event
// loop has ended (終了, the window closed, a quit signal), and exit() called from anywhere else
// (Qt calls it when the X server goes away) does the same before anything is destroyed, then
// ends the process at once, as main() does. So SDL's audio thread never runs while the end of
// the program frees what it reads, and the SoundFont loader, which may still be at work, never
// finds its data freed under it: nothing is freed at all.
class SoundSystem {
public:
    SoundSystem();
    ~SoundSystem();
    SoundSystem(const SoundSystem&) = delete;
    SoundSystem& operator=(const SoundSystem&) = delete;

    sound::AudioEngine& engine() { return *engine_; }
    void startBackgroundWork(std::vector<std::string> effectFiles)
    {
        engine_->startBackgroundWork(std::move(effectFiles));
    }
    // Fades music and effect out, lets the device play the fade and closes it. Any thread;
    // later calls return at once.
    void shutDown() { engine_->shutDown(); }

private:
    std::unique_ptr<sound::AudioEngine> engine_;
};

} // namespace app
