// SPDX-License-Identifier: GPL-3.0-or-later

// Synthesises the three sound effects and writes them through libsndfile as
// 16-bit mono PCM WAV files:
//   kuruiya.dat  the spin: a warbling whirl with a rushing swish, 0.55 s
//   keikoku.dat  the warning: a two-tone "pi-po" alarm, 0.40 s
//   zaku.dat     the slash: a falling hiss with a dull thud under it, 0.28 s
//
// Only + - * / are used on doubles and the sine is our own polynomial, so the
// same source gives the same bytes on every machine; the noise has fixed seeds.
// Each sound fades in and out over a few milliseconds, so it starts and ends
// on silence without a click, and is scaled to its own peak level. The levels
// set the three against each other and against the tune by how loud they
// sound, not by their peaks: a bright beep at the peak of the spin's swish
// sounds 7 LU louder than it (docs/SOUND.md has the measurements).
//
// Usage: make_effects <output folder>

#include "DataFiles.h"

#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 22050;
constexpr double kPi = 3.14159265358979323846;

// Peak levels, as amplitudes (no pow(), which may round differently elsewhere).
constexpr double kSpinPeak = 0.8912509381337456; // -1 dBFS
constexpr double kWarningPeak = 0.44668359215096315; // -7 dBFS
constexpr double kSlashPeak = 0.8912509381337456; // -1 dBFS

double sine(double x)
{
    // Reduce to [-pi, pi], then to [-pi/2, pi/2] by symmetry, then a Taylor
    // series that is exact to about 1e-9 there.
    const double turns = std::nearbyint(x / (2 * kPi));
    x -= turns * 2 * kPi;
    if (x > kPi / 2)
        x = kPi - x;
    else if (x < -kPi / 2)
        x = -kPi - x;
    const double x2 = x * x;
    return x * (1 - x2 / 6 * (1 - x2 / 20 * (1 - x2 / 42 * (1 - x2 / 72 * (1 - x2 / 110 * (1 - x2 / 156))))));
}

double cosine(double x)
{
    return sine(x + kPi / 2);
}

class Noise {
public:
    explicit Noise(std::uint32_t seed) : state_(seed) { }
    double next()
    {
        state_ = state_ * 1664525u + 1013904223u;
        return double(state_ >> 8) / double(1u << 23) - 1.0;
    }

private:
    std::uint32_t state_;
};

// A band-pass filter whose centre may move from sample to sample.
class BandPass {
public:
    double run(double in, double centre, double q)
    {
        const double w = 2 * kPi * centre / kRate;
        const double alpha = sine(w) / (2 * q);
        const double a0 = 1 + alpha;
        const double b0 = alpha / a0, b2 = -alpha / a0;
        const double a1 = -2 * cosine(w) / a0, a2 = (1 - alpha) / a0;
        const double out = b0 * in + b2 * x2_ - a1 * y1_ - a2 * y2_;
        x2_ = x1_;
        x1_ = in;
        y2_ = y1_;
        y1_ = out;
        return out;
    }

private:
    double x1_ = 0, x2_ = 0, y1_ = 0, y2_ = 0;
};

// Halves every `halfLife` seconds: whole halvings by multiplication, the
// remainder by a short series for e^-y.
double decay(double t, double halfLife)
{
    double v = 1;
    double steps = t / halfLife;
    while (steps >= 1) {
        v *= 0.5;
        steps -= 1;
    }
    const double y = steps * 0.6931471805599453;
    double term = 1, sum = 1;
    for (int k = 1; k <= 9; ++k) {
        term *= -y / k;
        sum += term;
    }
    return v * sum;
}

std::vector<double> spin()
{
    const int n = int(0.55 * kRate);
    std::vector<double> s(static_cast<std::size_t>(n));
    Noise noise(0x6B757275u);
    BandPass swish;
    double phase = 0;
    for (int i = 0; i < n; ++i) {
        const double t = double(i) / kRate;
        const double u = t / 0.55;
        // The pitch climbs while it warbles round and round, about seven turns.
        const double f = 620 + 760 * u + 260 * sine(2 * kPi * 13 * t);
        phase += 2 * kPi * f / kRate;
        const double tone = sine(phase) + 0.22 * sine(3 * phase);
        const double rush = swish.run(noise.next(), 2 * f, 2.5) * (0.35 + 0.65 * std::fabs(sine(2 * kPi * 6.5 * t)));
        const double env = (u < 0.08 ? u / 0.08 : 1.0) * (u > 0.6 ? (1 - u) / 0.4 : 1.0);
        s[std::size_t(i)] = env * (0.62 * tone + 1.6 * rush);
    }
    return s;
}

