// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "AudioSource.h"
#include "MciInterpreter.h"
#include "Sequencer.h"
#include "SynthHost.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sound {

// The music device behind the command-string call: the interpreter with its "sequencer"
// device type, the sequencer and the synthesiser, rendered as one source of the mixer.
//
// send() runs on the UI thread and never waits for the audio thread or for the SoundFont,
// which loads on a thread of its own, from construction on or from startLoading(). Commands
// work all the same before then; a tune played meanwhile starts once there is a synthesiser.
// render() runs on the audio thread.
class MusicChannel : public AudioSource {
public:
    using Start = SynthHost::Start;

    // Loads the first General MIDI SoundFont found in the system's usual places.
    explicit MusicChannel(Start start = Start::Now);
    // Loads exactly this SoundFont, or none at all (the music then plays silently).
    explicit MusicChannel(std::optional<std::string> soundFontPath, Start start = Start::Now);
    // Loads the first of these SoundFonts that loads and plays the tune, best first.
    explicit MusicChannel(std::vector<std::string> soundFontPlaces, Start start = Start::Now);
    std::uint32_t send(std::string_view command, char* reply, unsigned capacity)
    {
        return interpreter_.send(command, reply, capacity);
    }
    void render(float* out, int frames) override { sequencer_.render(out, frames); }
    bool active() const override { return sequencer_.playing() || sequencer_.sounding(); }
    // Any thread: a tune is playing, or is meant to be and stands still while nothing pulls it.
    bool playing() const { return sequencer_.playing(); }
    // UI thread: begins loading the SoundFont of a channel made with Start::WhenTold.
    void startLoading() { host_.start(); }
    // Called on the UI thread after a play, so the output can start or unpause.
    void setWakeCallback(std::function<void()> wake) { wake_ = std::move(wake); }

    // For tests and tools only; the game never waits: blocks until the SoundFont is loaded (or
    // known to be missing) and the instruments of the open tune are in memory.
    bool waitUntilReady(std::chrono::milliseconds timeout) { return host_.waitUntilIdle(timeout); }
    bool hasSynth() const { return host_.state() == SynthHost::State::Ready; }

private:
    SynthHost host_;
    Sequencer sequencer_;
    MciInterpreter interpreter_;
    std::function<void()> wake_;
};

} // namespace sound
