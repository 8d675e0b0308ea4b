// SPDX-License-Identifier: GPL-3.0-or-later

#include "AudioDrivers.h"

#include "AudioSource.h"
#include "FileDescriptor.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace sound {

namespace {

const char* env(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

} // namespace

std::vector<std::string> driversToTry(const DriverSituation& situation)
{
    if (situation.userChoice)
        return {""};
    std::vector<std::string> drivers;
    if (situation.pipewireRunning)
        drivers.emplace_back("pipewire");
    drivers.emplace_back("pulseaudio");
    if (!situation.serverSeen)
        drivers.emplace_back("alsa");
    return drivers;
}

bool isServerDriver(std::string_view driver)
{
    return driver == "pipewire" || driver == "pulseaudio";
}

// PipeWire runs our stream in its graph at the quantum the block size asks for; 512 frames
// played without a dropout, and a larger quantum only added latency. SDL's PulseAudio driver
// asks the server to buffer exactly one block and writes the next only when that has drained,
// so a block is all the slack there is, and at 512 frames the stream ran dry on a busy machine.
// There the buffer is set on its own (kPulseBufferMs) and the block kept small, so the server
// holds about four blocks while a press still waits for one. ALSA and SDL's other drivers keep
// the size that suited the dummy driver. docs/PERFORMANCE.md ("Block sizes through a sound
// server") has the measurements.
int framesPerBufferFor(std::string_view driver)
{
    return driver == "pulseaudio" ? 256 : 512;
}

int silenceBeforeCloseFor(std::string_view driver, int framesPerBuffer)
{
    if (driver == "pipewire")
        return 2 * framesPerBuffer;
    if (driver != "pulseaudio")
        return 0;
    const char* set = env("PULSE_LATENCY_MSEC");
    const int ms = std::clamp(std::atoi(set != nullptr ? set : kPulseBufferMs), 0, 200);
    return ms * kOutputRate / 1000;
}

bool socketAccepts(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof(address.sun_path))
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    ombura::FileDescriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (fd.get() < 0)
        return false;
    // A local listening socket accepts at once; a full backlog still means a server is there.
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0)
        return true;
    return errno == EAGAIN || errno == EINPROGRESS;
}

bool pipewireRunning()
{
    std::string name = "pipewire-0";
    if (const char* remote = env("PIPEWIRE_REMOTE"))
        name = remote;
    if (name.front() == '/')
        return socketAccepts(name);
    const char* dir = env("PIPEWIRE_RUNTIME_DIR");
    if (dir == nullptr)
        dir = env("XDG_RUNTIME_DIR");
    if (dir == nullptr)
        return false;
    return socketAccepts(std::string(dir) + "/" + name);
}

} // namespace sound
