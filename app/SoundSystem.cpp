// SPDX-License-Identifier: GPL-3.0-or-later

#include "SoundSystem.h"

#include <atomic>
#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace app {

namespace {

std::atomic<SoundSystem*> live{nullptr};

// exit() from somewhere other than main(). Handlers registered after this one have run by now,
// and every static object destroyed before it was made after it: none of them is anything the
// audio thread reads. Those made earlier would be destroyed next, so the process ends here.
void endAtExit(int status, void*)
{
    SoundSystem* sound = live.exchange(nullptr);
    if (sound == nullptr)
        return; // gone already: exit() goes on as usual
    sound->shutDown();
    std::fflush(nullptr);
    std::_Exit(status);
}

} // namespace

SoundSystem::SoundSystem()
    // The engine opens no device and loads no SoundFont on this thread, and starts neither
    // until told: the first frame of the window never shares the machine with them.
    : engine_(sound::AudioEngine::create(sound::MusicChannel::Start::WhenTold))
{
    [[maybe_unused]] SoundSystem* before = live.exchange(this);
    assert(before == nullptr && "one sound system per process");
    static std::once_flag registered;
    std::call_once(registered, [] { on_exit(&endAtExit, nullptr); });
}

SoundSystem::~SoundSystem()
{
    live.store(nullptr);
}

} // namespace app
