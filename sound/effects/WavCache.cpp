#include "WavCache.h"

#include <algorithm>

namespace sound {

std::shared_ptr<const Waveform> WavCache::load(const std::string& path)
{
    const auto now = stampOf(path);
    if (!now)
        return nullptr;

    std::lock_guard lock(mutex_);
    const std::uint64_t use = ++uses_;
    if (auto it = entries_.find(path); it != entries_.end() && it->second.stamp == *now) {
        it->second.lastUse = use;
        return it->second.sound;
    }

    FileStamp read{};
    WavResult result = loadWavFile(path, &read);
    ++decodes_;
    std::shared_ptr<const Waveform> sound;
    if (result.sound)
        sound = std::make_shared<const Waveform>(std::move(*result.sound));
    // Only a regular file that could be examined gets an entry; a directory or FIFO is cheap to
    // refuse again.
    if (read.size != 0 || read.inode != 0) {
        if (entries_.size() >= capacity_ && entries_.find(path) == entries_.end())
            evictOldest();
        entries_[path] = Entry{read, sound, use};
    }
    return sound;
}

std::size_t WavCache::decodes() const
{
    std::lock_guard lock(mutex_);
    return decodes_;
}

void WavCache::evictOldest()
{
    const auto oldest = std::min_element(entries_.begin(), entries_.end(), [](const auto& a, const auto& b) {
        return a.second.lastUse < b.second.lastUse;
    });
    if (oldest != entries_.end())
        entries_.erase(oldest);
}

} // namespace sound
