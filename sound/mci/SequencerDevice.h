// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "MciDevice.h"
#include "Sequencer.h"

#include <functional>

namespace sound {

// The "sequencer" device type: a MIDI file opened under an alias and played by the one
// Sequencer. Only one can be open at a time, as with the classic sequencer: the owner hears
// when a device closes, and when a play makes one start sounding, so the output can wake.
class SequencerDevice final : public MciDevice {
public:
    struct Signals {
        std::function<void()> started; // a play was accepted
        std::function<void()> closed; // the device is going away; the sequencer is free again
    };

    SequencerDevice(Sequencer& sequencer, Signals signals);
    ~SequencerDevice() override;
    SequencerDevice(const SequencerDevice&) = delete;
    SequencerDevice& operator=(const SequencerDevice&) = delete;

    MciError open(const MciCommand& command, std::string& reply) override;
    MciError close(const MciCommand& command, std::string& reply) override;
    MciError play(const MciCommand& command, std::string& reply) override;
    MciError stop(const MciCommand& command, std::string& reply) override;
    MciError status(const MciCommand& command, std::string& reply) override;

private:
    Sequencer& sequencer_;
    Signals signals_;
    bool loaded_ = false;
};

} // namespace sound
