#include "Score.h"

#include <algorithm>
#include <charconv>
#include <map>

namespace score {

namespace {

std::vector<std::string_view> split(std::string_view line)
{
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r'))
            ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r')
            ++i;
        if (i > start)
            out.push_back(line.substr(start, i - start));
    }
    return out;
}

std::optional<int> toInt(std::string_view s)
{
    int v = 0;
    const auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || p != s.data() + s.size())
        return std::nullopt;
    return v;
}

// One written note or rest, before it is placed in time.
struct Written {
    bool rest = false;
    int key = 0;
    int ticks = 0;
    bool accent = false;
};

const std::map<std::string_view, int> kPercussion{{"hb", 76}, {"lb", 77}, {"cl", 75}};

std::optional<Written> parseNote(std::string_view s, bool percussion, std::string& why)
{
    Written w;
    if (!s.empty() && s.back() == '!') {
        w.accent = true;
        s.remove_suffix(1);
    }
    const std::size_t slash = s.find('/');
    if (slash == std::string_view::npos) {
        why = "a note needs /<length>";
        return std::nullopt;
    }
    std::string_view pitch = s.substr(0, slash), length = s.substr(slash + 1);
    bool dotted = false;
    if (!length.empty() && length.back() == '.') {
        dotted = true;
        length.remove_suffix(1);
    }
    const auto den = toInt(length);
    if (!den || (*den != 1 && *den != 2 && *den != 4 && *den != 8 && *den != 16)) {
        why = "length must be 1, 2, 4, 8 or 16";
        return std::nullopt;
    }
    w.ticks = kTicksPerQuarter * 4 / *den;
    if (dotted)
        w.ticks += w.ticks / 2;

    if (pitch == "r") {
        w.rest = true;
        return w;
    }
    if (percussion) {
        const auto it = kPercussion.find(pitch);
        if (it == kPercussion.end()) {
            why = "unknown percussion name";
            return std::nullopt;
        }
        w.key = it->second;
        return w;
    }
    static constexpr int kSteps[] = {9, 11, 0, 2, 4, 5, 7}; // A B C D E F G
    if (pitch.empty() || pitch[0] < 'A' || pitch[0] > 'G') {
        why = "a pitch starts with a letter A to G";
        return std::nullopt;
    }
    int key = kSteps[pitch[0] - 'A'];
    pitch.remove_prefix(1);
    if (!pitch.empty() && (pitch[0] == '#' || pitch[0] == 'b')) {
        key += pitch[0] == '#' ? 1 : -1;
        pitch.remove_prefix(1);
    }
    const auto octave = toInt(pitch);
    if (!octave || *octave < 0 || *octave > 9) {
        why = "octave must be 0 to 9";
        return std::nullopt;
    }
    w.key = key + (*octave + 1) * 12; // C4 is 60
    if (w.key < 0 || w.key > 127) {
        why = "pitch outside the MIDI range";
        return std::nullopt;
    }
    return w;
}

struct Block {
    std::vector<std::vector<Written>> bars; // per voice, each bar's notes flattened
    std::vector<int> barCount; // per voice
    int bars_ = -1; // bars in the block, from the first voice line
};

} // namespace

