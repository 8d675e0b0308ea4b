// SPDX-License-Identifier: GPL-3.0-or-later

#include "MciInterpreter.h"

#include "MidiFile.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <span>
#include <utility>

namespace sound {

namespace {

constexpr std::string_view kBlanks = " \t";

// Only ASCII letters: the command's words are English, and a path's bytes are left alone.
std::string lowered(std::string_view s)
{
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

std::vector<std::string_view> splitWords(std::string_view s)
{
    std::vector<std::string_view> words;
    for (std::size_t end = 0;;) {
        const std::size_t start = s.find_first_not_of(kBlanks, end);
        if (start == std::string_view::npos)
            return words;
        end = std::min(s.find_first_of(kBlanks, start), s.size());
        words.push_back(s.substr(start, end - start));
    }
}

// Copies `text` into a caller's buffer of `capacity` characters, NUL included. Nothing is
// written when there is no buffer; a reply that does not fit is cut and reported as overflow.
MciError writeReply(std::string_view text, char* reply, unsigned capacity)
{
    if (!reply || capacity == 0)
        return MciError::Ok;
    const std::size_t fits = std::min<std::size_t>(text.size(), capacity - 1);
    std::memcpy(reply, text.data(), fits);
    reply[fits] = '\0';
    return fits < text.size() ? MciError::ParamOverflow : MciError::Ok;
}

} // namespace

MciInterpreter::MciInterpreter(Sequencer& sequencer, std::function<void()> started)
    : sequencer_(sequencer), started_(std::move(started))
{ }

std::uint32_t MciInterpreter::send(std::string_view text, char* reply, unsigned capacity)
{
    // The call reports in codes only; nothing may escape to the game's handler.
    try {
        std::string answer;
        const MciError result = run(text, answer);
        return code(result == MciError::Ok ? writeReply(answer, reply, capacity) : result);
    } catch (const std::bad_alloc&) {
        return code(MciError::OutOfMemory);
    } catch (const std::exception&) {
        return code(MciError::Internal);
    }
}

MciError MciInterpreter::run(std::string_view text, std::string& answer)
{
    // The classic call takes a C string: nothing after a NUL is part of the command.
    text = text.substr(0, text.find('\0'));
    const std::string low = lowered(text);
    const Words words = splitWords(low);
    if (words.empty())
        return MciError::MissingCommandString;
    constexpr std::array<std::string_view, 5> kVerbs{"open", "close", "play", "stop", "status"};
    if (std::ranges::find(kVerbs, words[0]) == kVerbs.end())
        return MciError::UnrecognizedCommand;
    if (words.size() < 2)
        return MciError::MissingDeviceName;
    return words[0] == "open" ? open(text, low, words) : runOnDevice(words, answer);
}

// The open command carries a file path that may hold blanks and any words at all, so it is
// read from the right: only the final "type <t> alias <a>" clause (in either order) counts, and
// everything between the verb and it, less the one blank on each side, is the element.
MciError MciInterpreter::open(std::string_view text, std::string_view low, const Words& words)
{
    const std::size_t n = words.size();
    std::string_view type;
    std::string_view alias;
    if (n >= 5 && words[n - 4] == "type" && words[n - 2] == "alias") {
        type = words[n - 3];
        alias = words[n - 1];
    } else if (n >= 5 && words[n - 4] == "alias" && words[n - 2] == "type") {
        alias = words[n - 3];
        type = words[n - 1];
    } else {
        return n >= 3 && words[n - 2] == "type" ? MciError::MissingParameter : MciError::DeviceTypeRequired;
    }
    // Lower case moves no character, so a word's place in `low` is its place in `text`.
    const auto placeOf = [low](std::string_view word) { return static_cast<std::size_t>(word.data() - low.data()); };
    const std::size_t elementStart = placeOf(words[0]) + words[0].size() + 1;
    const std::size_t clauseStart = placeOf(words[n - 4]);
    if (clauseStart <= elementStart + 1)
        return MciError::FilenameRequired;

    if (alias == alias_)
        return MciError::DuplicateAlias;
    if (type != "sequencer")
        return MciError::DeviceNotInstalled;
    if (!alias_.empty())
        return MciError::SequencerPortInUse;
    MidiLoad load = loadMidiFile(std::string(text.substr(elementStart, clauseStart - 1 - elementStart)));
    if (load.error == MidiLoadError::NotFound)
        return MciError::FileNotFound;
    if (load.error != MidiLoadError::None || !load.sequence)
        return MciError::InvalidFile;
    sequencer_.load(std::make_shared<const MidiSequence>(std::move(*load.sequence)));
    alias_ = alias;
    return MciError::Ok;
}

MciError MciInterpreter::runOnDevice(const Words& words, std::string& answer)
{
    if (alias_.empty() || words[1] != alias_)
        return MciError::InvalidDeviceName;
    const std::string_view verb = words[0];
    const std::span<const std::string_view> items = std::span(words).subspan(2);
    if (verb == "status") {
        if (items.empty())
            return MciError::MissingParameter;
        if (items.size() != 1 || items[0] != "mode")
            return MciError::UnrecognizedKeyword;
        answer = sequencer_.playing() ? "playing" : "stopped";
        return MciError::Ok;
    }
    if (!items.empty())
        return MciError::UnrecognizedKeyword;
    if (verb == "close") {
        sequencer_.unload();
        alias_.clear();
    } else if (verb == "play") {
        if (sequencer_.play() && started_)
            started_();
    } else {
        sequencer_.stop();
    }
    return MciError::Ok;
}

} // namespace sound
