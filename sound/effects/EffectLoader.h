// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "EffectFile.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>

namespace sound {

// Decoded effects by path, and a thread of its own that decodes the ones not yet known, so a
// request never waits for a file however large it is. The game plays the same three files over
// and over: once a file is known a request costs one stat(), and a changed file (other size,
// time or inode) is decoded again. Files that failed are remembered too, so a broken file is
// not read again on every press.
class EffectLoader {
public:
    using Decoder = std::function<EffectDecode(const std::string& path, FileStamp* stamp)>;
    using Done = std::function<void(std::shared_ptr<const Waveform>)>;

    explicit EffectLoader(Decoder decoder = loadEffectFile);
    ~EffectLoader();
    EffectLoader(const EffectLoader&) = delete;
    EffectLoader& operator=(const EffectLoader&) = delete;

    enum class Known { No, Playable, Unplayable };
    struct Lookup {
        Known known = Known::No;
        std::shared_ptr<const Waveform> sound; // set when Playable
    };
    // Any thread, quick: what is known of the file at `path` as it is on disk now. Something
    // that is not a regular file is Unplayable at once, without anyone reading it.
    Lookup find(const std::string& path);

    // Any thread, quick: decodes `path` on the loader's thread and then calls `done` there, with
    // the sound or null.
    void request(const std::string& path, Done done);
    // Decodes `path` on the calling thread, unless it is known already.
    std::shared_ptr<const Waveform> load(const std::string& path);

    // Opens the decoding libraries on the loader's thread, so the first effect does not wait
    // for them either.
    void preload();
    // Drops what is queued, waits for a decode under way and ends the thread: no `done` is
    // called after this returns. A later request is answered with null at once.
    void stop();

    std::size_t decodes() const;
    // For tests and tools: waits until every queued decode is done.
    bool waitUntilIdle(std::chrono::milliseconds timeout);

    // The cache keeps at most this many files, and lets the oldest go once the decoded sounds
    // together pass the byte budget (the newest always stays).
    static constexpr std::size_t kCapacity = 16;
    static constexpr std::size_t kByteBudget = std::size_t{128} << 20;

private:
    struct Entry {
        FileStamp stamp;
        std::shared_ptr<const Waveform> sound;
        std::uint64_t lastUse = 0;
    };
    struct Job {
        std::string path;
        Done done;
    };

    std::shared_ptr<const Waveform> decodeAndKeep(const std::string& path);
    void keepLocked(const std::string& path, const FileStamp& stamp, std::shared_ptr<const Waveform> sound);
    void evictLocked(const std::string& keep);
    void ensureThreadLocked();
    void run();

    Decoder decoder_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::unordered_map<std::string, Entry> entries_;
    std::uint64_t uses_ = 0;
    std::size_t decodes_ = 0;
    std::deque<Job> jobs_;
    bool busy_ = false;
    bool preload_ = false;
    bool quit_ = false;
    std::thread thread_;
};

} // namespace sound
