// SPDX-License-Identifier: GPL-3.0-or-later

#include "EffectLoader.h"

#include "RateConverter.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <system_error>

namespace sound {

EffectLoader::EffectLoader(Decoder decoder) : decoder_(std::move(decoder))
{ }

EffectLoader::~EffectLoader()
{
    stop();
}

void EffectLoader::stop()
{
    std::thread thread;
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
        jobs_.clear();
        thread = std::move(thread_);
    }
    wake_.notify_all();
    if (thread.joinable())
        thread.join();
    idle_.notify_all();
}

EffectLoader::Lookup EffectLoader::find(const std::string& path)
{
    const std::optional<FileStamp> now = stampOf(path);
    if (!now)
        return {Known::Unplayable, nullptr};
    std::lock_guard lock(mutex_);
    const auto it = entries_.find(path);
    if (it == entries_.end() || !(it->second.stamp == *now))
        return {Known::No, nullptr};
    it->second.lastUse = ++uses_;
    return {it->second.sound ? Known::Playable : Known::Unplayable, it->second.sound};
}

void EffectLoader::request(const std::string& path, Done done)
{
    {
        std::lock_guard lock(mutex_);
        ensureThreadLocked();
        if (thread_.joinable()) {
            jobs_.push_back(Job{path, std::move(done)});
            done = nullptr;
        }
    }
    // No thread to decode on: the effect stays silent rather than hold up the caller.
    if (done)
        done(nullptr);
    else
        wake_.notify_all();
}

std::shared_ptr<const Waveform> EffectLoader::load(const std::string& path)
{
    const Lookup known = find(path);
    if (known.known != Known::No)
        return known.sound;
    return decodeAndKeep(path);
}

void EffectLoader::preload()
{
    {
        std::lock_guard lock(mutex_);
        preload_ = true;
        ensureThreadLocked();
    }
    wake_.notify_all();
}

std::size_t EffectLoader::decodes() const
{
    std::lock_guard lock(mutex_);
    return decodes_;
}

bool EffectLoader::waitUntilIdle(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    return idle_.wait_for(lock, timeout, [this] { return quit_ || (jobs_.empty() && !busy_ && !preload_); });
}

std::shared_ptr<const Waveform> EffectLoader::decodeAndKeep(const std::string& path)
{
    FileStamp read{};
    EffectDecode result = decoder_(path, &read);
    std::shared_ptr<const Waveform> sound;
    if (result.sound)
        sound = std::make_shared<const Waveform>(std::move(*result.sound));
    std::lock_guard lock(mutex_);
    ++decodes_;
    // Only a regular file that could be examined gets an entry; anything else is cheap to
    // refuse again.
    if (read.size != 0 || read.inode != 0)
        keepLocked(path, read, sound);
    return sound;
}

void EffectLoader::keepLocked(const std::string& path, const FileStamp& stamp, std::shared_ptr<const Waveform> sound)
{
    entries_[path] = Entry{stamp, std::move(sound), ++uses_};
    evictLocked(path);
}

void EffectLoader::evictLocked(const std::string& keep)
{
    const auto bytes = [this] {
        std::size_t total = 0;
        for (const auto& [path, entry] : entries_)
            total += entry.sound ? entry.sound->samples.size() * sizeof(float) : 0;
        return total;
    };
    while (entries_.size() > 1 && (entries_.size() > kCapacity || bytes() > kByteBudget)) {
        auto oldest = entries_.end();
        for (auto it = entries_.begin(); it != entries_.end(); ++it) {
            if (it->first != keep && (oldest == entries_.end() || it->second.lastUse < oldest->second.lastUse))
                oldest = it;
        }
        if (oldest == entries_.end())
            break;
        entries_.erase(oldest);
    }
}

void EffectLoader::ensureThreadLocked()
{
    if (thread_.joinable() || quit_)
        return;
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        preload_ = false;
    }
}

void EffectLoader::run()
{
    // A batch thread gets its fair share of the CPU but never preempts a running thread when it
    // wakes: on a busy machine an ordinary thread woken by a request would take the CPU from the
    // very UI thread that asked, for as long as the first milliseconds of a decode.
    sched_param batch{};
    pthread_setschedparam(pthread_self(), SCHED_BATCH, &batch);

    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return quit_ || preload_ || !jobs_.empty(); });
        if (quit_)
            return;
        busy_ = true;
        if (preload_) {
            lock.unlock();
            openResampler();
            lock.lock();
            preload_ = false;
        }
        if (!jobs_.empty()) {
            Job job = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            // A file asked for twice while the first decode was queued is decoded once.
            std::shared_ptr<const Waveform> sound;
            const Lookup known = find(job.path);
            sound = known.known != Known::No ? known.sound : decodeAndKeep(job.path);
            job.done(std::move(sound));
            lock.lock();
        }
        busy_ = false;
        if (jobs_.empty() && !preload_)
            idle_.notify_all();
    }
}

} // namespace sound
