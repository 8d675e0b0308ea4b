// SPDX-License-Identifier: GPL-3.0-or-later

#include "MidiFile.h"

#include "ByteOrder.h"

#include <algorithm>
#include <cstring>

namespace sound {

namespace {

using Bytes = std::span<const std::uint8_t>;

// A tick count beyond this is nonsense in any file and keeps the time arithmetic in range.
constexpr std::uint64_t kMaxTick = std::uint64_t{1} << 52;
constexpr std::uint32_t kDefaultTempo = 500000; // microseconds per quarter note
constexpr std::uint8_t kMeta = 0xFF;
constexpr std::uint8_t kMetaTempo = 0x51;
constexpr std::uint8_t kMetaEnd = 0x2F;

using ombura::readBe16;
using ombura::readBe32;
using ombura::readLe32;

bool tagIs(Bytes b, std::size_t at, const char* tag)
{
    return b.size() >= at + 4 && std::memcmp(b.data() + at, tag, 4) == 0;
}

// An event as read from a track, before tempo turns ticks into samples. Tempo changes and
// end-of-track marks travel with the rest (status 0xFF) so they merge into the same order.
struct RawEvent {
    std::uint64_t tick = 0;
    std::uint32_t aux = 0; // tempo, or sysex index
    std::uint8_t status = 0;
    std::uint8_t data1 = 0;
    std::uint8_t data2 = 0;
};

class TrackReader {
public:
    TrackReader(Bytes track, std::vector<RawEvent>& events, MidiSequence& sequence)
        : data_(track), events_(events), sequence_(sequence)
    { }

    bool read()
    {
        std::uint8_t running = 0;
        while (pos_ < data_.size()) {
            std::uint32_t delta = 0;
            if (!readNumber(delta))
                return false;
            tick_ += delta;
            if (tick_ > kMaxTick || pos_ >= data_.size())
                return false;

            const std::uint8_t lead = data_[pos_];
            if (lead == kMeta) {
                bool ended = false;
                if (!readMeta(ended))
                    return false;
                if (ended)
                    return true;
                continue;
            }
            if (lead == 0xF0 || lead == 0xF7) {
                if (!readSysex())
                    return false;
                continue;
            }

            std::uint8_t status = running;
            if (lead & 0x80) {
                // System common and real-time bytes have no place in a file's track.
                if (lead >= 0xF0)
                    return false;
                status = lead;
                running = lead;
                ++pos_;
            } else if (status == 0) {
                return false;
            }
            const std::uint8_t kind = status & 0xF0;
            const std::size_t length = (kind == 0xC0 || kind == 0xD0) ? 1 : 2;
            if (data_.size() - pos_ < length)
                return false;
            RawEvent e;
            e.tick = tick_;
            e.status = status;
            e.data1 = data_[pos_];
            e.data2 = length == 2 ? data_[pos_ + 1] : 0;
            if ((e.data1 | e.data2) & 0x80)
                return false;
            pos_ += length;
            if (!push(e))
                return false;
        }
        // A track without its end mark is forgiven: it ends where its data ends.
        return pushEnd();
    }

private:
    bool readNumber(std::uint32_t& value)
    {
        value = 0;
        for (int i = 0; i < 4; ++i) {
            if (pos_ >= data_.size())
                return false;
            const std::uint8_t b = data_[pos_++];
            value = (value << 7) | (b & 0x7Fu);
            if (!(b & 0x80))
                return true;
        }
        return false;
    }

    bool readLength(std::size_t& length)
    {
        std::uint32_t n = 0;
        if (!readNumber(n) || n > data_.size() - pos_)
            return false;
        length = n;
        return true;
    }

    bool readMeta(bool& ended)
    {
        ++pos_;
        if (pos_ >= data_.size())
            return false;
        const std::uint8_t type = data_[pos_++];
        std::size_t length = 0;
        if (!readLength(length))
            return false;
        const std::size_t body = pos_;
        pos_ += length;
        if (type == kMetaTempo && length >= 3) {
            const std::uint32_t tempo = ombura::readBe(data_, body, 3);
            if (tempo > 0) {
                RawEvent e;
                e.tick = tick_;
                e.status = kMeta;
                e.data1 = kMetaTempo;
                e.aux = tempo;
                return push(e);
            }
        } else if (type == kMetaEnd) {
            ended = true;
            return pushEnd();
        }
        return true;
    }

