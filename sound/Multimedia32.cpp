// SPDX-License-Identifier: GPL-3.0-or-later

#include "Multimedia32.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace sound {

void Multimedia32::send(const std::string& command)
{
    platform_.mciSendString(command, nullptr, 0);
}

void Multimedia32::OpenMusic(const std::string& path)
{
    if (path.empty())
        return;
    send("stop midifile ");
    send("close midifile");
    // The path goes in bare, blanks and all; the interpreter takes the element as everything
    // up to the final "type ... alias ..." clause, so no path can rewrite the command.
    send("open " + path + " type sequencer alias midifile");
}

void Multimedia32::CloseMusic()
{
    send("close midifile");
}

void Multimedia32::RestartMusic()
{
    send("STOP MIDIFILE ");
    send("play midifile");
}

std::string Multimedia32::GetMusicMode()
{
    // Sixteen NULs with a capacity of fifteen: the last one always stays a terminator.
    std::array<char, 16> reply{};
    platform_.mciSendString("status midifile mode", reply.data(), 15);
    std::string mode(reply.data());
    std::transform(mode.begin(), mode.end(), mode.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return mode;
}

std::uint32_t Multimedia32::effectFlags(std::int16_t mode)
{
    switch (mode) {
    case 0:
        return SoundFlag::Async | SoundFlag::NoDefault | SoundFlag::NoStop;
    case 1:
        return SoundFlag::Async | SoundFlag::NoDefault | SoundFlag::Loop | SoundFlag::NoStop;
    default:
        return static_cast<std::uint32_t>(SoundFlag::Sync);
    }
}

void Multimedia32::PlayEffect(const std::string& path, std::int16_t mode)
{
    if (path.empty())
        return;
    platform_.sndPlaySound(path, effectFlags(mode));
}

} // namespace sound