std::vector<double> warning()
{
    const int n = int(0.40 * kRate);
    std::vector<double> s(static_cast<std::size_t>(n), 0.0);
    struct Beep {
        double start, length, freq;
    };
    const Beep beeps[] = {{0.0, 0.17, 1046.5}, {0.20, 0.17, 784.0}};
    for (const Beep& b : beeps) {
        const int first = int(b.start * kRate), count = int(b.length * kRate);
        const int ramp = kRate / 200; // 5 ms
        for (int k = 0; k < count && first + k < n; ++k) {
            const double t = double(k) / kRate;
            const double x = 2 * kPi * b.freq * t;
            // Odd harmonics give a bright, square-ish tone that stays below Nyquist.
            const double tone = sine(x) + sine(3 * x) / 3 + sine(5 * x) / 5 + sine(7 * x) / 7;
            double env = 1;
            if (k < ramp)
                env = double(k) / ramp;
            else if (count - k < ramp)
                env = double(count - k) / ramp;
            s[std::size_t(first + k)] += env * tone;
        }
    }
    return s;
}

std::vector<double> slash()
{
    const int n = int(0.28 * kRate);
    std::vector<double> s(static_cast<std::size_t>(n));
    Noise noise(0x7A616B75u);
    BandPass hiss;
    double thudPhase = 0;
    for (int i = 0; i < n; ++i) {
        const double t = double(i) / kRate;
        // The hiss falls from a bright edge to a dull rip within a tenth of a second, and the
        // rip lingers: at its peak level a shorter one sounded 5 LU under the tune.
        const double centre = 700 + 5800 * decay(t, 0.028);
        const double cut = hiss.run(noise.next(), centre, 1.4) * decay(t, 0.09);
        thudPhase += 2 * kPi * (62 + 70 * decay(t, 0.02)) / kRate;
        const double thud = sine(thudPhase) * (t < 0.12 ? decay(t, 0.03) : 0.0625 * (1 - (t - 0.12) / 0.16));
        const double attack = t < 0.003 ? t / 0.003 : 1.0;
        s[std::size_t(i)] = attack * (2.4 * cut + 0.45 * thud);
    }
    return s;
}

// Fades the ends, scales to `peak` and writes 16-bit mono PCM WAV.
bool writeWav(const std::string& path, std::vector<double> s, double peak)
{
    // Fade the ends so the first and last samples are silent.
    const std::size_t in = kRate / 400, out = kRate / 100; // 2.5 ms and 10 ms
    for (std::size_t i = 0; i < in && i < s.size(); ++i)
        s[i] *= double(i) / double(in);
    for (std::size_t i = 0; i < out && i < s.size(); ++i)
        s[s.size() - 1 - i] *= double(i) / double(out);

    double highest = 0;
    for (double v : s)
        highest = std::fmax(highest, std::fabs(v));
    const double gain = highest > 0 ? peak * 32767.0 / highest : 0;
    std::vector<short> pcm;
    pcm.reserve(s.size());
    for (double v : s)
        pcm.push_back(short(std::nearbyint(v * gain)));

    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file)
        return false;
    const bool complete = sf_write_short(file, pcm.data(), sf_count_t(pcm.size())) == sf_count_t(pcm.size());
    return sf_close(file) == 0 && complete;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const std::string dir = std::string(argv[1]) + "/";
    const bool ok = writeWav(dir + std::string(assets::kSpinFile), spin(), kSpinPeak) &&
                    writeWav(dir + std::string(assets::kWarningFile), warning(), kWarningPeak) &&
                    writeWav(dir + std::string(assets::kSlashFile), slash(), kSlashPeak);
    if (!ok) {
        std::fprintf(stderr, "make_effects: cannot write into %s\n", dir.c_str());
        return 1;
    }
    return 0;
}
