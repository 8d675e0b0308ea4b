// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>

// Everything this program asks of libsndfile, behind plain types. No other file includes its
// header.
namespace sound::sndfile {

struct Format {
    int channels = 0;
    int rate = 0;
    std::int64_t frames = -1; // -1 when the file does not say, or only estimates it (MPEG)
    // The file holds less than its header says: cut short, or a length field that lies. What
    // the header says is known at once; a stream that ends early or fails to decode, only once
    // it has been read to its end.
    bool cutShort = false;
};

// Opens a sound file image held in memory and hands its format to `accept`, which may refuse
// it (a file that is cut short included). Then reads it to the end in blocks, each handed to
// `block` as interleaved float frames, until `block` returns false. Returns the format, its
// cutShort now final, or nothing when libsndfile cannot read the image, or `accept`
// refused it.
std::optional<Format> read(std::span<const std::uint8_t> image, const std::function<bool(const Format&)>& accept,
                           const std::function<bool(const float* frames, std::size_t count)>& block);

} // namespace sound::sndfile
