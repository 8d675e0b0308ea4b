// SPDX-License-Identifier: GPL-3.0-or-later

// Arbitrary bytes as bgm.dat, played through the real synthesiser with TimGM6mb: whatever the
// reader accepts, FluidSynth must take every message of it (resets, bank selects, kits, any
// system-exclusive message), choose its instruments while the loader prepares the tune and
// play its first seconds without crashing.
#include "MidiFile.h"
#include "Sequencer.h"
#include "SynthHost.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static sound::SynthHost host({"/usr/share/sounds/sf2/TimGM6mb.sf2"}, sound::SynthHost::Start::Now);
    static sound::Sequencer sequencer(host);
    std::optional<sound::MidiSequence> tune = sound::parseMidi(std::span(data, size));
    if (!host.waitUntilIdle(std::chrono::seconds(60)) || host.state() != sound::SynthHost::State::Ready || !tune)
        return 0;

    sequencer.load(std::make_shared<const sound::MidiSequence>(std::move(*tune)));
    host.waitUntilIdle(std::chrono::seconds(60));
    sequencer.play();
    std::vector<float> out(2 * 4800);
    for (int i = 0; i < 20 && sequencer.playing(); ++i)
        sequencer.render(out.data(), 4800);
    sequencer.unload();
    sequencer.render(out.data(), 4800);
    return 0;
}
