#include "Resampler.h"

#include "AudioSource.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace sound {

namespace {

constexpr int kTableSteps = 512; // kernel table entries per input sample
constexpr double kZeroCrossings = 16.0; // on each side of the kernel's centre
constexpr double kKaiserBeta = 8.0;
// The filter starts to fall a little below the lower Nyquist frequency, so that what lies
// above it is gone by then instead of folding back.
constexpr double kPassband = 0.95;

double besselI0(double x)
{
    double sum = 1.0;
    double term = 1.0;
    const double q = x * x / 4.0;
    for (int k = 1; k < 64 && term > sum * 1e-12; ++k) {
        term *= q / (static_cast<double>(k) * k);
        sum += term;
    }
    return sum;
}

// A Kaiser-windowed sinc low-pass, tabulated over one side; cutoff is relative to the input
// rate's Nyquist frequency.
class Kernel {
public:
    explicit Kernel(double cutoff) : halfWidth_(kZeroCrossings / cutoff)
    {
        const auto entries = static_cast<std::size_t>(std::ceil(halfWidth_ * kTableSteps)) + 2;
        table_.resize(entries);
        const double norm = besselI0(kKaiserBeta);
        for (std::size_t i = 0; i < entries; ++i) {
            const double x = static_cast<double>(i) / kTableSteps;
            if (x >= halfWidth_) {
                table_[i] = 0.0;
                continue;
            }
            const double r = x / halfWidth_;
            const double window = besselI0(kKaiserBeta * std::sqrt(1.0 - r * r)) / norm;
            const double y = std::numbers::pi * cutoff * x;
            const double sinc = i == 0 ? 1.0 : std::sin(y) / y;
            table_[i] = cutoff * sinc * window;
        }
    }

    double halfWidth() const { return halfWidth_; }

    double at(double x) const
    {
        const double pos = std::abs(x) * kTableSteps;
        const auto i = static_cast<std::size_t>(pos);
        if (i + 1 >= table_.size())
            return 0.0;
        const double t = pos - static_cast<double>(i);
        return table_[i] + (table_[i + 1] - table_[i]) * t;
    }

private:
    double halfWidth_;
    std::vector<double> table_;
};

} // namespace

std::size_t resampledFrames(std::size_t frames, std::uint32_t rate)
{
    if (rate == 0)
        return 0;
    const std::uint64_t out = kOutputRate;
    return static_cast<std::size_t>((frames * 2 * out + rate) / (2ull * rate));
}

std::vector<float> resampleStereo(std::span<const float> stereo, std::uint32_t rate)
{
    const std::size_t inFrames = stereo.size() / kOutputChannels;
    if (rate == static_cast<std::uint32_t>(kOutputRate))
        return {stereo.begin(), stereo.begin() + static_cast<std::ptrdiff_t>(inFrames * kOutputChannels)};

    const std::size_t outFrames = resampledFrames(inFrames, rate);
    std::vector<float> out(outFrames * kOutputChannels);
    const Kernel kernel(kPassband * std::min(1.0, static_cast<double>(kOutputRate) / rate));
    const auto reach = static_cast<std::ptrdiff_t>(std::ceil(kernel.halfWidth()));
    const auto last = static_cast<std::ptrdiff_t>(inFrames);

    for (std::size_t k = 0; k < outFrames; ++k) {
        // Output frame k sits at input time k * rate / 48000, kept as an exact fraction.
        const std::uint64_t pos = static_cast<std::uint64_t>(k) * rate;
        const auto base = static_cast<std::ptrdiff_t>(pos / kOutputRate);
        const double frac = static_cast<double>(pos % kOutputRate) / kOutputRate;
        double left = 0.0;
        double right = 0.0;
        double weights = 0.0;
        for (std::ptrdiff_t j = -reach; j <= reach + 1; ++j) {
            const double w = kernel.at(static_cast<double>(j) - frac);
            weights += w;
            const std::ptrdiff_t i = base + j;
            if (i < 0 || i >= last)
                continue;
            left += w * stereo[static_cast<std::size_t>(i) * 2];
            right += w * stereo[static_cast<std::size_t>(i) * 2 + 1];
        }
        // Dividing by the weights of every tap (present or past an end) keeps a steady level
        // steady whatever the phase, while the ends still fade as if padded with silence.
        if (weights > 1e-9) {
            left /= weights;
            right /= weights;
        }
        out[k * 2] = static_cast<float>(std::clamp(left, -1.0, 1.0));
        out[k * 2 + 1] = static_cast<float>(std::clamp(right, -1.0, 1.0));
    }
    return out;
}

} // namespace sound
