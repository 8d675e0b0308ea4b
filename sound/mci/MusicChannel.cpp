// SPDX-License-Identifier: GPL-3.0-or-later

#include "MusicChannel.h"

#include <memory>
#include <utility>

namespace sound {

MusicChannel::MusicChannel(Start start)
    : MusicChannel(std::vector<std::string>(defaultSoundFontPlaces().begin(), defaultSoundFontPlaces().end()), start)
{ }

MusicChannel::MusicChannel(std::optional<std::string> soundFontPath, Start start)
    : MusicChannel(soundFontPath ? std::vector{*soundFontPath} : std::vector<std::string>{}, start)
{ }

MusicChannel::MusicChannel(std::vector<std::string> soundFontPlaces, Start start)
    : host_(std::move(soundFontPlaces), start), sequencer_(host_), interpreter_(sequencer_, [this] {
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
