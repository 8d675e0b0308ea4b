// Writes the background music as a Standard MIDI File (format 1, one track
// for the tempo and one for each voice of the score).
//
// Usage: make_bgm <score> <output.dat>

#include "Score.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

void put16(Bytes& b, unsigned v)
{
    b.push_back(std::uint8_t(v >> 8));
    b.push_back(std::uint8_t(v));
}

void put32(Bytes& b, std::uint32_t v)
{
    put16(b, v >> 16);
    put16(b, v & 0xFFFF);
}

void varLen(Bytes& b, std::uint32_t v)
{
    std::uint8_t tmp[5];
    int n = 0;
    tmp[n++] = std::uint8_t(v & 0x7F);
    while (v >>= 7)
        tmp[n++] = std::uint8_t(0x80 | (v & 0x7F));
    while (n > 0)
        b.push_back(tmp[--n]);
}

struct Event {
    int tick;
    int order; // at one tick: releases first, then settings, then new notes
    Bytes data;
};

class Track {
public:
    void add(int tick, int order, Bytes data) { events_.push_back({tick, order, std::move(data)}); }
    void meta(int tick, std::uint8_t type, const Bytes& payload)
    {
        Bytes d{0xFF, type};
        varLen(d, std::uint32_t(payload.size()));
        d.insert(d.end(), payload.begin(), payload.end());
        add(tick, 1, d);
    }
    void text(int tick, std::uint8_t type, const std::string& s) { meta(tick, type, Bytes(s.begin(), s.end())); }

    Bytes chunk(int endTick)
    {
        std::stable_sort(events_.begin(), events_.end(), [](const Event& a, const Event& b) {
            return a.tick != b.tick ? a.tick < b.tick : a.order < b.order;
        });
        Bytes body;
        int now = 0;
        for (const Event& e : events_) {
            varLen(body, std::uint32_t(e.tick - now));
            now = e.tick;
            body.insert(body.end(), e.data.begin(), e.data.end());
        }
        varLen(body, std::uint32_t(endTick - now));
        body.insert(body.end(), {0xFF, 0x2F, 0x00});
        Bytes out{'M', 'T', 'r', 'k'};
        put32(out, std::uint32_t(body.size()));
        out.insert(out.end(), body.begin(), body.end());
        return out;
    }

private:
    std::vector<Event> events_;
};

Bytes toMidi(const score::Score& sc)
{
    std::vector<Track> tracks(sc.voices.size() + 1);

    Track& conductor = tracks[0];
    conductor.text(0, 0x03, "Ombura");
    int log2Unit = 0;
    for (int u = sc.beatUnit; u > 1; u >>= 1)
        ++log2Unit;
    conductor.meta(0, 0x58, {std::uint8_t(sc.beats), std::uint8_t(log2Unit), 24, 8});
    const std::uint32_t usPerQuarter = std::uint32_t(60'000'000 / sc.tempo);
    conductor.meta(0, 0x51,
                   {std::uint8_t(usPerQuarter >> 16), std::uint8_t(usPerQuarter >> 8), std::uint8_t(usPerQuarter)});

    for (std::size_t i = 0; i < sc.voices.size(); ++i) {
        const score::Voice& v = sc.voices[i];
        Track& t = tracks[i + 1];
        const auto ch = std::uint8_t(v.channel);
        t.text(0, 0x03, v.name);
        if (v.program >= 0)
            t.add(0, 1, {std::uint8_t(0xC0 | ch), std::uint8_t(v.program)});
        t.add(0, 1, {std::uint8_t(0xB0 | ch), 7, std::uint8_t(v.volume)});
        t.add(0, 1, {std::uint8_t(0xB0 | ch), 10, std::uint8_t(v.pan)});
        t.add(0, 1, {std::uint8_t(0xB0 | ch), 91, std::uint8_t(v.reverb)});
        t.add(0, 1, {std::uint8_t(0xB0 | ch), 93, 0});
    }
    for (const score::Note& n : sc.notes) {
        const auto ch = std::uint8_t(sc.voices[std::size_t(n.voice)].channel);
        Track& t = tracks[std::size_t(n.voice) + 1];
        t.add(n.start, 2, {std::uint8_t(0x90 | ch), std::uint8_t(n.key), std::uint8_t(n.velocity)});
        t.add(n.start + n.length, 0, {std::uint8_t(0x80 | ch), std::uint8_t(n.key), 64});
    }

    Bytes out{'M', 'T', 'h', 'd'};
    put32(out, 6);
    put16(out, 1);
    put16(out, unsigned(tracks.size()));
    put16(out, score::kTicksPerQuarter);
    for (Track& t : tracks) {
        const Bytes c = t.chunk(sc.totalTicks);
        out.insert(out.end(), c.begin(), c.end());
    }
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <score> <output.dat>\n", argv[0]);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "make_bgm: cannot read %s\n", argv[1]);
        return 1;
    }
    std::stringstream ss;
    ss << in.rdbuf();
    std::string error;
    const auto sc = score::parse(ss.str(), &error);
    if (!sc) {
        std::fprintf(stderr, "%s:%s\n", argv[1], error.c_str());
        return 1;
    }
    const Bytes midi = toMidi(*sc);
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(midi.data()), std::streamsize(midi.size()));
    if (!out) {
        std::fprintf(stderr, "make_bgm: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
