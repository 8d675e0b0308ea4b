// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "SoundPlatform.h"

#include <cstdint>
#include <string>

namespace sound {

// The game's sound operations: the music channel on the device alias "midifile" and the
// one-shot effects. Every result of the platform is dropped on purpose: a missing or broken
// data file only makes the game quieter.
class Multimedia32 {
public:
    explicit Multimedia32(SoundPlatform& platform) : platform_(platform) { }

    void OpenMusic(const std::string& path);
    void CloseMusic();
    void RestartMusic();
    std::string GetMusicMode();

    void PlayEffect(const std::string& path, std::int16_t mode);

    static std::uint32_t effectFlags(std::int16_t mode);

private:
    void send(const std::string& command);

    SoundPlatform& platform_;
};

} // namespace sound
