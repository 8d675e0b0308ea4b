#pragma once

// Reads the XPM pictures of this project: "#RRGGBB" or "#RGB" colours and
// "None" for transparency, one or two characters per pixel.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace xpm {

struct Rgba {
    std::uint8_t r = 0, g = 0, b = 0, a = 0;
    bool operator==(const Rgba&) const = default;
};

struct Image {
    int width = 0;
    int height = 0;
    std::vector<Rgba> pixels; // row by row
    Rgba at(int x, int y) const { return pixels[std::size_t(y) * std::size_t(width) + std::size_t(x)]; }
};

// Nothing on failure; `error` then says what was wrong.
std::optional<Image> parse(std::string_view text, std::string* error = nullptr);
std::optional<Image> load(const std::string& path, std::string* error = nullptr);

} // namespace xpm