    bool readSysex()
    {
        const std::uint8_t lead = data_[pos_++];
        std::size_t length = 0;
        if (!readLength(length))
            return false;
        const std::size_t body = pos_;
        pos_ += length;
        // Only a whole message in one packet is sent on; escapes and split packets are skipped.
        if (lead != 0xF0 || length < 2 || data_[body + length - 1] != 0xF7)
            return true;
        MidiSysex blob;
        blob.offset = static_cast<std::uint32_t>(sequence_.sysexBytes.size());
        blob.size = static_cast<std::uint32_t>(length - 1);
        sequence_.sysexBytes.insert(sequence_.sysexBytes.end(), data_.begin() + static_cast<std::ptrdiff_t>(body),
                                    data_.begin() + static_cast<std::ptrdiff_t>(body + length - 1));
        RawEvent e;
        e.tick = tick_;
        e.status = 0xF0;
        e.aux = static_cast<std::uint32_t>(sequence_.sysex.size());
        sequence_.sysex.push_back(blob);
        return push(e);
    }

    bool pushEnd()
    {
        RawEvent e;
        e.tick = tick_;
        e.status = kMeta;
        e.data1 = kMetaEnd;
        return push(e);
    }

    bool push(const RawEvent& e)
    {
        if (events_.size() >= kMaxMidiEvents)
            return false;
        events_.push_back(e);
        return true;
    }

    Bytes data_;
    std::vector<RawEvent>& events_;
    MidiSequence& sequence_;
    std::size_t pos_ = 0;
    std::uint64_t tick_ = 0;
};

// Turns ticks into samples. Metrical time accumulates tick x tempo exactly, in integers, so a
// long tune does not drift; SMPTE time ignores tempo altogether.
class Clock {
public:
    static std::optional<Clock> fromDivision(std::uint16_t division)
    {
        Clock c;
        if (division & 0x8000) {
            const int fps = -static_cast<int>(static_cast<std::int8_t>(division >> 8));
            const std::uint64_t perFrame = division & 0xFFu;
            if (perFrame == 0 || (fps != 24 && fps != 25 && fps != 29 && fps != 30))
                return std::nullopt;
            c.smpte_ = true;
            // 29 stands for 29.97 frames a second (30000/1001).
            c.num_ = fps == 29 ? std::uint64_t{kSequenceRate} * 1001 : std::uint64_t{kSequenceRate};
            c.den_ = fps == 29 ? 30000 * perFrame : static_cast<std::uint64_t>(fps) * perFrame;
        } else {
            if (division == 0)
                return std::nullopt;
            c.ppq_ = division;
            c.maxScaled_ = static_cast<std::uint64_t>(kMaxSequenceSamples) * 125 * c.ppq_ / 6 + 1;
        }
        return c;
    }

    // Called with ticks in rising order; false once the tune runs past the length limit.
    bool advance(std::uint64_t tick, std::int64_t& sample)
    {
        if (smpte_) {
            if (tick > static_cast<std::uint64_t>(kMaxSequenceSamples) * den_ / num_ + 1)
                return false;
            sample = static_cast<std::int64_t>(tick * num_ / den_);
        } else {
            const std::uint64_t dt = tick - lastTick_;
            if (dt > (maxScaled_ - scaled_) / tempo_)
                return false;
            scaled_ += dt * tempo_;
            lastTick_ = tick;
            // scaled_ is tick x microseconds-per-quarter; samples = scaled x 48000 / (ppq x 10^6).
            sample = static_cast<std::int64_t>(scaled_ * 6 / (125 * ppq_));
        }
        return sample <= kMaxSequenceSamples;
    }

