// SPDX-License-Identifier: GPL-3.0-or-later

#include "FluidSynthLibrary.h"

#include <atomic>

namespace sound::fluid {

namespace {

std::atomic<unsigned> errors{0};
FluidSynthQuirks running;

void dropMessage(int, const char*, void*)
{ }

void countError(int, const char*, void*)
{
    errors.fetch_add(1, std::memory_order_relaxed);
}

// FluidSynth asks libinstpatch about any file it cannot read itself, and libinstpatch reports
// what it dislikes through glib's log, which prints to the terminal. The game prints nothing.
void silenceGlib()
{
    using LogFunction = void (*)(const char* domain, int level, const char* message, void* data);
    using SetDefaultHandler = LogFunction (*)(LogFunction, void*);
    ombura::SharedLibrary glib("libglib-2.0.so.0");
    SetDefaultHandler setDefaultHandler = nullptr;
    glib.bind(setDefaultHandler, "g_log_set_default_handler");
    if (glib.complete())
        setDefaultHandler([](const char*, int, const char*, void*) { }, nullptr);
}

} // namespace

const Fluid* library()
{
    static const Fluid* const loaded = []() -> const Fluid* {
        static Fluid table;
        ombura::SharedLibrary shared("libfluidsynth.so.3");
        if (!table.bind(shared))
            return nullptr;
        int major = 0, minor = 0, micro = 0;
        table.fluid_version(&major, &minor, &micro);
        running = fluidSynthQuirks(major, minor);
        // FluidSynth writes its messages to the terminal unless told otherwise. The game prints
        // nothing, and counts the errors.
        for (int level = FLUID_PANIC; level < LAST_LOG_LEVEL; ++level)
            table.fluid_set_log_function(level, level <= FLUID_ERR ? countError : dropMessage, nullptr);
        silenceGlib();
        return &table;
    }();
    return loaded;
}

const FluidSynthQuirks& quirks()
{
    return running;
}

unsigned errorsLogged()
{
    return errors.load(std::memory_order_relaxed);
}

} // namespace sound::fluid
