// SPDX-License-Identifier: GPL-3.0-or-later

// What the player hears, measured offline through the real engine and with libebur128:
//
//   bench_mix <data folder> [cuts] [requests]
//
// loudness_gap_lu      the widest gap between the shipped tune (FluidSynth, the system's SoundFont,
//                      EBU R128 integrated loudness) and any of the three shipped effects (spin,
//                      warning, slash, each its loudness while it sounds); each effect's own
//                      gap is printed as <effect>_gap_lu, positive when it is the louder
// mix_true_peak_dbtp   the highest true peak of the tune, each effect, and the tune with each
//                      effect on top as the game requests it: a spin every 0.6 s, the warning
//                      every second, a slash every second
// music_cut_step_dbfs  at every cut of the music (Stop, the game over, the watchdog's restart,
//                      at moments spread over the tune), the step into silence: the last sample
//                      the cut lets through before the output falls silent for good
// exit_cut_step_dbfs   the same step at the end of the program (終了, the window closed, a quit
//                      signal), with the tune playing and, every other time, a spin sounding
// resampler_stopband_db  how far down the converter's response is at the source's Nyquist
//                      frequency, 22050 -> 48000, from its impulse response
// effect_request_p99_ms  the first request of a 3-minute 44.1 kHz stereo WAV: how long the
//                      play-sound call takes to return, the file decoded at start-up

#include "AudioEngine.h"
#include "BenchSupport.h"
#include "MixMeasure.h"
#include "Multimedia32.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

using namespace sound;
using Clock = std::chrono::steady_clock;

namespace {

// Three minutes of 44.1 kHz 16-bit stereo: a song someone dropped in as kuruiya.dat.
std::string writeSong(const std::filesystem::path& dir)
{
    const std::uint32_t rate = 44100;
    const auto path = (dir / "kuruiya.dat").string();
    bench::writeWav16(path, rate, 2, rate * 180, [](std::uint32_t i) {
        return static_cast<std::int16_t>(8000 * std::sin(2 * std::numbers::pi * 220 * (i % rate) / rate));
    });
    return path;
}

std::vector<float> render(AudioEngine& engine, double seconds)
{
    const auto frames = static_cast<std::size_t>(seconds * kOutputRate);
    std::vector<float> out(frames * 2);
    for (std::size_t done = 0; done < frames;) {
        const int n = static_cast<int>(std::min<std::size_t>(512, frames - done));
        engine.mixer().render(out.data() + done * 2, n);
        done += static_cast<std::size_t>(n);
    }
    return out;
}

// The step into silence after a cut: the last sample that is not zero, in the part of `after`
// that is followed only by zeros. Zero when the output never fell silent (a restart).
double stepIntoSilence(const std::vector<float>& after, bool& silenced)
{
    std::size_t last = after.size();
    while (last > 0 && after[last - 1] == 0.0f)
        --last;
    silenced = last < after.size();
    if (!silenced)
        return 0;
    // `last` is one past the final sound sample; its frame's two channels.
    const std::size_t frame = (last - 1) / 2;
    return std::max(std::fabs(after[frame * 2]), std::fabs(after[frame * 2 + 1]));
}

} // namespace

