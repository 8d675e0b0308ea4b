#pragma once

#include "WavDecoder.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace sound {

// Decoded effects by path. The game plays the same three files over and over, so a request
// costs one stat() once a file is known; a changed file (other size, time or inode) is decoded
// again. Files that failed are remembered too, so a broken file is not re-read on every press.
class WavCache {
public:
    explicit WavCache(std::size_t capacity = 16) : capacity_(capacity) { }

    // The decoded sound, or null when the file cannot be played.
    std::shared_ptr<const Waveform> load(const std::string& path);

    std::size_t decodes() const;

private:
    struct Entry {
        FileStamp stamp;
        std::shared_ptr<const Waveform> sound;
        std::uint64_t lastUse = 0;
    };

    void evictOldest();

    mutable std::mutex mutex_;
    std::unordered_map<std::string, Entry> entries_;
    std::size_t capacity_;
    std::uint64_t uses_ = 0;
    std::size_t decodes_ = 0;
};

} // namespace sound
