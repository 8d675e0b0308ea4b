// SPDX-License-Identifier: GPL-3.0-or-later

#include "MusicChannel.h"

#include "SoundFontSearch.h"

#include <memory>
#include <span>
#include <utility>

namespace sound {

namespace {

std::vector<std::string> defaultPlaces()
{
    const std::span<const std::string_view> places = defaultSoundFontPlaces();
    return {places.begin(), places.end()};
}

} // namespace

MusicChannel::MusicChannel(Start start) : MusicChannel(soundFontLoader(defaultPlaces()), start)
{ }

MusicChannel::MusicChannel(std::optional<std::string> soundFontPath, Start start)
    : MusicChannel(soundFontPath ? soundFontLoader({*soundFontPath}) : SynthHost::Loader(), start)
{ }

MusicChannel::MusicChannel(std::vector<std::string> soundFontPlaces, Start start)
    : MusicChannel(soundFontLoader(std::move(soundFontPlaces)), start)
{ }

MusicChannel::MusicChannel(SynthHost::Loader loader, Start start)
    : host_(std::move(loader), start), sequencer_(host_), interpreter_(sequencer_, [this] {
          if (wake_)
              wake_();
      })
{ }

MusicChannel::~MusicChannel() = default;

std::uint32_t MusicChannel::send(std::string_view command, char* reply, unsigned capacity)
{
    return interpreter_.send(command, reply, capacity);
}

void MusicChannel::render(float* out, int frames)
{
    sequencer_.render(out, frames);
}

bool MusicChannel::active() const
{
    return sequencer_.playing() || sequencer_.sounding();
}

void MusicChannel::setWakeCallback(std::function<void()> wake)
{
    wake_ = std::move(wake);
}

bool MusicChannel::waitUntilReady(std::chrono::milliseconds timeout)
{
    return host_.waitUntilIdle(timeout);
}

} // namespace sound
