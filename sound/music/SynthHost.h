// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "MidiFile.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace sound {

class FluidSynthEngine;

// Where Debian and its neighbours put General MIDI SoundFonts, best first. The two default-GM
// names are the system's own choice (an alternatives link), so they come first; then the fonts by
// name, the fuller one before the small one.
inline constexpr std::array<std::string_view, 9> kSoundFontPlaces{
    "/usr/share/sounds/sf2/default-GM.sf2", "/usr/share/sounds/sf3/default-GM.sf3",
    "/usr/share/sounds/sf2/FluidR3_GM.sf2", "/usr/share/sounds/sf3/FluidR3_GM.sf3",
    "/usr/share/sounds/sf2/TimGM6mb.sf2",   "/usr/share/sounds/sf3/MuseScore_General.sf3",
    "/usr/share/soundfonts/default.sf2",    "/usr/share/soundfonts/FluidR3_GM.sf2",
    "/usr/share/soundfonts/default.sf3",
};

// The first of `places` that is a readable regular file.
std::optional<std::string> findSoundFont(std::span<const std::string_view> places = kSoundFontPlaces);

// Brings the synthesiser up on a thread of its own, so that reading a SoundFont never holds up
// the window, and then loads the instruments of each tune that is opened. The audio thread
// reads state() and engine(); the UI thread only queues work.
//
// The fonts are tried best first. One that is there but will not load (broken, refused, or a
// dangling choice of the system's) gives way to the next, and so does one that cannot give a
// tune its instruments. A file reached twice (default-GM.sf2 is a link to one of the others) is
// tried once, under its own name, so a link changed while the game runs changes nothing.
class SynthHost {
public:
    enum class State { Loading, Ready, Absent };

    // When the loader thread begins: at once, or only when start() is called, so that a
    // program can keep the work off its start-up path. Until then the host reads Loading.
    enum class Start { Now, WhenTold };

    // Without a place there will never be a synthesiser, and no thread is started.
    SynthHost(std::vector<std::string> places, Start start);
    ~SynthHost();

    // Owner's thread: begins loading, if it has not begun; later calls do nothing.
    void start();

    State state() const { return state_.load(std::memory_order_acquire); }
    // Valid once state() is Ready, for as long as the host lives. Another one takes its place
    // when its font cannot give a tune its instruments and the next font can: read
    // preparedSerial() first, and the engine read after it is the one that tune was prepared on.
    FluidSynthEngine* engine() const { return engine_.load(std::memory_order_acquire); }

    // UI thread: load the instruments of the tune opened under `serial`. Only the newest
    // request counts; an older one not yet started is dropped. A tune with the very messages of
    // the last one prepared counts as prepared at once.
    void prepare(std::shared_ptr<const MidiSequence> tune, std::uint64_t serial);
    // The serial of the newest tune whose instruments are loaded.
    std::uint64_t preparedSerial() const { return prepared_.load(std::memory_order_acquire); }

    // The sequencer's: a cut (stop, close, a new tune) was asked for while something sounded,
    // and the audio thread has not faded it out yet. Meanwhile the loader waits a little before
    // it takes the synthesiser: a fade it cut short would end in a step.
    std::atomic<bool> cutting{false};

    // For tests and tools: waits until loading and every queued request are done (or the
    // timeout has passed, as it will while a WhenTold host is still waiting for start()).
    bool waitUntilIdle(std::chrono::milliseconds timeout);

private:
    struct Request {
        std::shared_ptr<const MidiSequence> tune;
        std::uint64_t serial = 0;
    };

    void run();
    // Loader thread: the next font on the list that FluidSynth loads, or null when none is left.
    std::unique_ptr<FluidSynthEngine> nextFont();
    // Loader thread: prepares `tune` on the engine in use, or else on the first of the next fonts
    // that can give it its instruments, which then takes the engine's place.
    void prepareOnAnEngine(const MidiSequence& tune);

    // The loader thread's, once started.
    std::vector<std::string> places_;
    std::size_t nextPlace_ = 0;
    std::vector<std::filesystem::path> tried_;
    // Every engine that has been in use, kept until the host goes: the audio thread may still
    // hold the one replaced.
    std::vector<std::unique_ptr<FluidSynthEngine>> engines_;

    // The loader thread writes these; the audio thread reads them without a lock.
    std::atomic<State> state_{State::Loading};
    std::atomic<FluidSynthEngine*> engine_{nullptr};
    std::atomic<std::uint64_t> prepared_{0};

    // The rest is shared by the UI and the loader thread under mutex_; changed_ wakes the loader
    // for a request and the waiters in waitUntilIdle() when it is done.
    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<Request> request_;
    std::shared_ptr<const MidiSequence> preparedTune_; // that of the last request done
    bool busy_ = true; // loading a font or preparing a tune
    bool quit_ = false;
    std::thread thread_;
};

} // namespace sound
