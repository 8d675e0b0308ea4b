#include "Raster.h"

#include <algorithm>
#include <cmath>
#include <fstream>

namespace raster {

Canvas::Canvas(int width, int height, Rgb fill)
    : w_(width), h_(height), px_(std::size_t(width) * std::size_t(height), fill)
{ }

void Canvas::set(int x, int y, Rgb c)
{
    if (x < 0 || y < 0 || x >= w_ || y >= h_)
        return;
    px_[std::size_t(y) * std::size_t(w_) + std::size_t(x)] = c;
}

void Canvas::fillPolygon(const std::vector<Pt>& poly, Rgb c)
{
    if (poly.size() < 3)
        return;
    double minY = poly[0].y, maxY = poly[0].y;
    for (const Pt& p : poly) {
        minY = std::min(minY, p.y);
        maxY = std::max(maxY, p.y);
    }
    const int y0 = std::max(0, int(std::floor(minY)));
    const int y1 = std::min(h_ - 1, int(std::ceil(maxY)));
    std::vector<double> xs;
    for (int y = y0; y <= y1; ++y) {
        const double sy = y + 0.5;
        xs.clear();
        for (std::size_t i = 0; i < poly.size(); ++i) {
            const Pt& a = poly[i];
            const Pt& b = poly[(i + 1) % poly.size()];
            // Half-open on y so a vertex shared by two edges counts once.
            if ((a.y <= sy && b.y > sy) || (b.y <= sy && a.y > sy))
                xs.push_back(a.x + (sy - a.y) * (b.x - a.x) / (b.y - a.y));
        }
        std::sort(xs.begin(), xs.end());
        for (std::size_t i = 0; i + 1 < xs.size(); i += 2) {
            const int xa = std::max(0, int(std::ceil(xs[i] - 0.5)));
            const int xb = std::min(w_ - 1, int(std::ceil(xs[i + 1] - 0.5)) - 1);
            for (int x = xa; x <= xb; ++x)
                px_[std::size_t(y) * std::size_t(w_) + std::size_t(x)] = c;
        }
    }
}

void Canvas::fillRect(int x0, int y0, int x1, int y1, Rgb c)
{
    for (int y = std::max(0, y0); y < std::min(h_, y1); ++y)
        for (int x = std::max(0, x0); x < std::min(w_, x1); ++x)
            px_[std::size_t(y) * std::size_t(w_) + std::size_t(x)] = c;
}

void Canvas::line(Pt a, Pt b, double thickness, Rgb c)
{
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double len = std::hypot(dx, dy);
    if (len == 0) {
        fillRect(int(a.x), int(a.y), int(a.x) + 1, int(a.y) + 1, c);
        return;
    }
    // Thin lines would vanish between pixel centres; widen them to one pixel.
    const double t = std::max(thickness, 1.0) / 2;
    const double nx = -dy / len * t, ny = dx / len * t;
    fillPolygon({{a.x + nx, a.y + ny}, {b.x + nx, b.y + ny}, {b.x - nx, b.y - ny}, {a.x - nx, a.y - ny}}, c);
}

void Canvas::fillEllipse(double cx, double cy, double rx, double ry, Rgb c)
{
    for (int y = std::max(0, int(cy - ry - 1)); y <= std::min(h_ - 1, int(cy + ry + 1)); ++y)
        for (int x = std::max(0, int(cx - rx - 1)); x <= std::min(w_ - 1, int(cx + rx + 1)); ++x) {
            const double u = (x + 0.5 - cx) / rx, v = (y + 0.5 - cy) / ry;
            if (u * u + v * v <= 1.0)
                px_[std::size_t(y) * std::size_t(w_) + std::size_t(x)] = c;
        }
}

namespace {

void put16(std::vector<std::uint8_t>& out, unsigned v)
{
    out.push_back(std::uint8_t(v));
    out.push_back(std::uint8_t(v >> 8));
}

void put32(std::vector<std::uint8_t>& out, unsigned v)
{
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

} // namespace

std::vector<std::uint8_t> Canvas::toBmp() const
{
    const unsigned stride = (unsigned(w_) * 3 + 3) & ~3u;
    const unsigned imageSize = stride * unsigned(h_);
    std::vector<std::uint8_t> out;
    out.reserve(54 + imageSize);
    out.push_back('B');
    out.push_back('M');
    put32(out, 54 + imageSize);
    put32(out, 0);
    put32(out, 54);
    put32(out, 40); // BITMAPINFOHEADER
    put32(out, unsigned(w_));
    put32(out, unsigned(h_)); // positive: rows run bottom-up
    put16(out, 1);
    put16(out, 24);
    put32(out, 0); // no compression
    put32(out, imageSize);
    put32(out, 3780); // 96 dots per inch
    put32(out, 3780);
    put32(out, 0);
    put32(out, 0);
    for (int y = h_ - 1; y >= 0; --y) {
        unsigned written = 0;
        for (int x = 0; x < w_; ++x, written += 3) {
            const Rgb c = at(x, y);
            out.push_back(c.b);
            out.push_back(c.g);
            out.push_back(c.r);
        }
        for (; written < stride; ++written)
            out.push_back(0);
    }
    return out;
}

bool writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    if (!f)
        return false;
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(f);
}

} // namespace raster
