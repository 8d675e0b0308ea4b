#include "Xpm.h"

#include <charconv>
#include <fstream>
#include <map>
#include <sstream>

namespace xpm {

namespace {

// The quoted strings of the C array, in order; comments between them are skipped.
std::vector<std::string_view> quotedStrings(std::string_view text)
{
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text.compare(i, 2, "/*") == 0) {
            const std::size_t end = text.find("*/", i + 2);
            i = end == std::string_view::npos ? text.size() : end + 2;
        } else if (text[i] == '"') {
            const std::size_t end = text.find('"', i + 1);
            if (end == std::string_view::npos)
                break;
            out.push_back(text.substr(i + 1, end - i - 1));
            i = end + 1;
        } else {
            ++i;
        }
    }
    return out;
}

std::vector<std::string_view> words(std::string_view s)
{
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t'))
            ++i;
        const std::size_t start = i;
        while (i < s.size() && s[i] != ' ' && s[i] != '\t')
            ++i;
        if (i > start)
            out.push_back(s.substr(start, i - start));
    }
    return out;
}

std::optional<int> number(std::string_view s)
{
    int v = 0;
    const auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || p != s.data() + s.size())
        return std::nullopt;
    return v;
}

std::optional<Rgba> colour(std::string_view s)
{
    if (s == "None" || s == "none")
        return Rgba{0, 0, 0, 0};
    if (s.empty() || s[0] != '#')
        return std::nullopt;
    s.remove_prefix(1);
    unsigned v = 0;
    const auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v, 16);
    if (ec != std::errc() || p != s.data() + s.size())
        return std::nullopt;
    if (s.size() == 6)
        return Rgba{std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v), 255};
    if (s.size() == 3)
        return Rgba{std::uint8_t(((v >> 8) & 15) * 17), std::uint8_t(((v >> 4) & 15) * 17), std::uint8_t((v & 15) * 17),
                    255};
    return std::nullopt;
}

std::nullopt_t fail(std::string* error, std::string message)
{
    if (error)
        *error = std::move(message);
    return std::nullopt;
}

} // namespace

std::optional<Image> parse(std::string_view text, std::string* error)
{
    const std::vector<std::string_view> strings = quotedStrings(text);
    if (strings.empty())
        return fail(error, "no header string");
    const std::vector<std::string_view> header = words(strings[0]);
    if (header.size() < 4)
        return fail(error, "short header");
    const auto w = number(header[0]), h = number(header[1]), n = number(header[2]), cpp = number(header[3]);
    if (!w || !h || !n || !cpp || *w <= 0 || *h <= 0 || *w > 4096 || *h > 4096 || *n <= 0 || *cpp < 1 || *cpp > 2)
        return fail(error, "bad header values");
    if (strings.size() < std::size_t(1 + *n + *h))
        return fail(error, "fewer strings than the header promises");

    std::map<std::string, Rgba, std::less<>> palette;
    for (int i = 0; i < *n; ++i) {
        const std::string_view line = strings[std::size_t(1 + i)];
        if (line.size() < std::size_t(*cpp))
            return fail(error, "short colour line");
        const std::vector<std::string_view> keys = words(line.substr(std::size_t(*cpp)));
        std::optional<Rgba> c;
        for (std::size_t k = 0; k + 1 < keys.size(); ++k)
            if (keys[k] == "c")
                c = colour(keys[k + 1]);
        if (!c)
            return fail(error, "colour line without a usable 'c' value: " + std::string(line));
        palette.emplace(std::string(line.substr(0, std::size_t(*cpp))), *c);
    }

    Image img;
    img.width = *w;
    img.height = *h;
    img.pixels.reserve(std::size_t(*w) * std::size_t(*h));
    for (int y = 0; y < *h; ++y) {
        const std::string_view row = strings[std::size_t(1 + *n + y)];
        if (row.size() != std::size_t(*w * *cpp))
            return fail(error, "row " + std::to_string(y) + " has the wrong length");
        for (int x = 0; x < *w; ++x) {
            const auto it = palette.find(row.substr(std::size_t(x * *cpp), std::size_t(*cpp)));
            if (it == palette.end())
                return fail(error, "row " + std::to_string(y) + " uses an undefined colour");
            img.pixels.push_back(it->second);
        }
    }
    return img;
}

std::optional<Image> load(const std::string& path, std::string* error)
{
    std::ifstream f(path, std::ios::binary);
    if (!f)
        return fail(error, "cannot open " + path);
    std::stringstream ss;
    ss << f.rdbuf();
    return parse(ss.str(), error);
}

} // namespace xpm
