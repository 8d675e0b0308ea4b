// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace sound {

// Flags of the play-sound call, as the classic multimedia library numbers them.
enum class SoundFlag : std::uint32_t {
    Sync = 0x0000,
    Async = 0x0001,
    NoDefault = 0x0002,
    Loop = 0x0008,
    NoStop = 0x0010,
};

constexpr std::uint32_t operator|(SoundFlag a, SoundFlag b)
{
    return static_cast<std::uint32_t>(a) | static_cast<std::uint32_t>(b);
}
constexpr std::uint32_t operator|(std::uint32_t a, SoundFlag b)
{
    return a | static_cast<std::uint32_t>(b);
}
constexpr bool hasFlag(std::uint32_t flags, SoundFlag f)
{
    return (flags & static_cast<std::uint32_t>(f)) != 0;
}

// The two calls the game's sound code is written on. The command-string call takes a text
// command, writes at most `capacity` characters (NUL included) into `reply` and returns 0 or an
// error code. The play-sound call starts a sound file with flags and says whether it started.
// Neither ever throws.
class SoundPlatform {
public:
    virtual ~SoundPlatform() = default;
    virtual std::uint32_t mciSendString(std::string_view command, char* reply, unsigned capacity) = 0;
    virtual bool sndPlaySound(const std::string& path, std::uint32_t flags) = 0;
};

} // namespace sound
