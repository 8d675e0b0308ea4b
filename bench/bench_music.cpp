// SPDX-License-Identifier: GPL-3.0-or-later

// The music channel's costs: CPU per audio second against FluidSynth's own player on the same
// file and font, how late the device reads "stopped" after the tune's last event, and the peak
// memory once the default SoundFont is loaded and a tune has played.
//
//   bench_music [tune.mid]
//
// Without an argument it plays bgm.dat from the build folder above this program, or, when
// there is none, a minute-long tune it writes itself.
#include "ByteOrder.h"
#include "ByteWriter.h"
#include "MidiFile.h"
#include "MusicChannel.h"
#include "SynthHost.h"

#include <fluidsynth.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr int kBlock = 512; // the largest block the SDL output asks for
constexpr int kRuns = 5;

double threadSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double peakRssMiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    }
    return 0;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Sixty seconds at 120 beats a minute: a melody, a bass, three-note chords and drums, enough
// voices at once to load the synthesiser as a real tune does.
std::vector<std::uint8_t> minuteTune()
{
    struct Note {
        std::uint32_t at, length;
        std::uint8_t channel, key;
    };
    std::vector<Note> notes;
    const std::uint8_t scale[] = {62, 64, 65, 69, 70, 74, 76, 77};
    for (std::uint32_t beat = 0; beat < 120; ++beat) {
        const std::uint32_t t = beat * 480;
        notes.push_back({t, 200, 0, scale[(beat * 3) % 8]});
        notes.push_back({t + 240, 200, 0, scale[(beat * 5 + 1) % 8]});
        notes.push_back({t, 440, 1, static_cast<std::uint8_t>(38 + (beat / 4 % 2) * 5)});
        for (const std::uint8_t k : std::vector<std::uint8_t>{50, 53, 57})
            notes.push_back({t, 460, 2, static_cast<std::uint8_t>(k + (beat / 8 % 2) * 2)});
        notes.push_back({t, 60, 9, static_cast<std::uint8_t>(beat % 2 ? 38 : 36)});
        notes.push_back({t + 240, 60, 9, 42});
    }
    struct Event {
        std::uint32_t at;
        std::uint8_t status, key, velocity;
    };
    std::vector<Event> events;
    for (const Note& n : notes) {
        events.push_back({n.at, static_cast<std::uint8_t>(0x90 | n.channel), n.key, 90});
        events.push_back({n.at + n.length, static_cast<std::uint8_t>(0x80 | n.channel), n.key, 0});
    }
    std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) { return a.at < b.at; });

    std::vector<std::uint8_t> track = {0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, // 120 bpm
                                       0x00, 0xC0, 107,  0x00, 0xC1, 33,   0x00, 0xC2, 48};
    std::uint32_t now = 0;
    for (const Event& e : events) {
        ombura::appendVarLen(track, e.at - now);
        now = e.at;
        track.insert(track.end(), {e.status, e.key, e.velocity});
    }
    ombura::appendVarLen(track, 120 * 480 - now);
    track.insert(track.end(), {0xFF, 0x2F, 0x00});

    std::vector<std::uint8_t> file = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0, 'M', 'T', 'r', 'k'};
    ombura::appendBe32(file, static_cast<std::uint32_t>(track.size()));
    file.insert(file.end(), track.begin(), track.end());
    return file;
}