    void setTempo(std::uint32_t tempo) { tempo_ = tempo; }

private:
    bool smpte_ = false;
    std::uint64_t num_ = 1, den_ = 1;
    std::uint64_t ppq_ = 1;
    std::uint64_t maxScaled_ = 0;
    std::uint64_t scaled_ = 0;
    std::uint64_t lastTick_ = 0;
    std::uint64_t tempo_ = kDefaultTempo;
};

// A RIFF RMID file carries the MIDI file whole in its "data" chunk.
std::optional<Bytes> unwrapRmid(Bytes file)
{
    if (!(tagIs(file, 0, "RIFF") && tagIs(file, 8, "RMID")))
        return file;
    std::size_t at = 12;
    while (file.size() - at >= 8) {
        const std::size_t size = readLe32(file, at + 4);
        const std::size_t body = at + 8;
        if (size > file.size() - body)
            return std::nullopt;
        if (tagIs(file, at, "data"))
            return file.subspan(body, size);
        at = body + size + (size & 1);
        if (at > file.size())
            return std::nullopt;
    }
    return std::nullopt;
}

} // namespace

namespace {

// Puts the events of every track on the sample clock, in order, into `sequence`; false when a
// time lies beyond what the clock can count.
bool timeEvents(std::vector<RawEvent>& raw, Clock& clock, MidiSequence& sequence)
{
    // Tracks were read one after another; a stable sort by tick interleaves them and keeps
    // the order within a track and, at equal ticks, the order of the tracks.
    std::stable_sort(raw.begin(), raw.end(), [](const RawEvent& a, const RawEvent& b) { return a.tick < b.tick; });

    sequence.events.reserve(raw.size());
    for (const RawEvent& r : raw) {
        std::int64_t sample = 0;
        if (!clock.advance(r.tick, sample))
            return false;
        sequence.endSample = std::max(sequence.endSample, sample);
        if (r.status == kMeta) {
            if (r.data1 == kMetaTempo)
                clock.setTempo(r.aux);
            continue;
        }
        MidiEvent e;
        e.sample = sample;
        e.status = r.status;
        e.data1 = r.data1;
        e.data2 = r.data2;
        e.sysex = r.status == 0xF0 ? r.aux : 0;
        sequence.events.push_back(e);
    }
    return true;
}

} // namespace

std::optional<MidiSequence> parseMidi(Bytes bytes)
{
    if (bytes.size() > kMaxMidiFileBytes)
        return std::nullopt;
    const std::optional<Bytes> unwrapped = unwrapRmid(bytes);
    if (!unwrapped)
        return std::nullopt;
    const Bytes file = *unwrapped;

    if (file.size() < 14 || !tagIs(file, 0, "MThd"))
        return std::nullopt;
    const std::uint32_t headerSize = readBe32(file, 4);
    if (headerSize < 6 || headerSize > file.size() - 8)
        return std::nullopt;
    const std::uint16_t format = readBe16(file, 8);
    const std::uint16_t tracks = readBe16(file, 10);
    const std::uint16_t division = readBe16(file, 12);
    if (format > 1 || tracks == 0 || (format == 0 && tracks != 1))
        return std::nullopt;
    std::optional<Clock> clock = Clock::fromDivision(division);
    if (!clock)
        return std::nullopt;

    MidiSequence sequence;
    std::vector<RawEvent> raw;
    std::size_t at = 8 + std::size_t{headerSize};
    for (unsigned found = 0; found < tracks;) {
        if (file.size() - at < 8)
            return std::nullopt;
        const std::size_t size = readBe32(file, at + 4);
        const std::size_t body = at + 8;
        if (size > file.size() - body)
            return std::nullopt;
        // Chunks of other kinds are allowed between tracks and are passed over.
        if (tagIs(file, at, "MTrk")) {
            if (!TrackReader(file.subspan(body, size), raw, sequence).read())
                return std::nullopt;
            ++found;
        }
        at = body + size;
    }

    if (!timeEvents(raw, *clock, sequence))
        return std::nullopt;
    sequence.events.shrink_to_fit();
    return sequence;
}

} // namespace sound
