// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace sound {

// Flags of the play-sound call, as the classic multimedia library numbers them.
struct SoundFlag {
    static constexpr std::uint32_t Sync = 0x0000;
    static constexpr std::uint32_t Async = 0x0001;
    static constexpr std::uint32_t NoDefault = 0x0002;
    static constexpr std::uint32_t Loop = 0x0008;
    static constexpr std::uint32_t NoStop = 0x0010;
};

constexpr bool hasFlag(std::uint32_t flags, std::uint32_t flag)
{
    return (flags & flag) != 0;
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
