// SPDX-License-Identifier: GPL-3.0-or-later

#include "SequencerDevice.h"

#include "MidiFile.h"

#include <memory>
#include <utility>

namespace sound {

SequencerDevice::SequencerDevice(Sequencer& sequencer, Signals signals)
    : sequencer_(sequencer), signals_(std::move(signals))
{ }

SequencerDevice::~SequencerDevice()
{
    if (loaded_)
        sequencer_.unload();
    if (signals_.closed)
        signals_.closed();
}

MciError SequencerDevice::open(const MciCommand& command, std::string&)
{
    MidiLoad load = loadMidiFile(command.element);
    if (load.error == MidiLoadError::NotFound)
        return MciError::FileNotFound;
    if (load.error != MidiLoadError::None || !load.sequence)
        return MciError::InvalidFile;

    sequencer_.load(std::make_shared<const MidiSequence>(std::move(*load.sequence)));
    loaded_ = true;
    return MciError::Ok;
}

MciError SequencerDevice::close(const MciCommand& command, std::string&)
{
    if (!command.items.empty())
        return MciError::UnrecognizedKeyword;
    sequencer_.unload();
    loaded_ = false;
    return MciError::Ok;
}

MciError SequencerDevice::play(const MciCommand& command, std::string&)
{
    if (!command.items.empty())
        return MciError::UnrecognizedKeyword;
    if (sequencer_.play() && signals_.started)
        signals_.started();
    return MciError::Ok;
}

MciError SequencerDevice::stop(const MciCommand& command, std::string&)
{
    if (!command.items.empty())
        return MciError::UnrecognizedKeyword;
    sequencer_.stop();
    return MciError::Ok;
}

MciError SequencerDevice::status(const MciCommand& command, std::string& reply)
{
    if (command.items.empty())
        return MciError::MissingParameter;
    if (command.items.size() != 1 || command.items[0] != "mode")
        return MciError::UnrecognizedKeyword;
    reply = sequencer_.playing() ? "playing" : "stopped";
    return MciError::Ok;
}

} // namespace sound