std::optional<Score> parse(std::string_view text, std::string* error)
{
    Score sc;
    std::map<std::string, Block, std::less<>> blocks;
    std::vector<std::string> order;
    Block* open = nullptr;
    std::string openName;
    int lineNo = 0;

    auto fail = [&](const std::string& why) -> std::nullopt_t {
        if (error)
            *error = "line " + std::to_string(lineNo) + ": " + why;
        return std::nullopt;
    };
    auto voiceIndex = [&](std::string_view name) {
        for (std::size_t i = 0; i < sc.voices.size(); ++i)
            if (sc.voices[i].name == name)
                return int(i);
        return -1;
    };

    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNo;
        if (const std::size_t hash = line.find('#'); hash != std::string_view::npos) {
            // '#' also sharpens a note, so only a '#' at the start of a word begins a comment.
            if (hash == 0 || line[hash - 1] == ' ' || line[hash - 1] == '\t')
                line = line.substr(0, hash);
        }
        const std::vector<std::string_view> w = split(line);
        if (w.empty())
            continue;

        if (w[0] == "tempo") {
            const auto v = w.size() == 2 ? toInt(w[1]) : std::nullopt;
            if (!v || *v < 20 || *v > 400)
                return fail("tempo takes quarter notes a minute, 20 to 400");
            sc.tempo = *v;
        } else if (w[0] == "meter") {
            const std::size_t slash = w.size() == 2 ? w[1].find('/') : std::string_view::npos;
            const auto b = slash != std::string_view::npos ? toInt(w[1].substr(0, slash)) : std::nullopt;
            const auto u = slash != std::string_view::npos ? toInt(w[1].substr(slash + 1)) : std::nullopt;
            if (!b || !u || *b < 1 || *b > 16 || (*u != 2 && *u != 4 && *u != 8))
                return fail("meter takes <beats>/<2|4|8>");
            sc.beats = *b;
            sc.beatUnit = *u;
        } else if (w[0] == "voice") {
            if (open)
                return fail("voices are declared before the blocks");
            if (w.size() < 2 || voiceIndex(w[1]) >= 0)
                return fail("a voice needs a new name");
            Voice v;
            v.name = std::string(w[1]);
            bool haveChannel = false;
            for (std::size_t i = 2; i < w.size(); i += 2) {
                if (i + 1 >= w.size())
                    return fail("voice setting without a value");
                const auto val = toInt(w[i + 1]);
                if (!val)
                    return fail("voice setting needs a number");
                if (w[i] == "channel" && *val >= 1 && *val <= 16) {
                    v.channel = *val - 1;
                    haveChannel = true;
                } else if (w[i] == "program" && *val >= 0 && *val <= 127) {
                    v.program = *val;
                } else if (w[i] == "volume" && *val >= 0 && *val <= 127) {
                    v.volume = *val;
                } else if (w[i] == "pan" && *val >= 0 && *val <= 127) {
                    v.pan = *val;
                } else if (w[i] == "reverb" && *val >= 0 && *val <= 127) {
                    v.reverb = *val;
                } else if (w[i] == "velocity" && *val >= 1 && *val <= 127) {
                    v.velocity = *val;
                } else if (w[i] == "gate" && *val >= 10 && *val <= 100) {
                    v.gate = *val;
                } else {
                    return fail("unknown voice setting or value out of range: " + std::string(w[i]));
                }
            }
            if (!haveChannel)
                return fail("a voice needs a channel");
            sc.voices.push_back(v);
        } else if (w[0] == "block") {
            if (open || w.size() != 2 || blocks.count(w[1]))
                return fail("a block needs a new name and the previous block closed");
            openName = std::string(w[1]);
            open = &blocks[openName];
            open->bars.assign(sc.voices.size(), {});
            open->barCount.assign(sc.voices.size(), 0);
        } else if (w[0] == "end") {
            if (!open)
                return fail("end without a block");
            for (std::size_t v = 0; v < sc.voices.size(); ++v)
                if (open->barCount[v] != 0 && open->barCount[v] != open->bars_)
                    return fail("in block " + openName + " voice " + sc.voices[v].name + " has " +
                                std::to_string(open->barCount[v]) + " bars, not " + std::to_string(open->bars_));
            open = nullptr;
        } else if (w[0] == "play") {
            for (std::size_t i = 1; i < w.size(); ++i) {
                if (!blocks.count(w[i]))
                    return fail("play names an unknown block: " + std::string(w[i]));
                order.emplace_back(w[i]);
            }
        } else {
            const int v = voiceIndex(w[0]);
            if (v < 0 || !open)
                return fail("expected a voice line inside a block, got: " + std::string(w[0]));
            if (w.size() < 2 || w[1] != "|" || w.back() != "|")
                return fail("bars are written between | marks");
            const int barTicks = kTicksPerQuarter * 4 / sc.beatUnit * sc.beats;
            int inBar = 0;
            for (std::size_t i = 2; i < w.size(); ++i) {
                if (w[i] == "|") {
                    if (inBar != barTicks)
                        return fail("bar " + std::to_string(open->barCount[std::size_t(v)] + 1) + " of " +
                                    sc.voices[std::size_t(v)].name + " does not fill the meter");
                    ++open->barCount[std::size_t(v)];
                    inBar = 0;
                    continue;
                }
                std::string why;
                const auto n = parseNote(w[i], sc.voices[std::size_t(v)].channel == 9, why);
                if (!n)
                    return fail(std::string(w[i]) + ": " + why);
                inBar += n->ticks;
                open->bars[std::size_t(v)].push_back(*n);
            }
            open->bars_ = std::max(open->bars_, open->barCount[std::size_t(v)]);
        }
    }
    if (open)
        return fail("block " + openName + " is not closed");
    if (order.empty())
        return fail("nothing to play");

    // Lay the blocks end to end; a voice missing from a block rests through it.
    const int barTicks = kTicksPerQuarter * 4 / sc.beatUnit * sc.beats;
    int blockStart = 0;
    for (const std::string& name : order) {
        const Block& b = blocks.at(name);
        for (std::size_t v = 0; v < sc.voices.size(); ++v) {
            int t = blockStart;
            for (const Written& n : b.bars[v]) {
                if (!n.rest) {
                    const Voice& voice = sc.voices[v];
                    // Downbeats lean a little harder than the rest of the bar.
                    const int inBar = (t - blockStart) % barTicks;
                    int vel = voice.velocity + (inBar == 0 ? 8 : inBar % kTicksPerQuarter == 0 ? 3 : 0);
                    if (n.accent)
                        vel += 18;
                    sc.notes.push_back({int(v), t, n.ticks, n.key, std::clamp(vel, 1, 127)});
                }
                t += n.ticks;
            }
        }
        blockStart += std::max(b.bars_, 0) * barTicks;
    }
    sc.totalTicks = blockStart;

    // Each note sounds for its gate share; the last note of every voice rings
    // to its full length, which is the end of the piece.
    std::vector<int> last(sc.voices.size(), -1);
    for (std::size_t i = 0; i < sc.notes.size(); ++i)
        last[std::size_t(sc.notes[i].voice)] = int(i);
    for (std::size_t i = 0; i < sc.notes.size(); ++i) {
        Note& n = sc.notes[i];
        const bool isLast = last[std::size_t(n.voice)] == int(i);
        if (!isLast)
            n.length = std::max(30, n.length * sc.voices[std::size_t(n.voice)].gate / 100);
    }
    std::stable_sort(sc.notes.begin(), sc.notes.end(), [](const Note& a, const Note& b) { return a.start < b.start; });
    return sc;
}

} // namespace score
