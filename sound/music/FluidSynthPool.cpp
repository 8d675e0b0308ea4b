// SPDX-License-Identifier: GPL-3.0-or-later

#include "FluidSynthPool.h"

#include "FluidSynthEngine.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace sound {

namespace {

struct Pool {
    std::mutex mutex;
    std::vector<FluidSynthEngine*> free;
};

Pool& pool()
{
    static Pool* instance = new Pool;
    return *instance;
}

void giveBack(FluidSynthEngine* engine)
{
    {
        std::lock_guard lock(engine->mutex());
        // Silent, not merely released: the next owner's first block must not hear this one's
        // last notes ringing out.
        engine->reset();
        engine->soundOff();
        engine->prepare(MidiSequence{});
    }
    std::lock_guard lock(pool().mutex);
    pool().free.push_back(engine);
}

} // namespace

std::shared_ptr<SynthEngine> acquireFluidSynth(const std::string& soundFontPath)
{
    FluidSynthEngine* engine = nullptr;
    {
        std::lock_guard lock(pool().mutex);
        auto& free = pool().free;
        const auto it = std::find_if(free.begin(), free.end(),
                                     [&](const FluidSynthEngine* e) { return e->path() == soundFontPath; });
        if (it != free.end()) {
            engine = *it;
            free.erase(it);
        }
    }
    if (!engine)
        engine = FluidSynthEngine::create(soundFontPath);
    if (!engine)
        return nullptr;
    return std::shared_ptr<SynthEngine>(engine, [](SynthEngine* e) { giveBack(static_cast<FluidSynthEngine*>(e)); });
}

} // namespace sound
