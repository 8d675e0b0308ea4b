// SPDX-License-Identifier: GPL-3.0-or-later

#include "SoundFileWriter.h"

#include <sndfile.h>

#include <cmath>
#include <cstring>
#include <numbers>

namespace wavtest {

namespace {

struct Growing {
    std::vector<std::uint8_t> bytes;
    sf_count_t at = 0;
};

sf_count_t length(void* user)
{
    return static_cast<sf_count_t>(static_cast<Growing*>(user)->bytes.size());
}

sf_count_t seek(sf_count_t offset, int whence, void* user)
{
    auto* g = static_cast<Growing*>(user);
    const sf_count_t base = whence == SEEK_CUR ? g->at : whence == SEEK_END ? length(user) : 0;
    if (base + offset < 0)
        return -1;
    g->at = base + offset;
    return g->at;
}

sf_count_t read(void* ptr, sf_count_t count, void* user)
{
    auto* g = static_cast<Growing*>(user);
    const sf_count_t n = std::max<sf_count_t>(0, std::min(count, length(user) - g->at));
    std::memcpy(ptr, g->bytes.data() + g->at, static_cast<std::size_t>(n));
    g->at += n;
    return n;
}

sf_count_t write(const void* ptr, sf_count_t count, void* user)
{
    auto* g = static_cast<Growing*>(user);
    const auto end = static_cast<std::size_t>(g->at + count);
    if (g->bytes.size() < end)
        g->bytes.resize(end);
    std::memcpy(g->bytes.data() + g->at, ptr, static_cast<std::size_t>(count));
    g->at += count;
    return count;
}

sf_count_t tell(void* user)
{
    return static_cast<Growing*>(user)->at;
}

bool lossySubtype(int subtype)
{
    switch (subtype) {
    case SF_FORMAT_VORBIS:
    case SF_FORMAT_OPUS:
    case SF_FORMAT_MPEG_LAYER_I:
    case SF_FORMAT_MPEG_LAYER_II:
    case SF_FORMAT_MPEG_LAYER_III:
    case SF_FORMAT_GSM610:
    case SF_FORMAT_G721_32:
    case SF_FORMAT_G723_24:
    case SF_FORMAT_G723_40:
    case SF_FORMAT_VOX_ADPCM:
    case SF_FORMAT_NMS_ADPCM_16:
    case SF_FORMAT_NMS_ADPCM_24:
    case SF_FORMAT_NMS_ADPCM_32:
    case SF_FORMAT_DWVW_12:
    case SF_FORMAT_ALAC_16:
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_DPCM_8:
    case SF_FORMAT_IMA_ADPCM:
    case SF_FORMAT_MS_ADPCM:
        return true;
    default:
        return false;
    }
}

} // namespace

std::vector<WritableFormat> writableFormats()
{
    std::vector<WritableFormat> out;
    int majors = 0;
    int subtypes = 0;
    sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &majors, sizeof majors);
    sf_command(nullptr, SFC_GET_FORMAT_SUBTYPE_COUNT, &subtypes, sizeof subtypes);
    for (int m = 0; m < majors; ++m) {
        SF_FORMAT_INFO major{};
        major.format = m;
        sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &major, sizeof major);
        // RAW has no header: nothing can tell it from any other bytes, so it is not a format
        // a file can be recognised in.
        // SD2 keeps its header in a resource fork, which no single file or memory image has.
        if ((major.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_RAW ||
            (major.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_SD2)
            continue;
        for (int s = 0; s < subtypes; ++s) {
            SF_FORMAT_INFO sub{};
            sub.format = s;
            sf_command(nullptr, SFC_GET_FORMAT_SUBTYPE, &sub, sizeof sub);
            // Two formats keep one fixed rate in their header whatever they are given.
            const int type = major.format & SF_FORMAT_TYPEMASK;
            std::vector<int> rates{22050, 8000, 48000};
            if (type == SF_FORMAT_WVE)
                rates = {8000};
            else if (type == SF_FORMAT_XI)
                rates = {44100};
            for (int rate : rates) {
                bool found = false;
                for (int channels : {2, 1}) {
                    SF_INFO info{};
                    info.samplerate = rate;
                    info.channels = channels;
                    info.format = major.format | sub.format;
                    if (!sf_format_check(&info))
                        continue;
                    out.push_back(WritableFormat{std::string(major.name) + " / " + sub.name, info.format, rate,
                                                 channels, lossySubtype(sub.format & SF_FORMAT_SUBMASK)});
                    found = true;
                    break;
                }
                if (found)
                    break;
            }
        }
    }
    return out;
}

std::vector<std::uint8_t> writeTone(const WritableFormat& format, double hz, double amplitude, double seconds)
{
    Growing file;
    SF_VIRTUAL_IO io{length, seek, read, write, tell};
    SF_INFO info{};
    info.samplerate = format.rate;
    info.channels = format.channels;
    info.format = format.format;
    SNDFILE* sf = sf_open_virtual(&io, SFM_WRITE, &info, &file);
    if (sf == nullptr)
        return {};
    const auto frames = static_cast<std::size_t>(seconds * format.rate);
    std::vector<float> samples(frames * static_cast<std::size_t>(format.channels));
    for (std::size_t i = 0; i < frames; ++i) {
        const auto v =
            static_cast<float>(amplitude * std::sin(2 * std::numbers::pi * hz * static_cast<double>(i) / format.rate));
        for (int c = 0; c < format.channels; ++c)
            samples[i * static_cast<std::size_t>(format.channels) + static_cast<std::size_t>(c)] = v;
    }
    const sf_count_t wrote = sf_writef_float(sf, samples.data(), static_cast<sf_count_t>(frames));
    sf_close(sf);
    if (wrote != static_cast<sf_count_t>(frames))
        return {};
    return file.bytes;
}

} // namespace wavtest
