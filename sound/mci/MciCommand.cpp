// SPDX-License-Identifier: GPL-3.0-or-later

#include "MciCommand.h"

#include <array>
#include <utility>

namespace sound {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

char lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string lowered(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = lower(c);
    return out;
}

bool sameWord(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

struct VerbName {
    std::string_view name;
    MciVerb verb;
};

constexpr std::array<VerbName, 5> kVerbs{{
    {"open", MciVerb::Open},
    {"close", MciVerb::Close},
    {"play", MciVerb::Play},
    {"stop", MciVerb::Stop},
    {"status", MciVerb::Status},
}};

struct Word {
    std::string_view text;
    std::size_t start = 0;
};

std::vector<Word> splitWords(std::string_view s)
{
    std::vector<Word> words;
    std::size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && isBlank(s[i]))
            ++i;
        const std::size_t start = i;
        while (i < s.size() && !isBlank(s[i]))
            ++i;
        if (i > start)
            words.push_back({s.substr(start, i - start), start});
    }
    return words;
}

// The open command carries a file path that may hold blanks and any words at all, so it is
// read from the right: only the final "type <t> alias <a>" clause (in either order) counts, and
// everything before it, less the one blank that separates them, is the element.
MciParse parseOpen(std::string_view rest)
{
    MciParse result;
    result.command.verb = MciVerb::Open;
    if (rest.find_first_not_of(" \t") == std::string_view::npos) {
        result.error = MciError::MissingDeviceName;
        return result;
    }

    // Only the last four words matter; the element before them is never split.
    std::vector<Word> tail;
    std::size_t end = rest.size();
    while (tail.size() < 4) {
        while (end > 0 && isBlank(rest[end - 1]))
            --end;
        if (end == 0)
            break;
        std::size_t start = end;
        while (start > 0 && !isBlank(rest[start - 1]))
            --start;
        tail.insert(tail.begin(), Word{rest.substr(start, end - start), start});
        end = start;
    }

    if (tail.size() == 4 && sameWord(tail[0].text, "type") && sameWord(tail[2].text, "alias")) {
        result.command.type = lowered(tail[1].text);
        result.command.alias = lowered(tail[3].text);
    } else if (tail.size() == 4 && sameWord(tail[0].text, "alias") && sameWord(tail[2].text, "type")) {
        result.command.alias = lowered(tail[1].text);
        result.command.type = lowered(tail[3].text);
    } else {
        const bool endsWithType = tail.size() >= 2 && sameWord(tail[tail.size() - 2].text, "type");
        result.error = endsWithType ? MciError::MissingParameter : MciError::DeviceTypeRequired;
        return result;
    }

    const std::size_t clauseStart = tail[0].start;
    if (clauseStart == 0 || clauseStart == 1) {
        result.error = MciError::FilenameRequired;
        return result;
    }
    result.command.element = std::string(rest.substr(0, clauseStart - 1));
    return result;
}

} // namespace

MciParse parseMciCommand(std::string_view text)
{
    // The classic call takes a C string: nothing after a NUL is part of the command.
    if (const std::size_t nul = text.find('\0'); nul != std::string_view::npos)
        text = text.substr(0, nul);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);

    MciParse result;
    if (text.empty()) {
        result.error = MciError::MissingCommandString;
        return result;
    }

    std::size_t verbEnd = 0;
    while (verbEnd < text.size() && !isBlank(text[verbEnd]))
        ++verbEnd;
    const std::string_view verbWord = text.substr(0, verbEnd);

    const VerbName* found = nullptr;
    for (const VerbName& v : kVerbs) {
        if (sameWord(verbWord, v.name))
            found = &v;
    }
    if (!found) {
        result.error = MciError::UnrecognizedCommand;
        return result;
    }

    // Exactly one blank separates the verb from what follows; for open that keeps a path that
    // begins with a blank intact.
    const std::string_view rest = verbEnd < text.size() ? text.substr(verbEnd + 1) : std::string_view{};
    if (found->verb == MciVerb::Open)
        return parseOpen(rest);

    result.command.verb = found->verb;
    const std::vector<Word> words = splitWords(rest);
    if (words.empty()) {
        result.error = MciError::MissingDeviceName;
        return result;
    }
    result.command.alias = lowered(words[0].text);
    for (std::size_t i = 1; i < words.size(); ++i)
        result.command.items.push_back(lowered(words[i].text));
    return result;
}

} // namespace sound
