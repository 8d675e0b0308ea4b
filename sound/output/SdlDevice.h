// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "OutputDevice.h"
#include "SdlBackend.h"

#include <cstdint>

namespace sound {

// The output's device through SDL. The driver is chosen at every open (see AudioDrivers.h):
// PipeWire when its server runs, then PulseAudio, then ALSA, unless the user has named one in
// SDL_AUDIODRIVER. Only the output's thread calls it; the destructor closes what is open.
class SdlDevice : public OutputDevice {
public:
    // 0: the block size that suits the driver in use.
    explicit SdlDevice(int framesPerBuffer) : framesPerBuffer_(framesPerBuffer) { }
    ~SdlDevice() override;
    SdlDevice(const SdlDevice&) = delete;
    SdlDevice& operator=(const SdlDevice&) = delete;

    void preload() override;
    std::optional<Opened> open(Pull pull, void* user) override;
    void pause(bool paused) override;
    bool lost() override;
    void close(Close how) override;
    void threadEnding() override;

private:
    std::optional<Opened> openOnCurrentDriver(Pull pull, void* user);

    const int framesPerBuffer_;
    bool calledSdl_ = false;
    bool audioInitialised_ = false;
    std::uint32_t device_ = 0;
    sdl::Pull pull_; // read by SDL's audio thread while device_ is open
    bool serverSeen_ = false;
};

} // namespace sound
