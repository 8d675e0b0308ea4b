// SPDX-License-Identifier: GPL-3.0-or-later

// Which SDL audio driver the output asks for, and how it tells that a PipeWire server is there.

#include "AudioDrivers.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

using namespace sound;

namespace {

using Drivers = std::vector<std::string>;

TEST(AudioDrivers, OrderFollowsTheUserThenTheRunningServer)
{
    struct Case {
        const char* what;
        DriverSituation situation;
        Drivers expected;
    };
    const Case cases[] = {
        {"the user's SDL_AUDIODRIVER wins", {true, true, true}, {""}},
        {"the user's choice even without a server", {true, false, false}, {""}},
        {"PipeWire first when it runs", {false, true, false}, {"pipewire", "pulseaudio", "alsa"}},
        {"PulseAudio, then ALSA, without PipeWire", {false, false, false}, {"pulseaudio", "alsa"}},
        // A server that served us and is gone now is waited for: ALSA would take the card
        // from it when it comes back.
        {"no ALSA once a server was seen", {false, false, true}, {"pulseaudio"}},
        {"PipeWire back after a restart", {false, true, true}, {"pipewire", "pulseaudio"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(driversToTry(c.situation), c.expected);
    }
}

// A listening socket in a private folder, as a server would leave it, closed on demand.
class Listener {
public:
    explicit Listener(const std::string& path) : fd_(::socket(AF_UNIX, SOCK_STREAM, 0))
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
        ok_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
              ::listen(fd_, 4) == 0;
    }
    ~Listener() { close(); }
    bool ok() const { return ok_; }
    // Like a killed server: the socket file stays, nobody listens.
    void close()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
    bool ok_ = false;
};

class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = old;
        value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
    }
    ~ScopedEnv() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(AudioDrivers, PipeWireRunsOnlyWhereItsSocketAccepts)
{
    const testing_support::TempDir temp;
    const std::filesystem::path& dir = temp.path();
    std::filesystem::create_directories(dir / "other place");
    const std::string socket = (dir / "pipewire-0").string();
    const std::string remote = (dir / "other place" / "my pipewire").string();
    ScopedEnv runtime("XDG_RUNTIME_DIR", dir.string());
    ScopedEnv pipewireDir("PIPEWIRE_RUNTIME_DIR", std::nullopt);
    ScopedEnv pipewireRemote("PIPEWIRE_REMOTE", std::nullopt);

    EXPECT_FALSE(pipewireRunning()) << "no socket";
    {
        Listener server(socket);
        ASSERT_TRUE(server.ok());
        EXPECT_TRUE(pipewireRunning());
        EXPECT_TRUE(socketAccepts(socket));
        server.close();
        EXPECT_TRUE(std::filesystem::exists(socket));
        EXPECT_FALSE(pipewireRunning()) << "a stale socket file";
    }
    std::filesystem::remove(socket);
    {
        Listener server(remote);
        ASSERT_TRUE(server.ok());
        EXPECT_FALSE(pipewireRunning()) << "not where the default name points";
        ScopedEnv byPath("PIPEWIRE_REMOTE", remote);
        EXPECT_TRUE(pipewireRunning()) << "PIPEWIRE_REMOTE as a path";
    }
    {
        ScopedEnv byName("PIPEWIRE_REMOTE", "my pipewire");
        ScopedEnv inDir("PIPEWIRE_RUNTIME_DIR", (dir / "other place").string());
        std::filesystem::remove(remote);
        Listener server(remote);
        ASSERT_TRUE(server.ok());
        EXPECT_TRUE(pipewireRunning()) << "a name in PIPEWIRE_RUNTIME_DIR";
    }
    {
        ScopedEnv noRuntime("XDG_RUNTIME_DIR", std::nullopt);
        EXPECT_FALSE(pipewireRunning());
    }
    EXPECT_FALSE(socketAccepts(""));
    EXPECT_FALSE(socketAccepts(std::string(200, 'x')));
}

} // namespace
