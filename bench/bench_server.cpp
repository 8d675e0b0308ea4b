// SPDX-License-Identifier: GPL-3.0-or-later

// Drives the real audio engine the way the game does, so that a sound server's side of the
// path can be measured from outside (bench/sound_server.py records the server's monitor):
//
//   bench_server effects <presses> <data-folder>   the spin sound alone, 150-400 ms apart
//   bench_server music <seconds> <data-folder>     the tune, restarted when it ends, with a
//                                                   press every 0.3-1.2 s over it
//
// Prints `driver`, `frames` and one `press <monotonic ns>` line per accepted request, taken
// just before the request, on the clock Python's time.monotonic() reads; in music, one
// `restart <monotonic ns>` line each time the tune is opened again at its end.

#include "AudioEngine.h"
#include "Multimedia32.h"

#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>

using namespace sound;
using namespace std::chrono_literals;

namespace {

long long monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

template <typename Predicate>
bool waitFor(Predicate done, std::chrono::milliseconds limit)
{
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: bench_server effects|music <count-or-seconds> <data-folder>\n");
        return 2;
    }
    const std::string mode = argv[1];
    const int amount = std::atoi(argv[2]);
    const std::string data = std::string(argv[3]) + "/";
    const std::string spin = data + "kuruiya.dat";
    const bool music = mode == "music";

    // BENCH_FRAMES tries another block size than the one the output picks for the driver.
    SdlOutput::Options options;
    if (const char* frames = std::getenv("BENCH_FRAMES"))
        options.framesPerBuffer = std::atoi(frames);
    if (const char* stall = std::getenv("BENCH_STALL_MS"))
        options.stallAfter = std::chrono::milliseconds(std::atoi(stall));
    auto engine = std::make_unique<AudioEngine>(
        AudioEngine::Output::Device,
        music ? std::make_unique<MusicChannel>() : std::make_unique<MusicChannel>(std::nullopt), options);
    Multimedia32 mm(*engine);
    SdlOutput& output = *engine->output();

    // Open the device and let the server settle before anything is timed.
    mm.PlayEffect(spin, 0);
    if (!waitFor([&] { return output.state() == SdlOutput::State::Running; }, 5000ms)) {
        std::fprintf(stderr, "bench_server: no audio device\n");
        return 1;
    }
    std::printf("driver %s\nframes %d\n", output.driver().c_str(), output.framesPerBuffer());
    std::fflush(stdout);

    std::mt19937 random(2026);
    if (music) {
        mm.OpenMusic(data + "bgm.dat");
        mm.RestartMusic();
        std::uniform_int_distribution<int> gapMs(300, 1200);
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(amount);
        auto nextPress = std::chrono::steady_clock::now() + 1s;
        while (std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(50ms);
            if (mm.GetMusicMode() == "STOPPED") {
                std::printf("restart %lld\n", monotonicNs());
                mm.OpenMusic(data + "bgm.dat");
                mm.RestartMusic();
            }
            if (std::getenv("BENCH_NO_PRESSES") == nullptr && std::chrono::steady_clock::now() >= nextPress) {
                const long long t = monotonicNs();
                if (engine->sndPlaySound(spin, Multimedia32::effectFlags(0)))
                    std::printf("press %lld\n", t);
                nextPress = std::chrono::steady_clock::now() + std::chrono::milliseconds(gapMs(random));
            }
            std::fflush(stdout);
        }
    } else {
        waitFor([&] { return !engine->effects().active(); }, 5000ms);
        std::uniform_int_distribution<int> gapMs(150, 400);
        for (int i = 0; i < amount; ++i) {
            // The spin lasts 0.55 s; the pause comes after it has left the mixer, so that the
            // sink is silent again when the next press is timed.
            if (!waitFor([&] { return !engine->effects().active(); }, 5000ms))
                continue;
            std::this_thread::sleep_for(std::chrono::milliseconds(gapMs(random)));
            const long long t = monotonicNs();
            if (engine->sndPlaySound(spin, Multimedia32::effectFlags(0)))
                std::printf("press %lld\n", t);
            std::fflush(stdout);
        }
        waitFor([&] { return !engine->effects().active(); }, 5000ms);
    }
    std::printf("losses %d\n", output.losses());
    return 0;
}
