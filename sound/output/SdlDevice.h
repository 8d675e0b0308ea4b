// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "OutputDevice.h"

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

    // Sets SDL's hints and quiets ALSA, once per process; the first open does it too. Keep it
    // off the UI thread: it opens libasound.
    static void setUp();

    void preload() override;
    std::optional<Opened> open(Pull pull, void* user) override;
    void pause(bool paused) override;
    bool lost() override;
    void close(Close how) override;
    void threadEnding() override;

    // What SDL's audio thread calls through: kept unchanged while a device is open, since that
    // thread reads it at every block. Never a global that the end of the program could free.
    struct Callback {
        Pull pull = nullptr;
        void* user = nullptr;
    };

private:
    std::optional<Opened> openOnCurrentDriver(Pull pull, void* user);
    void quitAudio();

    const int framesPerBuffer_;
    bool calledSdl_ = false;
    bool audioInitialised_ = false;
    std::uint32_t device_ = 0; // an SDL_AudioDeviceID, 0 when none is open
    Callback callback_; // read by SDL's audio thread while device_ is open
    bool serverSeen_ = false;
};

} // namespace sound
