#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace sound {

// Where Debian and its neighbours put General MIDI SoundFonts, best first.
std::span<const std::string_view> defaultSoundFontPlaces();

// The first of `places` that is a readable regular file.
std::optional<std::string> findSoundFont(std::span<const std::string_view> places = defaultSoundFontPlaces());

} // namespace sound
