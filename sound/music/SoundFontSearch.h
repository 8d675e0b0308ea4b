// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "SynthHost.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sound {

// Where Debian and its neighbours put General MIDI SoundFonts, best first.
std::span<const std::string_view> defaultSoundFontPlaces();

// The first of `places` that is a readable regular file.
std::optional<std::string> findSoundFont(std::span<const std::string_view> places = defaultSoundFontPlaces());

// Each call loads the next font among `places` that FluidSynth accepts, or null when none is
// left. A font that is there but will not load (broken, refused, or a dangling choice of the
// system's) gives way to the next one, and so does one that cannot give a tune its instruments
// (see SynthHost). A file reached twice (default-GM.sf2 is a link to one of the others) is
// tried once, under its own name, so a link changed while the game runs changes nothing.
SynthHost::Loader soundFontLoader(std::vector<std::string> places);

} // namespace sound
