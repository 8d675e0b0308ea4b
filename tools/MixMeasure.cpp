// SPDX-License-Identifier: GPL-3.0-or-later

#include "MixMeasure.h"

#include "AudioEngine.h"
#include "EffectFile.h"
#include "Multimedia32.h"

#include <ebur128.h>

#include <cmath>
#include <complex>
#include <memory>
#include <numbers>

namespace mixmeasure {

namespace {

constexpr int kBlock = 512;

std::unique_ptr<sound::AudioEngine> engineWith(const std::string& soundFont)
{
    auto music = soundFont.empty() ? std::make_unique<sound::MusicChannel>()
                                   : std::make_unique<sound::MusicChannel>(std::optional<std::string>(soundFont));
    return std::make_unique<sound::AudioEngine>(sound::AudioEngine::Output::None, std::move(music));
}

void renderInto(sound::AudioEngine& engine, std::vector<float>& out, std::size_t frames)
{
    const std::size_t at = out.size();
    out.resize(at + frames * 2);
    for (std::size_t done = 0; done < frames;) {
        const int n = static_cast<int>(std::min<std::size_t>(kBlock, frames - done));
        engine.mixer().render(out.data() + at + done * 2, n);
        done += static_cast<std::size_t>(n);
    }
}

} // namespace

double dbfs(double amplitude)
{
    return amplitude > 0 ? 20 * std::log10(amplitude) : -HUGE_VAL;
}

Loudness measure(const std::vector<float>& stereo)
{
    Loudness result;
    ebur128_state* meter = ebur128_init(2, sound::kOutputRate, EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK);
    if (meter == nullptr)
        return result;
    ebur128_add_frames_float(meter, stereo.data(), stereo.size() / 2);
    ebur128_loudness_global(meter, &result.integratedLufs);
    double peak = 0;
    for (unsigned channel = 0; channel < 2; ++channel) {
        double p = 0;
        ebur128_true_peak(meter, channel, &p);
        peak = std::max(peak, p);
    }
    result.truePeakDbtp = dbfs(peak);
    float sample = 0;
    for (float v : stereo)
        sample = std::max(sample, std::fabs(v));
    result.samplePeakDbfs = dbfs(sample);
    ebur128_destroy(&meter);
    return result;
}

double soundingLoudness(const std::vector<float>& stereo)
{
    std::size_t first = 0, end = stereo.size() / 2;
    while (first < end && stereo[first * 2] == 0.0f && stereo[first * 2 + 1] == 0.0f)
        ++first;
    while (end > first && stereo[end * 2 - 2] == 0.0f && stereo[end * 2 - 1] == 0.0f)
        --end;
    // libebur128 takes windows in whole milliseconds, and no shorter than its 400 ms block.
    const auto windowMs = static_cast<unsigned long>((end - first) * 1000 / sound::kOutputRate);
    if (windowMs == 0)
        return -HUGE_VAL;
    double loudness = -HUGE_VAL;
    ebur128_state* meter = ebur128_init(2, sound::kOutputRate, EBUR128_MODE_M);
    if (meter == nullptr)
        return loudness;
    ebur128_set_max_window(meter, windowMs); // unchanged at 400 ms and under
    ebur128_add_frames_float(meter, stereo.data() + first * 2, windowMs * sound::kOutputRate / 1000);
    if (ebur128_loudness_window(meter, windowMs, &loudness) != EBUR128_SUCCESS)
        loudness = -HUGE_VAL;
    ebur128_destroy(&meter);
    return loudness;
}

std::optional<std::vector<float>> renderGame(const std::string& midiPath, const std::string& effectPath,
                                             const std::string& soundFont, double seconds, double everySeconds)
{
    auto engine = engineWith(soundFont);
    sound::Multimedia32 mm(*engine);
    mm.OpenMusic(midiPath);
    engine->music().waitUntilReady(std::chrono::seconds(60));
    if (!engine->music().hasSynth())
        return std::nullopt;
    mm.RestartMusic();
    std::vector<float> out;
    const auto total = static_cast<std::size_t>(seconds * sound::kOutputRate);
    const auto every = everySeconds > 0 ? static_cast<std::size_t>(everySeconds * sound::kOutputRate) : total;
    for (std::size_t done = 0; done < total; done += every) {
        if (everySeconds > 0) {
            mm.PlayEffect(effectPath, 0);
            engine->effects().settle();
        }
        renderInto(*engine, out, std::min(every, total - done));
    }
    return out;
}

std::optional<std::vector<float>> renderTune(const std::string& midiPath, const std::string& soundFont, double seconds)
{
    return renderGame(midiPath, "", soundFont, seconds, 0);
}

std::vector<float> renderEffect(const std::string& path)
{
    sound::AudioEngine engine(sound::AudioEngine::Output::None, std::make_unique<sound::MusicChannel>(std::nullopt));
    sound::Multimedia32 mm(engine);
    mm.PlayEffect(path, 0);
    engine.effects().settle();
    std::vector<float> out;
    while (engine.effects().active())
        renderInto(engine, out, kBlock);
    return out;
}

std::optional<double> converterGainDb(double hz)
{
    std::vector<float> impulse(22050 * 2, 0.0f);
    impulse[11025 * 2] = impulse[11025 * 2 + 1] = 1.0f;
    const auto response = sound::resampleStereo(impulse, 22050);
    if (!response)
        return std::nullopt;
    const auto gain = [&](double f) {
        std::complex<double> sum = 0;
        for (std::size_t i = 0; i < response->size() / 2; ++i)
            sum += static_cast<double>((*response)[i * 2]) *
                   std::polar(1.0, -2 * std::numbers::pi * f * static_cast<double>(i) / sound::kOutputRate);
        return std::abs(sum);
    };
    return 20 * std::log10(gain(hz) / gain(0));
}

} // namespace mixmeasure
