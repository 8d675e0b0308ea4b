// SPDX-License-Identifier: GPL-3.0-or-later

// What deciding whether a font can play a tune costs, per SoundFont: reading the font's
// directory, checking the samples of every General MIDI instrument and the standard kit (and
// how much memory those would take), and the memory of the chooser, the synthesiser whose font
// has the same presets and nothing in them.
//
//   bench_soundfont [font...]
//
// Without arguments it measures every Debian General MIDI font that is installed.
#include "SoundFontCheck.h"

#include <fluidsynth.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kRuns = 20;

double rssMib()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    }
    return 0;
}

template <typename Work>
double medianMs(Work work)
{
    std::vector<double> ms;
    for (int i = 0; i < kRuns; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

// The chooser as the engine makes it: the presets-only font from memory, read whole, one voice.
double chooserMib(const sound::SoundFontDirectory& directory)
{
    const std::vector<std::uint8_t> presets = directory.presetsOnly();
    const int fd = memfd_create("bench-presets", MFD_CLOEXEC);
    if (fd < 0 || write(fd, presets.data(), presets.size()) != static_cast<ssize_t>(presets.size()))
        return -1;
    const double before = rssMib();
    fluid_settings_t* settings = new_fluid_settings();
    fluid_settings_setint(settings, "synth.midi-channels", 16);
    fluid_settings_setint(settings, "synth.reverb.active", 0);
    fluid_settings_setint(settings, "synth.chorus.active", 0);
    fluid_settings_setint(settings, "synth.dynamic-sample-loading", 0);
    fluid_settings_setint(settings, "synth.polyphony", 1);
    fluid_synth_t* synth = new_fluid_synth(settings);
    const bool loaded = fluid_synth_sfload(synth, ("/proc/self/fd/" + std::to_string(fd)).c_str(), 0) != FLUID_FAILED;
    const double grown = rssMib() - before;
    delete_fluid_synth(synth);
    delete_fluid_settings(settings);
    close(fd);
    return loaded ? grown : -1;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> fonts(argv + 1, argv + argc);
    if (fonts.empty()) {
        for (const char* f :
             {"/usr/share/sounds/sf2/FluidR3_GM.sf2", "/usr/share/sounds/sf2/TimGM6mb.sf2",
              "/usr/share/sounds/sf3/FluidR3Mono_GM.sf3", "/usr/share/sounds/sf3/MuseScore_General.sf3"}) {
            if (std::filesystem::exists(f))
                fonts.emplace_back(f);
        }
    }
    for (int level = FLUID_PANIC; level < LAST_LOG_LEVEL; ++level)
        fluid_set_log_function(level, nullptr, nullptr);
    // FluidSynth's tables for all synthesisers are built with the first one: the engine's own.
    fluid_settings_t* settings = new_fluid_settings();
    delete_fluid_synth(new_fluid_synth(settings));
    delete_fluid_settings(settings);
    std::vector<sound::PresetNumber> everything;
    for (int program = 0; program < 128; ++program)
        everything.push_back({0, program});
    everything.push_back({128, 0});
    for (const std::string& font : fonts) {
        std::optional<sound::SoundFontDirectory> directory;
        const double readMs = medianMs([&] { directory = sound::SoundFontDirectory::read(font); });
        if (!directory) {
            std::printf("%s: directory unreadable\n", font.c_str());
            continue;
        }
        std::optional<std::uint64_t> bytes;
        const double checkMs = medianMs([&] { bytes = directory->sampleBytes(everything); });
        std::printf("%s\n  directory read %.2f ms; GM set and kit checked in %.2f ms: %s, %.1f MiB\n", font.c_str(),
                    readMs, checkMs, bytes ? "sounds" : "silent",
                    bytes ? static_cast<double>(*bytes) / (1 << 20) : 0.0);
        std::printf("  chooser %.2f MiB\n", chooserMib(*directory));
    }
}
