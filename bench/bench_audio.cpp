// SPDX-License-Identifier: GPL-3.0-or-later

// Press-to-sound latency of the effect path, measured on the mixer's own sample clock with the
// SDL output running in real time (SDL's dummy driver unless SDL_AUDIODRIVER says otherwise).
//
//   bench_audio [frames-per-buffer] [requests]
//
// Prints `name value` lines; press_to_sample_ms is the 99th percentile over the requests.
// exit_wait_ms is what the end of the program waits for the sound, the worst of 20 ends with an
// effect sounding: the fade (exit_fade_wait_ms: until the block that ends it has been mixed)
// and closing the device (ending the output's thread and SDL's, which plays out two blocks).

#include "AudioEngine.h"
#include "BenchSupport.h"
#include "MixerClock.h"
#include "SdlOutput.h"

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace sound;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// A short falling whirr at 22050 Hz, 16-bit mono: the shape and rate of a typical effect file,
// so the request also pays for the cache lookup it would pay in the game.
std::string writeSpinSound(const std::filesystem::path& dir, double seconds)
{
    const int rate = 22050;
    const auto frames = static_cast<std::uint32_t>(seconds * rate);
    const auto path = (dir / "kuruiya bench.dat").string();
    bench::writeWav16(path, rate, 1, frames, [](std::uint32_t i) {
        const double t = static_cast<double>(i) / rate;
        const double v = 0.5 * std::exp(-t * 8) * std::sin(2 * std::numbers::pi * (900 - 600 * t) * t);
        return static_cast<std::int16_t>(std::lround(v * 32767));
    });
    return path;
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

template <typename Predicate>
bool waitFor(Predicate done, std::chrono::milliseconds limit)
{
    const auto until = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > until)
            return false;
        std::this_thread::sleep_for(100us);
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    const int framesPerBuffer = argc > 1 ? std::atoi(argv[1]) : 512;
    const int requests = argc > 2 ? std::atoi(argv[2]) : 1000;

    const auto dir = std::filesystem::temp_directory_path() / ("ombura-bench-audio-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string spin = writeSpinSound(dir, 0.03);

    SdlOutput::Options options;
    options.framesPerBuffer = framesPerBuffer;
    AudioEngine engine(AudioEngine::Output::Device, std::make_unique<MusicChannel>(std::nullopt), options);
    Mixer& mixer = engine.mixer();
    bench::MixerClock clock(mixer);
    const std::uint32_t gameFlags = SoundFlag::Async | SoundFlag::NoDefault | SoundFlag::NoStop;

    // Open the device and warm the cache. The first sound opens it: SDL's set-up, its driver
    // and the device, on the output's thread.
    {
        const auto t0 = Clock::now();
        engine.sndPlaySound(spin, gameFlags);
        waitFor([&] { return engine.output()->state() == SdlOutput::State::Running; }, 2000ms);
        std::printf("sdl_open_ms %.2f\n", std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    for (int i = 0; i < 20; ++i) {
        engine.sndPlaySound(spin, gameFlags);
        waitFor([&] { return !engine.effects().active(); }, 2000ms);
    }
    if (engine.output()->state() != SdlOutput::State::Running) {
        std::fprintf(stderr, "bench_audio: no audio device (try SDL_AUDIODRIVER=dummy)\n");
        return 1;
    }

    std::mt19937 random(12345);
    std::uniform_int_distribution<int> pauseUs(1000, 16000);
    std::vector<double> sampleMs;
    std::vector<double> wallMs;
    int refused = 0;
    for (int i = 0; i < requests; ++i) {
        // Presses come at any moment relative to the device's beat.
        std::this_thread::sleep_for(std::chrono::microseconds(pauseUs(random)));
        const std::uint64_t before = mixer.effectStarts();
        const double requestFrame = clock.now();
        const auto requestTime = Clock::now();
        if (!engine.sndPlaySound(spin, gameFlags)) {
            ++refused;
            continue;
        }
        if (!waitFor([&] { return mixer.effectStarts() > before; }, 1000ms)) {
            std::fprintf(stderr, "bench_audio: effect never reached the mixer\n");
            return 1;
        }
        const auto first = static_cast<double>(clock.lastEffectStartFrame());
        sampleMs.push_back((first - requestFrame) * 1000.0 / kOutputRate);
        wallMs.push_back(std::chrono::duration<double, std::milli>(clock.lastEffectStartTime() - requestTime).count());
        waitFor([&] { return !engine.effects().active(); }, 2000ms);
    }

    std::printf("audio_frames_per_buffer %d\n", engine.output()->framesPerBuffer());
    std::printf("press_to_sample_p50_ms %.2f\n", bench::percentile(sampleMs, 50));
    std::printf("press_to_sample_max_ms %.2f\n", bench::percentile(sampleMs, 100));
    std::printf("press_to_sample_wall_p99_ms %.2f\n", bench::percentile(wallMs, 99));
    std::printf("press_to_sample_refused %d\n", refused);
    std::printf("press_to_sample_ms %.2f\n", bench::percentile(sampleMs, 99));

    // Idle: once nothing has sounded for the close delay the device is gone and the process
    // should use no CPU at all for audio.
    waitFor([&] { return engine.output()->state() == SdlOutput::State::Closed; }, 10000ms);
    const double cpu0 = cpuSeconds();
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(3s);
    const double idle = (cpuSeconds() - cpu0) / std::chrono::duration<double>(Clock::now() - t0).count();
    std::printf("audio_idle_cpu_percent %.3f\n", idle * 100);

    // The end of the program, each time on a fresh device and somewhere else in its block.
    const std::string longSound = writeSpinSound(dir, 1.0);
    std::vector<double> fadeMs;
    std::vector<double> closeMs;
    std::vector<double> exitMs;
    for (int i = 0; i < 20; ++i) {
        AudioEngine ending(AudioEngine::Output::Device, std::make_unique<MusicChannel>(std::nullopt), options);
        ending.sndPlaySound(longSound, gameFlags);
        if (!waitFor([&] { return ending.mixer().effectStarts() > 0; }, 2000ms)) {
            std::fprintf(stderr, "bench_audio: the effect never sounded\n");
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(pauseUs(random)) + 50ms);
        const auto fadeStart = Clock::now();
        // What shutDown() does first, done here so that the two parts can be timed apart.
        ending.mixer().fadeOut(Mixer::Fade::Ramp);
        waitFor(
            [&] {
                const auto from = ending.mixer().silentFrom();
                return from && ending.mixer().framesMixed() >= *from;
            },
            1000ms);
        const auto t1 = Clock::now();
        ending.shutDown();
        const auto t2 = Clock::now();
        fadeMs.push_back(std::chrono::duration<double, std::milli>(t1 - fadeStart).count());
        closeMs.push_back(std::chrono::duration<double, std::milli>(t2 - t1).count());
        exitMs.push_back(std::chrono::duration<double, std::milli>(t2 - fadeStart).count());
    }
    std::printf("exit_fade_wait_p50_ms %.2f\n", bench::percentile(fadeMs, 50));
    std::printf("exit_fade_wait_ms %.2f\n", bench::percentile(fadeMs, 100));
    std::printf("exit_close_ms %.2f\n", bench::percentile(closeMs, 100));
    std::printf("exit_wait_ms %.2f\n", bench::percentile(exitMs, 100));

    std::filesystem::remove_all(dir);
    return 0;
}
