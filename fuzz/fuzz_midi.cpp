// SPDX-License-Identifier: GPL-3.0-or-later

// Arbitrary bytes as a MIDI file: the reader must refuse or accept without crashing, and what
// it accepts must be a tune the sequencer can play to its end.
#include "MidiFile.h"
#include "Sequencer.h"
#include "SynthHost.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::optional<sound::MidiSequence> tune = sound::parseMidi(std::span(data, size));
    if (!tune)
        return 0;

    std::int64_t last = 0;
    for (const sound::MidiEvent& e : tune->events) {
        if (e.sample < last || e.sample > tune->endSample || e.status < 0x80 || e.status == 0xFF)
            std::abort();
        if (e.status == 0xF0) {
            if (e.sysex >= tune->sysex.size())
                std::abort();
        }
        last = e.sample;
    }

    // Play it without a synthesiser, in big blocks, for at most about a minute of tune.
    sound::SynthHost host({}, sound::SynthHost::Start::Now);
    sound::Sequencer sequencer(host);
    sequencer.load(std::make_shared<const sound::MidiSequence>(std::move(*tune)));
    sequencer.play();
    std::vector<float> out(2 * 48000);
    for (int i = 0; i < 60 && sequencer.playing(); ++i)
        sequencer.render(out.data(), 48000);
    return 0;
}
