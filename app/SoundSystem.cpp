#include "SoundSystem.h"

#include "AudioEngine.h"

namespace app {

std::unique_ptr<sound::SoundPlatform> makeSoundSystem()
{
    // The engine opens no device and loads no SoundFont on this thread: the first frame of the
    // window never waits for sound.
    return sound::AudioEngine::create();
}

} // namespace app
