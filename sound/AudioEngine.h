// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "EffectPlayer.h"
#include "Mixer.h"
#include "MusicChannel.h"
#include "SdlOutput.h"
#include "SoundPlatform.h"

#include <memory>
#include <string>
#include <vector>

namespace sound {

// What the application creates: the two platform calls served by the music channel and the
// effect player, both mixed into one output. The output starts when either begins to sound.
class AudioEngine : public SoundPlatform {
public:
    enum class Output {
        Device, // the SDL audio device, opened on the first sound
        None, // nobody pulls the mixer but the caller (tests, offline rendering)
    };

    // With MusicChannel::Start::WhenTold nothing heavy happens until startBackgroundWork():
    // the SoundFont is not read, FluidSynth is not opened and SDL's audio is not started,
    // unless a sound is asked for first.
    static std::unique_ptr<AudioEngine> create(MusicChannel::Start start = MusicChannel::Start::Now);

    // `music` is never null.
    AudioEngine(Output output, std::unique_ptr<MusicChannel> music, SdlOutput::Options options = {});
    ~AudioEngine() override;
    AudioEngine(const AudioEngine&) = delete;
    AudioEngine& operator=(const AudioEngine&) = delete;

    std::uint32_t mciSendString(std::string_view command, char* reply, unsigned capacity) override;
    bool sndPlaySound(const std::string& path, std::uint32_t flags) override;

    // UI thread: loads the SoundFont and decodes the effect files on their own threads; SDL
    // starts at the first sound. The program calls it once its window is on screen; calling it again does
    // nothing new.
    void startBackgroundWork(std::vector<std::string> effectFiles = {});

    // Any thread, at the end of the program: music and effect fade out over 8 ms, the device
    // plays the fade and is closed, and SDL's audio thread has ended when this returns (see
    // SdlOutput::shutDown). Nothing sounds again. The loaders are left as they are: the program
    // ends without freeing what they use. With Output::None the mix only fades, for whoever
    // pulls it.
    void shutDown();

    Mixer& mixer() { return mixer_; }
    EffectPlayer& effects() { return effects_; }
    MusicChannel& music() { return *music_; }
    // Null for Output::None.
    SdlOutput* output() { return output_.get(); }

private:
    void wakeOutput();

    std::unique_ptr<MusicChannel> music_;
    EffectPlayer effects_;
    Mixer mixer_;
    std::unique_ptr<SdlOutput> output_; // last: stopped before anything it pulls goes away
};

} // namespace sound