std::string benchTune(int argc, char** argv)
{
    if (argc > 1)
        return argv[1];
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
    const std::filesystem::path built = self.parent_path().parent_path() / "bgm.dat";
    if (std::filesystem::is_regular_file(built))
        return built.string();
    const std::filesystem::path made = std::filesystem::temp_directory_path() / "ombura-bench-minute.mid";
    const std::vector<std::uint8_t> bytes = minuteTune();
    std::ofstream(made, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return made.string();
}

struct OurRun {
    double cpu = 0;
    std::int64_t frames = 0;
    double stoppedLateMs = 0;
};

std::string mode(sound::MusicChannel& channel)
{
    char reply[16] = {};
    channel.send("status midifile mode", reply, 15);
    return reply;
}

// Open, play and render in output-sized blocks until the device reads "stopped".
OurRun playOurs(sound::MusicChannel& channel, const std::string& tune, std::int64_t endSample)
{
    channel.send("close midifile", nullptr, 0);
    std::vector<float> out(2 * kBlock);
    // The last run's final notes still ring, and a tune opened over them waits for their 8 ms
    // fade: let them end first, so that the lateness measured is the tune's own and not the
    // fade's (the game's restart, over its ringing ending, waits the same 8 ms once).
    for (int i = 0; channel.active() && i < 10 * static_cast<int>(sound::kSequenceRate) / kBlock; ++i)
        channel.render(out.data(), kBlock);
    channel.send("open " + tune + " type sequencer alias midifile", nullptr, 0);
    channel.waitUntilReady(60s);
    channel.send("play midifile", nullptr, 0);
    OurRun run;
    const double start = threadSeconds();
    while (mode(channel) == "playing") {
        std::fill(out.begin(), out.end(), 0.0f);
        channel.render(out.data(), kBlock);
        run.frames += kBlock;
    }
    run.cpu = threadSeconds() - start;
    run.stoppedLateMs = static_cast<double>(run.frames - endSample) * 1000.0 / sound::kSequenceRate;
    return run;
}

// FluidSynth's own offline rendering of the same file, with the same settings, for the same
// number of frames and in the same block size.
struct Reference {
    fluid_settings_t* settings = nullptr;
    fluid_synth_t* synth = nullptr;
};

Reference makeReference(const std::string& font)
{
    Reference r;
    r.settings = new_fluid_settings();
    fluid_settings_setnum(r.settings, "synth.sample-rate", 48000.0);
    fluid_settings_setint(r.settings, "synth.midi-channels", 16);
    fluid_settings_setint(r.settings, "synth.reverb.active", 0);
    fluid_settings_setint(r.settings, "synth.chorus.active", 0);
    fluid_settings_setint(r.settings, "synth.dynamic-sample-loading", 1);
    fluid_settings_setint(r.settings, "synth.lock-memory", 0);
    r.synth = new_fluid_synth(r.settings);
    fluid_synth_sfload(r.synth, font.c_str(), 1);
    return r;
}

double playReference(Reference& r, const std::string& tune, std::int64_t frames)
{
    fluid_synth_system_reset(r.synth);
    fluid_player_t* player = new_fluid_player(r.synth);
    fluid_player_add(player, tune.c_str());
    fluid_player_play(player);
    std::vector<float> out(2 * kBlock);
    const double start = threadSeconds();
    for (std::int64_t done = 0; done < frames; done += kBlock)
        fluid_synth_write_float(r.synth, kBlock, out.data(), 0, 2, out.data(), 1, 2);
    const double cpu = threadSeconds() - start;
    fluid_player_stop(player);
    fluid_player_join(player);
    delete_fluid_player(player);
    return cpu;
}

void quiet(int, const char*, void*)
{ }

} // namespace

int main(int argc, char** argv)
{
    for (int level = FLUID_PANIC; level < LAST_LOG_LEVEL; ++level)
        fluid_set_log_function(level, quiet, nullptr);

    const std::string tune = benchTune(argc, argv);
    const std::optional<std::string> font = sound::findSoundFont();
    const sound::MidiLoad load = sound::loadMidiFile(tune);
    if (!font || !load.sequence) {
        std::fprintf(stderr, "bench_music: %s\n", font ? "the tune does not load" : "no SoundFont installed");
        return 1;
    }
    const std::int64_t endSample = load.sequence->endSample;
    std::fprintf(stderr, "tune %s (%.1f s), font %s\n", tune.c_str(),
                 static_cast<double>(endSample) / sound::kSequenceRate, font->c_str());

    sound::MusicChannel channel;
    channel.waitUntilReady(60s);
    playOurs(channel, tune, endSample); // warms the page cache and loads the instruments
    const double rss = peakRssMiB();

    Reference reference = makeReference(*font);
    playReference(reference, tune, endSample);

    std::vector<double> ratios;
    double worstLate = 0;
    for (int i = 0; i < kRuns; ++i) {
        const OurRun ours = playOurs(channel, tune, endSample);
        const double theirs = playReference(reference, tune, ours.frames);
        ratios.push_back(ours.cpu / theirs);
        worstLate = std::max(worstLate, ours.stoppedLateMs);
        std::fprintf(stderr, "run %d: ours %.3f s cpu, fluidsynth player %.3f s cpu, stopped %.2f ms late\n", i + 1,
                     ours.cpu, theirs, ours.stoppedLateMs);
    }

    std::printf("music_render_ratio %.3f\n", median(ratios));
    std::printf("music_end_to_stopped_ms %.2f\n", worstLate);
    std::printf("music_peak_rss_mib %.1f\n", rss);
    return 0;
}
