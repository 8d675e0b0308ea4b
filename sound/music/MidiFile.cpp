// SPDX-License-Identifier: GPL-3.0-or-later

#include "MidiFile.h"

#include "ByteOrder.h"
#include "ReadFile.h"

#include <algorithm>
#include <cstring>

namespace sound {

namespace {

using Bytes = std::span<const std::uint8_t>;
using ombura::readBe16;
using ombura::readBe32;

// A tick count beyond this is nonsense in any file and keeps the time arithmetic in range.
constexpr std::uint64_t kMaxTick = std::uint64_t{1} << 52;
constexpr std::uint32_t kDefaultTempo = 500000; // microseconds per quarter note
// While the tracks are read, an event's `sample` holds its tick, and tempo changes (the tempo in
// `sysex`) and end-of-track marks travel with the rest under this status, so that they merge
// into the same order. Timing drops them.
constexpr std::uint8_t kMeta = 0xFF;
constexpr std::uint8_t kMetaTempo = 0x51;
constexpr std::uint8_t kMetaEnd = 0x2F;

bool tagIs(Bytes b, std::size_t at, const char* tag)
{
    return b.size() >= at + 4 && std::memcmp(b.data() + at, tag, 4) == 0;
}

// One track, read event by event into `tune`, each at its tick.
class TrackReader {
public:
    TrackReader(Bytes track, MidiSequence& tune) : data_(track), tune_(tune) { }

    // False when the track is malformed or the tune holds too many events.
    bool read()
    {
        std::uint8_t running = 0;
        while (pos_ < data_.size()) {
            std::uint32_t delta = 0;
            if (!number(delta) || (tick_ += delta) > kMaxTick || pos_ >= data_.size())
                return false;
            const std::uint8_t lead = data_[pos_];
            if (lead == kMeta || lead == 0xF0 || lead == 0xF7) {
                if (!metaOrSysex())
                    return false;
                continue;
            }
            if (lead & 0x80) {
                // System common and real-time bytes have no place in a file's track.
                if (lead >= 0xF0)
                    return false;
                running = lead;
                ++pos_;
            }
            // Program change (C0) and channel pressure (D0) carry one data byte, the rest two.
            const std::size_t length = (running & 0xE0) == 0xC0 ? 1 : 2;
            if (running == 0 || data_.size() - pos_ < length)
                return false;
            const std::uint8_t data1 = data_[pos_];
            const std::uint8_t data2 = length == 2 ? data_[pos_ + 1] : 0;
            pos_ += length;
            if (((data1 | data2) & 0x80) || !push(running, data1, data2))
                return false;
        }
        // The end mark ends the track; a track without one is forgiven, and ends with its data.
        return push(kMeta, kMetaEnd);
    }

private:
    // A variable-length number of at most four bytes.
    bool number(std::uint32_t& value)
    {
        value = 0;
        for (int i = 0; i < 4 && pos_ < data_.size(); ++i) {
            value = (value << 7) | (data_[pos_] & 0x7Fu);
            if (!(data_[pos_++] & 0x80))
                return true;
        }
        return false;
    }

    bool metaOrSysex()
    {
        const std::uint8_t lead = data_[pos_];
        const std::uint8_t type = lead == kMeta && pos_ + 1 < data_.size() ? data_[pos_ + 1] : 0;
        pos_ += lead == kMeta ? 2 : 1;
        std::uint32_t length = 0;
        if (pos_ > data_.size() || !number(length) || length > data_.size() - pos_)
            return false;
        const Bytes body = data_.subspan(pos_, length);
        pos_ += length;
        if (lead == kMeta && type == kMetaEnd)
            pos_ = data_.size();
        if (lead == kMeta && type == kMetaTempo && length >= 3 && ombura::readBe(body, 0, 3) > 0)
            return push(kMeta, kMetaTempo, 0, ombura::readBe(body, 0, 3));
        // Only a whole message in one packet is sent on; escapes and split packets are skipped.
        if (lead != 0xF0 || length < 2 || body.back() != 0xF7)
            return true;
        tune_.sysex.emplace_back(body.begin(), body.end() - 1);
        return push(0xF0, 0, 0, static_cast<std::uint32_t>(tune_.sysex.size() - 1));
    }

    bool push(std::uint8_t status, std::uint8_t data1, std::uint8_t data2 = 0, std::uint32_t aux = 0)
    {
        tune_.events.push_back({static_cast<std::int64_t>(tick_), aux, status, data1, data2});
        return tune_.events.size() <= kMaxMidiEvents;
    }

