// SPDX-License-Identifier: GPL-3.0-or-later

#include "EffectFile.h"

#include "AudioSource.h"
#include "ReadFile.h"

#include <sndfile.h>
#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

namespace sound {

namespace {

// A read-only file in memory, as libsndfile's virtual I/O sees it.
struct Memory {
    std::span<const std::uint8_t> bytes;
    sf_count_t at = 0;
    sf_count_t size() const { return static_cast<sf_count_t>(bytes.size()); }
    static Memory& of(void* user) { return *static_cast<Memory*>(user); }
};

sf_count_t memorySeek(sf_count_t offset, int whence, void* user)
{
    Memory& m = Memory::of(user);
    const sf_count_t base = whence == SEEK_CUR ? m.at : whence == SEEK_END ? m.size() : 0;
    // Offsets come from the file's own fields: keep the sum from overflowing. Anything further
    // than the whole image is as good as just past its end.
    const sf_count_t to = base + std::clamp(offset, -m.size() - 1, m.size() + 1);
    if (to < 0)
        return -1;
    m.at = std::min(to, m.size());
    return m.at;
}

sf_count_t memoryRead(void* to, sf_count_t count, void* user)
{
    Memory& m = Memory::of(user);
    const sf_count_t n = std::clamp<sf_count_t>(m.size() - m.at, 0, std::max<sf_count_t>(count, 0));
    std::memcpy(to, m.bytes.data() + m.at, static_cast<std::size_t>(n));
    m.at += n;
    return n;
}

// libsndfile reads a file cut short up to where it ends, and announces only the frames that are
// there. The container's own length fields, as it read them, still say what the file should
// hold: a chunk (the RIFF or FORM around everything included) that claims more than the whole
// file was cut short, or lies. One byte over is a missing pad byte, which many writers leave
// out; the largest length a field can hold stands for "not known" (RF64 and streamed files).
bool chunkClaimsMoreThanTheFile(SNDFILE* file, std::size_t size)
{
    constexpr std::uint64_t chunkHeader = 8;
    for (SF_CHUNK_ITERATOR* it = sf_get_chunk_iterator(file, nullptr); it != nullptr; it = sf_next_chunk_iterator(it)) {
        SF_CHUNK_INFO chunk{};
        if (sf_get_chunk_size(it, &chunk) != SF_ERR_NO_ERROR || chunk.datalen == 0xFFFFFFFFu)
            continue;
        if (chunkHeader + chunk.datalen > std::uint64_t{size} + 1)
            return true;
    }
    return false;
}

// The frames the header announces, or -1 when it does not say, or only estimates it (MPEG).
sf_count_t announcedFrames(const SF_INFO& info)
{
    const int subtype = info.format & SF_FORMAT_SUBMASK;
    const bool estimated =
        subtype == SF_FORMAT_MPEG_LAYER_I || subtype == SF_FORMAT_MPEG_LAYER_II || subtype == SF_FORMAT_MPEG_LAYER_III;
    return info.frames > 0 && info.frames < SF_COUNT_MAX && !estimated ? info.frames : -1;
}

// A float file may hold anything, NaN included; the mixer must never see it.
float tame(float v)
{
    return std::isfinite(v) ? std::clamp(v, -1.0f, 1.0f) : 0.0f;
}

// Mono goes to both sides; past two channels the even ones make the left and the odd ones the
// right, each side their mean, which keeps every channel audible without knowing the layout.
void appendStereo(std::vector<float>& stereo, std::span<const float> frames, int channels)
{
    const auto c = static_cast<std::size_t>(channels);
    // Even channels to the left, odd ones to the right, each side averaged over its own.
    const std::size_t leftChannels = (c + 1) / 2;
    const std::size_t rightChannels = c / 2;
    for (std::size_t f = 0; f + c <= frames.size(); f += c) {
        float side[2] = {0.0f, 0.0f};
        for (std::size_t i = 0; i < c; ++i)
            side[i % 2] += tame(frames[f + i]);
        const float left = side[0] / static_cast<float>(leftChannels);
        stereo.push_back(left);
        stereo.push_back(c == 1 ? left : side[1] / static_cast<float>(rightChannels));
    }
}

// The whole of an open file as stereo at its own rate; nothing when it is past our limits or
// holds less than its header says. Whole numbers come out of libsndfile scaled to [-1, 1);
// float files as they are, which appendStereo() tames.
std::optional<std::vector<float>> readStereo(SNDFILE* file, const SF_INFO& info, std::size_t imageSize)
{
    if (chunkClaimsMoreThanTheFile(file, imageSize) || info.channels < 1 || info.channels > kMaxEffectChannels ||
        info.samplerate < kMinEffectRate || info.samplerate > kMaxEffectRate)
        return std::nullopt;
    // So that a small compressed file cannot ask for gigabytes, whatever its header says.
    const sf_count_t limit = sf_count_t{info.samplerate} * kMaxEffectSeconds;
    const sf_count_t announced = announcedFrames(info);
    if (announced > limit)
        return std::nullopt;
    constexpr sf_count_t kBlockFrames = 4096;
    std::vector<float> block(static_cast<std::size_t>(kBlockFrames * info.channels));
    std::vector<float> stereo;
    sf_count_t frames = 0;
    for (sf_count_t got = 0; (got = sf_readf_float(file, block.data(), kBlockFrames)) > 0;) {
        frames += got;
        if (frames > limit)
            return std::nullopt;
        appendStereo(stereo, std::span(block).first(static_cast<std::size_t>(got * info.channels)), info.channels);
    }
    // A compressed stream cut short (FLAC, Ogg) ends before the frames its header announced, and
    // its decoder may say it lost its way.
    if (sf_error(file) != SF_ERR_NO_ERROR || (announced > 0 && frames < announced))
        return std::nullopt;
    return stereo;
}

} // namespace

std::optional<std::vector<float>> resampleStereo(std::span<const float> stereo, int rate)
{
    if (rate == kOutputRate)
        return std::vector<float>(stereo.begin(), stereo.end());
    const std::size_t in = stereo.size() / 2;
    const auto frames = static_cast<std::size_t>(std::llround(static_cast<double>(in) * kOutputRate / rate));
    std::vector<float> out(frames * 2);
    if (frames == 0)
        return out;
    // libsoxr at its high quality: flat to near the source's Nyquist frequency, far down past
    // it. The figures are in docs/SOUND.md and docs/PERFORMANCE.md.
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    std::size_t done = 0;
    if (soxr_oneshot(rate, kOutputRate, 2, stereo.data(), in, nullptr, out.data(), frames, &done, &io, &quality,
                     nullptr) != nullptr ||
        done == 0)
        return std::nullopt;
    // libsoxr may leave a frame off the end; the last one is repeated rather than let the sound
    // come out shorter than it is.
    for (std::size_t f = done; f < frames; ++f)
        std::copy_n(out.begin() + static_cast<std::ptrdiff_t>(done * 2 - 2), 2,
                    out.begin() + static_cast<std::ptrdiff_t>(f * 2));
    return out;
}

std::optional<Waveform> decodeEffect(std::span<const std::uint8_t> image)
{
    if (image.empty())
        return std::nullopt;
    Memory memory{image};
    SF_VIRTUAL_IO io{
        [](void* user) { return Memory::of(user).size(); },
        memorySeek,
        memoryRead,
        [](const void*, sf_count_t, void*) -> sf_count_t { return 0; },
        [](void* user) { return Memory::of(user).at; },
    };
    SF_INFO info{};
    const std::unique_ptr<SNDFILE, int (*)(SNDFILE*)> file(sf_open_virtual(&io, SFM_READ, &info, &memory), sf_close);
    if (!file)
        return std::nullopt;
    const std::optional<std::vector<float>> stereo = readStereo(file.get(), info, image.size());
    if (!stereo || stereo->empty())
        return std::nullopt;
    std::optional<std::vector<float>> converted = resampleStereo(*stereo, info.samplerate);
    if (!converted || converted->empty())
        return std::nullopt;
    // The filter may ring a little past full scale near a clipped edge.
    std::ranges::transform(*converted, converted->begin(), tame);
    return Waveform{std::move(*converted)};
}

std::optional<Waveform> loadEffectFile(const std::string& path)
{
    ombura::FileContents file = ombura::readRegularFile(path, kMaxEffectFileBytes);
    if (file.error != ombura::ReadError::None)
        return std::nullopt;
    return decodeEffect(file.bytes);
}

} // namespace sound
