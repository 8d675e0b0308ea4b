// SPDX-License-Identifier: GPL-3.0-or-later

#include "SdlDevice.h"

#include "AudioDrivers.h"
#include "SdlBackend.h"

#include <cstdlib>

namespace sound {

SdlDevice::~SdlDevice()
{
    if (device_ != 0)
        sdl::closeDevice(device_);
    if (audioInitialised_)
        sdl::quitAudio();
}

void SdlDevice::preload()
{
    calledSdl_ = true;
    sdl::setUp();
}

std::optional<OutputDevice::Opened> SdlDevice::open(Pull pull, void* user)
{
    calledSdl_ = true;
    // A driver kept up since the last quiet close is tried first: it worked, and starting one
    // costs a round trip to the server.
    if (audioInitialised_) {
        if (auto opened = openOnCurrentDriver(pull, user))
            return opened;
        sdl::quitAudio();
        audioInitialised_ = false;
    }
    const char* userDriver = std::getenv("SDL_AUDIODRIVER");
    DriverSituation situation;
    situation.userChoice = userDriver != nullptr && *userDriver != '\0';
    situation.pipewireRunning = !situation.userChoice && pipewireRunning();
    situation.serverSeen = serverSeen_;
    for (const std::string& name : driversToTry(situation)) {
        if (!sdl::initAudio(name.empty() ? nullptr : name.c_str()))
            continue;
        audioInitialised_ = true;
        if (auto opened = openOnCurrentDriver(pull, user))
            return opened;
        sdl::quitAudio();
        audioInitialised_ = false;
    }
    return std::nullopt;
}

// A driver is up.
std::optional<OutputDevice::Opened> SdlDevice::openOnCurrentDriver(Pull pull, void* user)
{
    const std::string name = sdl::currentDriver();
    const int frames = framesPerBuffer_ > 0 ? framesPerBuffer_ : framesPerBufferFor(name);
    pull_ = {pull, user}; // no device is open: nobody reads it now
    const auto opened = sdl::openDevice(frames, pull_);
    if (!opened)
        return std::nullopt;
    device_ = opened->id;
    serverSeen_ = serverSeen_ || isServerDriver(name);
    return Opened{opened->framesPerBuffer, name};
}

void SdlDevice::pause(bool paused)
{
    sdl::pauseDevice(device_, paused);
}

bool SdlDevice::lost()
{
    return sdl::deviceLost(device_);
}

// SDL's server drivers keep one connection for all devices, and a dead one opens nothing
// more: a lost device takes its driver with it.
void SdlDevice::close(Close how)
{
    sdl::closeDevice(device_);
    device_ = 0;
    if (how == Close::WithDriver) {
        sdl::quitAudio();
        audioInitialised_ = false;
    }
}

void SdlDevice::threadEnding()
{
    if (calledSdl_)
        sdl::releaseThread();
}

} // namespace sound