int main(int argc, char** argv)
{
    const std::string data = argc > 1 ? argv[1] : "build";
    const int cuts = argc > 2 ? std::atoi(argv[2]) : 60;
    const int requests = argc > 3 ? std::atoi(argv[3]) : 100;
    const std::string tune = data + "/bgm.dat";
    const std::string spin = data + "/kuruiya.dat";

    // Loudness and peaks.
    const auto tuneRender = mixmeasure::renderTune(tune, "", 48.0);
    if (!tuneRender) {
        std::fprintf(stderr, "bench_mix: no SoundFont or no FluidSynth\n");
        return 1;
    }
    const auto music = mixmeasure::measure(*tuneRender);
    std::printf("tune_loudness_lufs %.2f\n", music.integratedLufs);
    std::printf("tune_true_peak_dbtp %.2f\n", music.truePeakDbtp);
    const struct {
        const char* name;
        std::string path;
        double every; // seconds between requests, as the game makes them at their most often
    } effects[] = {
        {"spin", spin, 0.6},
        {"warning", data + "/keikoku.dat", 1.0},
        {"slash", data + "/zaku.dat", 1.0},
    };
    double widestGap = 0;
    double truePeak = music.truePeakDbtp;
    for (const auto& e : effects) {
        const std::vector<float> alone = mixmeasure::renderEffect(e.path);
        const double loudness = mixmeasure::soundingLoudness(alone);
        const double gap = loudness - music.integratedLufs;
        const auto peak = mixmeasure::measure(alone).truePeakDbtp;
        const auto game = mixmeasure::measure(*mixmeasure::renderGame(tune, e.path, "", 48.0, e.every));
        std::printf("%s_loudness_lufs %.2f\n", e.name, loudness);
        std::printf("%s_gap_lu %+.2f\n", e.name, gap);
        std::printf("%s_true_peak_dbtp %.2f\n", e.name, peak);
        std::printf("tune_with_%s_true_peak_dbtp %.2f\n", e.name, game.truePeakDbtp);
        widestGap = std::max(widestGap, std::fabs(gap));
        truePeak = std::max({truePeak, peak, game.truePeakDbtp});
    }
    std::printf("loudness_gap_lu %.2f\n", widestGap);
    std::printf("mix_true_peak_dbtp %.2f\n", truePeak);

    // Cuts at moments spread over the tune, each kind in turn.
    double worst = 0;
    int silencedCuts = 0;
    for (int i = 0; i < cuts; ++i) {
        AudioEngine engine(AudioEngine::Output::None, std::make_unique<MusicChannel>());
        Multimedia32 mm(engine);
        mm.OpenMusic(tune);
        engine.music().waitUntilReady(std::chrono::seconds(60));
        mm.RestartMusic();
        // From 0.5 s to 50 s, never twice at the same phase of a beat.
        render(engine, 0.5 + 49.5 * ((i * 0.6180339887) - std::floor(i * 0.6180339887)));
        switch (i % 3) {
        case 0: // Stop
            mm.OpenMusic(tune);
            break;
        case 1: // the game over
            mm.CloseMusic();
            break;
        default: // the watchdog's restart
            mm.CloseMusic();
            mm.OpenMusic(tune);
            break;
        }
        bool silenced = false;
        worst = std::max(worst, stepIntoSilence(render(engine, 0.1), silenced));
        silencedCuts += silenced ? 1 : 0;
    }
    std::printf("music_cuts_measured %d\n", silencedCuts);
    std::printf("music_cut_step_dbfs %.1f\n", mixmeasure::dbfs(worst));

    // The end of the program, at moments spread over the tune.
    double worstExit = 0;
    int silencedExits = 0;
    for (int i = 0; i < cuts / 2; ++i) {
        AudioEngine engine(AudioEngine::Output::None, std::make_unique<MusicChannel>());
        Multimedia32 mm(engine);
        mm.OpenMusic(tune);
        engine.music().waitUntilReady(std::chrono::seconds(60));
        mm.RestartMusic();
        render(engine, 0.5 + 49.5 * ((i * 0.7548776662) - std::floor(i * 0.7548776662)));
        if (i % 2 == 1) {
            mm.PlayEffect(spin, 0);
            engine.effects().settle();
            render(engine, 0.02 + 0.01 * (i % 5));
        }
        engine.shutDown();
        bool silenced = false;
        worstExit = std::max(worstExit, stepIntoSilence(render(engine, 0.1), silenced));
        silencedExits += silenced ? 1 : 0;
    }
    std::printf("exit_cuts_measured %d\n", silencedExits);
    std::printf("exit_cut_step_dbfs %.1f\n", mixmeasure::dbfs(worstExit));

    // The converter's response at the source's Nyquist frequency, where an image would sit.
    std::printf("resampler_passband_10khz_db %.2f\n", mixmeasure::converterGainDb(10000).value_or(0));
    std::printf("resampler_stopband_db %.1f\n", -mixmeasure::converterGainDb(11025).value_or(0));

    // The first request of a large file, each time in a fresh engine that decoded it at start-up.
    const auto dir = std::filesystem::temp_directory_path() / ("ombura-bench-mix-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string song = writeSong(dir);
    std::vector<double> requestMs;
    for (int i = 0; i < requests; ++i) {
        AudioEngine engine(AudioEngine::Output::None, std::make_unique<MusicChannel>(std::nullopt));
        Multimedia32 mm(engine);
        // As in the game: the window is up and the background work has begun before any press.
        engine.startBackgroundWork({song});
        engine.effects().settle();
        const auto t0 = Clock::now();
        mm.PlayEffect(song, 0);
        requestMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        engine.effects().settle();
    }
    std::filesystem::remove_all(dir);
    std::printf("effect_request_max_ms %.3f\n", bench::percentile(requestMs, 100));
    std::printf("effect_request_p99_ms %.3f\n", bench::percentile(requestMs, 99));
    return 0;
}
