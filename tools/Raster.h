#pragma once

// A tiny RGB canvas for the generators: flat fills, no anti-aliasing, so the
// room keeps the hard pixel edges of the figures that stand in it.

#include <cstdint>
#include <string>
#include <vector>

namespace raster {

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb&) const = default;
};

constexpr Rgb hex(std::uint32_t v)
{
    return Rgb{std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v)};
}

struct Pt {
    double x = 0, y = 0;
};

class Canvas {
public:
    Canvas(int width, int height, Rgb fill);

    int width() const { return w_; }
    int height() const { return h_; }
    Rgb at(int x, int y) const { return px_[std::size_t(y) * std::size_t(w_) + std::size_t(x)]; }
    void set(int x, int y, Rgb c);

    // Fills the pixels whose centres lie inside the polygon (even-odd rule).
    void fillPolygon(const std::vector<Pt>& poly, Rgb c);
    void fillRect(int x0, int y0, int x1, int y1, Rgb c); // half-open [x0,x1) x [y0,y1)
    // A line of the given thickness, drawn as a filled quadrilateral.
    void line(Pt a, Pt b, double thickness, Rgb c);
    void fillEllipse(double cx, double cy, double rx, double ry, Rgb c);

    // 24-bit bottom-up Windows bitmap, byte for byte the same on every run.
    std::vector<std::uint8_t> toBmp() const;

private:
    int w_, h_;
    std::vector<Rgb> px_;
};

bool writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes);

} // namespace raster
