#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// Everything this program asks of SDL, behind plain types: decoding a RIFF WAVE image and
// running one audio device. No other file includes SDL. SDL is opened at run time on the first
// call of any of these; without it nothing decodes and no device opens.
namespace sound::sdl {

enum class SampleEncoding { U8, S16, S32, F32 };

// Decoded samples as SDL hands them over, still in the file's rate and channel count.
struct RawSamples {
    SampleEncoding encoding = SampleEncoding::S16;
    int channels = 0;
    int rate = 0;
    std::vector<std::uint8_t> bytes;
};

// Opens SDL now, so that later calls find it ready; true when it is usable. Slow the first
// time: keep it off the UI thread.
bool loadLibrary();

// Decodes a whole WAVE file image. The caller has checked its layout already; this only
// refuses what SDL itself refuses or what it returns in an unexpected shape.
std::optional<RawSamples> decodeWave(std::span<const std::uint8_t> image);

// Pulls `frames` interleaved stereo float frames at 48000 Hz into `out` (overwriting them).
using PullFunction = void (*)(void* user, float* out, int frames);

// One opened output device. The functions below may block for a while (driver start-up,
// joining SDL's audio thread), so the output calls them from its own helper thread only.
struct OpenedDevice {
    std::uint32_t id = 0;
    int framesPerBuffer = 0;
};

bool initAudio();
void quitAudio();
std::optional<OpenedDevice> openDevice(int framesPerBuffer, PullFunction pull, void* user);
void pauseDevice(std::uint32_t id, bool paused);
// True once the device has gone away under us (unplugged, server gone): it pulls no more.
bool deviceLost(std::uint32_t id);
void closeDevice(std::uint32_t id);
// A thread of ours that called SDL is about to end: SDL keeps its last error message for it,
// and only frees that for threads it started itself.
void releaseThread();

} // namespace sound::sdl
