// SPDX-License-Identifier: GPL-3.0-or-later

// The engine as the application uses it. CTest runs this program three times: with SDL's dummy
// driver (a device that really pulls the mixer in real time), with a driver name that does not
// exist (no device at all), and with SDL_AUDIODRIVER unset (whatever this machine has).

#include "AudioEngine.h"
#include "Eventually.h"
#include "Multimedia32.h"
#include "WavBytes.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <optional>
#include <thread>
#include <vector>

using namespace sound;
using namespace wavtest;
using testing_support::eventually;
using namespace std::chrono_literals;

namespace {

enum class Expect { Device, NoDevice, Unknown };

Expect expectation()
{
    const char* driver = std::getenv("SDL_AUDIODRIVER");
    if (driver == nullptr)
        return Expect::Unknown;
    return std::string(driver) == "dummy" ? Expect::Device : Expect::NoDevice;
}

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        spin = dir.file("kuruiya.dat").string();
        writeFile(spin, levelWav(4800, 8192)); // 100 ms
    }

    std::unique_ptr<AudioEngine> deviceEngine()
    {
        SdlOutput::Options options;
        options.closeAfter = 1000ms;
        return std::make_unique<AudioEngine>(AudioEngine::Output::Device, std::make_unique<MusicChannel>(std::nullopt),
                                             options);
    }

    OddTempDir dir;
    std::string spin;
};

} // namespace

TEST_F(EngineTest, OfflineEngineServesBothCallsAndMixesTheEffect)
{
    AudioEngine engine(AudioEngine::Output::None, std::make_unique<MusicChannel>(std::nullopt));
    EXPECT_EQ(engine.output(), nullptr);

    char reply[16] = {};
    EXPECT_NE(engine.mciSendString("status midifile mode", reply, 15), 0u) << "nothing is open yet";
    EXPECT_STREQ(reply, "");

    Multimedia32 mm(engine);
    mm.PlayEffect(spin, 0);
    EXPECT_TRUE(engine.effects().active());
    engine.effects().settle();
    std::vector<float> out(512 * 2);
    engine.mixer().render(out.data(), 512);
    EXPECT_FLOAT_EQ(out[200 * 2], 0.25f * 0.25f) << "the effects' gain in the mix is 0.25";
    EXPECT_EQ(engine.mixer().effectStarts(), 1u);
    EXPECT_FALSE(engine.sndPlaySound(spin, 19)) << "refused while the spin still sounds";
}

TEST_F(EngineTest, PlaysThroughTheDeviceOrStaysSilentWithoutOne)
{
    auto engine = deviceEngine();
    SdlOutput& output = *engine->output();
    EXPECT_EQ(output.state(), SdlOutput::State::Closed) << "nothing opens before the first sound";
    EXPECT_EQ(output.openAttempts(), 0);

    EXPECT_TRUE(engine->sndPlaySound(spin, 19));
    ASSERT_TRUE(eventually([&] { return !engine->effects().active(); })) << "the effect ends, rendered or timed out";

    switch (expectation()) {
    case Expect::Device: {
        EXPECT_EQ(output.state(), SdlOutput::State::Running);
        EXPECT_GT(output.framesPerBuffer(), 0);
        EXPECT_LE(output.framesPerBuffer(), 512);
        EXPECT_GE(engine->mixer().framesMixed(), 4800u);
        EXPECT_EQ(engine->mixer().effectStarts(), 1u);
        // Quiet, it pauses; closed a second later (closeAfter), and it comes back for the next
        // sound.
        EXPECT_TRUE(eventually([&] { return output.state() == SdlOutput::State::Paused; }));
        const auto paused = std::chrono::steady_clock::now();
        EXPECT_TRUE(eventually([&] { return output.state() == SdlOutput::State::Closed; }));
        EXPECT_GE(std::chrono::steady_clock::now() - paused, 500ms) << "paused for a while first";
        EXPECT_TRUE(engine->sndPlaySound(spin, 19));
        EXPECT_TRUE(eventually([&] { return engine->mixer().effectStarts() == 2; }));
        EXPECT_EQ(output.openAttempts(), 2);
        break;
    }
    case Expect::NoDevice:
        EXPECT_TRUE(eventually([&] { return output.state() == SdlOutput::State::Failed; }));
        EXPECT_EQ(engine->mixer().framesMixed(), 0u) << "silent: nothing pulled the mixer";
        // Without a device, opening is tried at most once every half second, however many
        // sounds ask for it.
        for (int i = 0; i < 10; ++i) {
            output.wake();
            std::this_thread::sleep_for(20ms);
        }
        EXPECT_LE(output.openAttempts(), 2);
        break;
    case Expect::Unknown:
        break;
    }
}

TEST_F(EngineTest, SynchronousRequestReturnsWithOrWithoutADevice)
{
    // With a device the caller waits until the last sample is mixed; without one, the
    // sound's length (EffectPlayerTest times that on a clock of its own).
    auto engine = deviceEngine();
    EXPECT_TRUE(engine->sndPlaySound(spin, 0));
    EXPECT_FALSE(engine->effects().active());
    if (expectation() == Expect::Device) {
        // The block that held the last sample may still be finishing in the mixer.
        EXPECT_TRUE(eventually([&] { return engine->mixer().framesMixed() >= 4800u; }));
    }

    // An unplayable file without no-default: the beep, also waited for.
    EXPECT_FALSE(engine->sndPlaySound(dir.file("missing.dat").string(), 0));
    EXPECT_FALSE(engine->effects().active());
}

