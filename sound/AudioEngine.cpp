// SPDX-License-Identifier: GPL-3.0-or-later

#include "AudioEngine.h"

namespace sound {

std::unique_ptr<AudioEngine> AudioEngine::create(MusicChannel::Start start)
{
    return std::make_unique<AudioEngine>(Output::Device, std::make_unique<MusicChannel>(start));
}

AudioEngine::AudioEngine(Output output, std::unique_ptr<MusicChannel> music, SdlOutput::Options options)
    : music_(std::move(music)), mixer_({{music_.get(), kMixLevels.music}, {&effects_, kMixLevels.effects}})
{
    effects_.setStartObserver([this](int offset) { mixer_.noteEffectStart(offset); });
    effects_.setWakeCallback([this] { wakeOutput(); });
    music_->setWakeCallback([this] { wakeOutput(); });
    if (output == Output::None)
        return;
    // A playing tune keeps asking for a device that was lost; a stopped one, or an effect, waits
    // for the next request as before.
    output_ = std::make_unique<SdlOutput>(mixer_, options, [music = music_.get()] { return music->playing(); });
    // The raw pointer, not output_: during teardown output_ is already null while the device's
    // last callbacks still ask.
    effects_.setRenderingProbe([out = output_.get()] { return out->rendering(); });
}

AudioEngine::~AudioEngine()
{
    // The device first, so its callback can no longer reach the sources.
    output_.reset();
    music_->setWakeCallback({});
}

void AudioEngine::startBackgroundWork(std::vector<std::string> effectFiles)
{
    music_->startLoading();
    effects_.prepare(std::move(effectFiles));
}

void AudioEngine::shutDown()
{
    if (output_)
        output_->shutDown();
    else
        mixer_.fadeOut(Mixer::Fade::Ramp);
}

void AudioEngine::wakeOutput()
{
    if (output_)
        output_->wake();
}

std::uint32_t AudioEngine::mciSendString(std::string_view command, char* reply, unsigned capacity)
{
    return music_->send(command, reply, capacity);
}

bool AudioEngine::sndPlaySound(const std::string& path, std::uint32_t flags)
{
    return effects_.play(path, flags);
}

} // namespace sound
