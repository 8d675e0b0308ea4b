// SPDX-License-Identifier: GPL-3.0-or-later

#include "MusicChannel.h"

#include <memory>
#include <utility>

namespace sound {

MusicChannel::MusicChannel(Start start)
    : MusicChannel(std::vector<std::string>(kSoundFontPlaces.begin(), kSoundFontPlaces.end()), start)
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

} // namespace sound