    Bytes data_;
    MidiSequence& tune_;
    std::size_t pos_ = 0;
    std::uint64_t tick_ = 0;
};

// Turns every event's tick into its sample, in time order, and drops the meta events; false
// when a time lies beyond the length limit. Metrical time accumulates tick x tempo exactly, in
// integers, so a long tune does not drift; SMPTE time ignores tempo altogether.
bool timeEvents(std::uint16_t division, MidiSequence& tune)
{
    const std::uint64_t rate = kSequenceRate;
    const std::uint64_t ppq = division;
    std::uint64_t num = rate, den = 0; // SMPTE: samples = ticks x num / den
    if (division == 0)
        return false;
    if (division & 0x8000) {
        const int fps = -static_cast<int>(static_cast<std::int8_t>(division >> 8));
        const std::uint64_t perFrame = division & 0xFFu;
        if (perFrame == 0 || (fps != 24 && fps != 25 && fps != 29 && fps != 30))
            return false;
        // 29 stands for 29.97 frames a second (30000/1001).
        num = fps == 29 ? rate * 1001 : rate;
        den = (fps == 29 ? 30000 : static_cast<std::uint64_t>(fps)) * perFrame;
    }
    // Tracks were read one after another; a stable sort by tick interleaves them and keeps
    // the order within a track and, at equal ticks, the order of the tracks.
    std::ranges::stable_sort(tune.events, {}, &MidiEvent::sample);
    const auto maxSamples = static_cast<std::uint64_t>(kMaxSequenceSamples);
    const std::uint64_t maxScaled = maxSamples * 125 * ppq / 6 + 1;
    std::uint64_t scaled = 0, lastTick = 0, tempo = kDefaultTempo;
    for (MidiEvent& e : tune.events) {
        const auto tick = static_cast<std::uint64_t>(e.sample);
        if (den > 0) {
            if (tick > maxSamples * den / num + 1)
                return false;
            e.sample = static_cast<std::int64_t>(tick * num / den);
        } else {
            if (tick - lastTick > (maxScaled - scaled) / tempo)
                return false;
            scaled += (tick - lastTick) * tempo;
            lastTick = tick;
            // scaled is ticks x microseconds a quarter; samples = scaled x 48000 / (ppq x 10^6).
            e.sample = static_cast<std::int64_t>(scaled * 6 / (125 * ppq));
        }
        if (e.sample > kMaxSequenceSamples)
            return false;
        tune.endSample = std::max(tune.endSample, e.sample);
        if (e.status == kMeta && e.data1 == kMetaTempo)
            tempo = e.sysex;
    }
    std::erase_if(tune.events, [](const MidiEvent& e) { return e.status == kMeta; });
    return true;
}

// A RIFF RMID file carries the MIDI file whole in its "data" chunk.
std::optional<Bytes> unwrapRmid(Bytes file)
{
    if (!(tagIs(file, 0, "RIFF") && tagIs(file, 8, "RMID")))
        return file;
    for (std::size_t at = 12; file.size() - at >= 8;) {
        const std::size_t size = ombura::readLe32(file, at + 4);
        if (size > file.size() - at - 8)
            return std::nullopt;
        if (tagIs(file, at, "data"))
            return file.subspan(at + 8, size);
        at += 8 + size + (size & 1);
        if (at > file.size())
            return std::nullopt;
    }
    return std::nullopt;
}

} // namespace

std::optional<MidiSequence> parseMidi(Bytes bytes)
{
    const std::optional<Bytes> unwrapped = bytes.size() <= kMaxMidiFileBytes ? unwrapRmid(bytes) : std::nullopt;
    if (!unwrapped || unwrapped->size() < 14 || !tagIs(*unwrapped, 0, "MThd"))
        return std::nullopt;
    const Bytes file = *unwrapped;
    const std::uint32_t headerSize = readBe32(file, 4);
    const std::uint16_t format = readBe16(file, 8);
    const std::uint16_t tracks = readBe16(file, 10);
    if (headerSize < 6 || headerSize > file.size() - 8 || format > 1 || tracks == 0 || (format == 0 && tracks != 1))
        return std::nullopt;

    MidiSequence tune;
    std::size_t at = 8 + std::size_t{headerSize};
    for (unsigned found = 0; found < tracks;) {
        if (file.size() - at < 8 || readBe32(file, at + 4) > file.size() - at - 8)
            return std::nullopt;
        const std::size_t size = readBe32(file, at + 4);
        // Chunks of other kinds are allowed between tracks and are passed over.
        if (tagIs(file, at, "MTrk")) {
            if (!TrackReader(file.subspan(at + 8, size), tune).read())
                return std::nullopt;
            ++found;
        }
        at += 8 + size;
    }
    if (!timeEvents(readBe16(file, 12), tune))
        return std::nullopt;
    tune.events.shrink_to_fit();
    return tune;
}

MidiLoad loadMidiFile(const std::string& path)
{
    const ombura::FileContents file = ombura::readRegularFile(path, kMaxMidiFileBytes);
    if (file.error == ombura::ReadError::NotFound || file.error == ombura::ReadError::CannotOpen)
        return {MidiLoadError::NotFound, std::nullopt};
    std::optional<MidiSequence> tune = file.error == ombura::ReadError::None ? parseMidi(file.bytes) : std::nullopt;
    return {tune ? MidiLoadError::None : MidiLoadError::Invalid, std::move(tune)};
}

} // namespace sound
