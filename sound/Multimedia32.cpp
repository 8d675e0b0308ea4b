// SPDX-License-Identifier: GPL-3.0-or-later

#include "Multimedia32.h"

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
    for (char& c : mode)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return mode;
}

std::uint32_t Multimedia32::effectFlags(std::int16_t mode)
{
    const std::uint32_t oneShot = SoundFlag::Async | SoundFlag::NoDefault | SoundFlag::NoStop;
    if (mode == 0)
        return oneShot;
    if (mode == 1)
        return oneShot | SoundFlag::Loop;
    return SoundFlag::Sync;
}

void Multimedia32::PlayEffect(const std::string& path, std::int16_t mode)
{
    if (path.empty())
        return;
    platform_.sndPlaySound(path, effectFlags(mode));
}

} // namespace sound