TEST_F(EngineTest, MusicWakesTheOutputAndTheEngineShutsDownCleanly)
{
    // Whatever the music channel answers without a SoundFont, the command reaches it and the
    // engine survives being destroyed with the device in any state.
    for (int round = 0; round < 3; ++round) {
        auto engine = deviceEngine();
        engine->mciSendString("open " + spin + " type sequencer alias midifile", nullptr, 0);
        engine->mciSendString("play midifile", nullptr, 0);
        EXPECT_TRUE(engine->sndPlaySound(spin, 27)) << "a fresh engine takes the looping effect";
        std::this_thread::sleep_for(std::chrono::milliseconds(20 * round));
    }
}

// The program's engine waits for the go before it starts anything on the output's thread, and
// the go opens no device.
TEST_F(EngineTest, OpensNoDeviceUntilASoundComes)
{
    auto engine = std::make_unique<AudioEngine>(
        AudioEngine::Output::Device, std::make_unique<MusicChannel>(std::nullopt, MusicChannel::Start::WhenTold));
    engine->startBackgroundWork();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(engine->output()->openAttempts(), 0) << "the go opens no device";
    engine->startBackgroundWork();

    // Before the go as after it, a sound is served at once.
    auto early = std::make_unique<AudioEngine>(
        AudioEngine::Output::Device, std::make_unique<MusicChannel>(std::nullopt, MusicChannel::Start::WhenTold));
    EXPECT_TRUE(early->sndPlaySound(spin, 19));
    EXPECT_TRUE(eventually([&] { return !early->effects().active(); }));
}

namespace {

// Reads a FIFO for as long as it is told to, and holds it open without reading otherwise:
// to SDL's disk driver writing into it, that is a device that stops taking sound, as a
// PipeWire stream does when its server dies.
class FifoReader {
public:
    explicit FifoReader(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_NONBLOCK))
    {
        thread_ = std::thread([this] {
            std::vector<char> buffer(1 << 16);
            while (!quit_.load()) {
                if (reading_.load() && ::read(fd_, buffer.data(), buffer.size()) > 0)
                    continue;
                std::this_thread::sleep_for(2ms);
            }
        });
    }
    ~FifoReader()
    {
        quit_.store(true);
        thread_.join();
        ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    void setReading(bool reading) { reading_.store(reading); }

private:
    int fd_;
    std::atomic<bool> reading_{true};
    std::atomic<bool> quit_{false};
    std::thread thread_;
};

} // namespace

// SDL's disk driver writing into a FIFO that the test stops reading. CTest runs every case in a
// process of its own; the driver is put back for whatever runs after it in this one.
TEST_F(EngineTest, ADeviceThatStopsTakingSoundIsClosedAndTheNextSoundOpensAnother)
{
    const std::string fifo = dir.file("device fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const char* old = std::getenv("SDL_AUDIODRIVER");
    const std::optional<std::string> oldDriver = old ? std::optional<std::string>(old) : std::nullopt;
    ::setenv("SDL_AUDIODRIVER", "disk", 1);
    ::setenv("SDL_DISKAUDIOFILE", fifo.c_str(), 1);
    struct Restore {
        std::optional<std::string> driver;
        ~Restore() { driver ? ::setenv("SDL_AUDIODRIVER", driver->c_str(), 1) : ::unsetenv("SDL_AUDIODRIVER"); }
    } restore{oldDriver};
    FifoReader reader(fifo);
    ASSERT_TRUE(reader.ok());

    SdlOutput::Options options;
    options.pauseAfter = 60s; // the device keeps running while the test waits
    options.stallAfter = 300ms;
    AudioEngine engine(AudioEngine::Output::Device, std::make_unique<MusicChannel>(std::nullopt), options);
    SdlOutput& output = *engine.output();
    ASSERT_TRUE(engine.sndPlaySound(spin, 19));
    ASSERT_TRUE(eventually([&] { return engine.mixer().framesMixed() >= 48000u; }, 10000ms)) << "a second of sound";
    EXPECT_EQ(output.losses(), 0) << "a device that takes its sound is kept";

    reader.setReading(false);
    EXPECT_TRUE(eventually([&] { return output.losses() == 1; }, 5000ms)) << "stalled, taken for lost";
    reader.setReading(true); // closing waits for SDL's thread, which waits for its write
    EXPECT_TRUE(eventually([&] { return output.state() == SdlOutput::State::Closed; }));
    EXPECT_FALSE(output.rendering()) << "effects run out in real time meanwhile";

    const std::uint64_t before = engine.mixer().framesMixed();
    EXPECT_TRUE(engine.sndPlaySound(spin, 19));
    EXPECT_TRUE(eventually([&] { return engine.mixer().framesMixed() > before + 4800u; }))
        << "the next sound opens the device again";
    EXPECT_EQ(output.openAttempts(), 2);
    EXPECT_EQ(output.driver(), "disk");
}
