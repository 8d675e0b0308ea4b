#pragma once

#include "MciDevice.h"
#include "Sequencer.h"
#include "SynthHost.h"

namespace sound {

// The "sequencer" device type: a MIDI file opened under an alias and played by the one
// Sequencer. Only one can be open at a time, as with the classic sequencer; `claimed` is the
// flag that says so, held from construction to destruction.
class SequencerDevice final : public MciDevice {
public:
    SequencerDevice(Sequencer& sequencer, SynthHost& host, bool& claimed);
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
    SynthHost& host_;
    bool& claimed_;
    bool loaded_ = false;
};

} // namespace sound
