// Makes the desktop icons from the 32 x 32 program icon: PNGs for the usual
// hicolor sizes and one SVG that draws the same pixel map with square cells.
//
// Sizes of 32 and up repeat pixels (nearest neighbour), so the pixel art stays
// crisp; the small sizes average the covered pixels, which keeps the figure
// and the red band readable where whole rows would otherwise drop out.
//
// At 16 x 16 no scaling keeps the title, so a separate hand-drawn 16 x 16 map
// (the head and the red band) stands in for it there.
//
// Usage: make_icons <icon.xpm> <icon16.xpm> <output folder>
// writes <output>/hicolor/<N>x<N>/apps/ombura.png and <output>/hicolor/scalable/apps/ombura.svg

#include "Png.h"
#include "Xpm.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int kSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

std::vector<std::uint8_t> scaled(const xpm::Image& src, int n)
{
    std::vector<std::uint8_t> out(std::size_t(n) * std::size_t(n) * 4);
    const int sw = src.width, sh = src.height;
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            xpm::Rgba c;
            if (n >= sw) {
                // Sample at the centre of the destination pixel.
                c = src.at((2 * x + 1) * sw / (2 * n), (2 * y + 1) * sh / (2 * n));
            } else {
                // Box filter in exact integer units: a source pixel spans n units,
                // a destination pixel sw units.
                long long sumA = 0, sumR = 0, sumG = 0, sumB = 0;
                for (int sy = y * sh / n; sy < sh && sy * n < (y + 1) * sh; ++sy)
                    for (int sx = x * sw / n; sx < sw && sx * n < (x + 1) * sw; ++sx) {
                        const int ox = std::min((sx + 1) * n, (x + 1) * sw) - std::max(sx * n, x * sw);
                        const int oy = std::min((sy + 1) * n, (y + 1) * sh) - std::max(sy * n, y * sh);
                        if (ox <= 0 || oy <= 0)
                            continue;
                        const xpm::Rgba p = src.at(sx, sy);
                        const long long wgt = (long long)ox * oy * p.a;
                        sumA += wgt;
                        sumR += wgt * p.r;
                        sumG += wgt * p.g;
                        sumB += wgt * p.b;
                    }
                const long long area = (long long)sw * sh * 255;
                c.a = std::uint8_t((sumA * 255 + area / 2) / area);
                if (sumA > 0) {
                    c.r = std::uint8_t((sumR + sumA / 2) / sumA);
                    c.g = std::uint8_t((sumG + sumA / 2) / sumA);
                    c.b = std::uint8_t((sumB + sumA / 2) / sumA);
                }
                if (c.a == 0)
                    c = {};
            }
            std::uint8_t* p = &out[(std::size_t(y) * std::size_t(n) + std::size_t(x)) * 4];
            p[0] = c.r;
            p[1] = c.g;
            p[2] = c.b;
            p[3] = c.a;
        }
    return out;
}

std::string svg(const xpm::Image& src)
{
    // One rectangle per horizontal run of a colour, stretched down over the
    // rows below that repeat the same run.
    std::vector<std::vector<bool>> done(std::size_t(src.height), std::vector<bool>(std::size_t(src.width)));
    std::ostringstream s;
    s << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" viewBox=\"0 0 " << src.width << ' '
      << src.height << "\" shape-rendering=\"crispEdges\">\n"
      << "<title>Ombura</title>\n";
    for (int y = 0; y < src.height; ++y)
        for (int x = 0; x < src.width;) {
            const xpm::Rgba c = src.at(x, y);
            if (c.a == 0 || done[std::size_t(y)][std::size_t(x)]) {
                ++x;
                continue;
            }
            int w = 1;
            while (x + w < src.width && src.at(x + w, y) == c && !done[std::size_t(y)][std::size_t(x + w)])
                ++w;
            int h = 1;
            for (; y + h < src.height; ++h) {
                bool same = true;
                for (int k = 0; k < w && same; ++k)
                    same = src.at(x + k, y + h) == c && !done[std::size_t(y + h)][std::size_t(x + k)];
                if (!same)
                    break;
            }
            for (int yy = y; yy < y + h; ++yy)
                for (int k = 0; k < w; ++k)
                    done[std::size_t(yy)][std::size_t(x + k)] = true;
            char colour[8];
            std::snprintf(colour, sizeof colour, "#%02x%02x%02x", c.r, c.g, c.b);
            s << "<rect x=\"" << x << "\" y=\"" << y << "\" width=\"" << w << "\" height=\"" << h << "\" fill=\""
              << colour << "\"/>\n";
            x += w;
        }
    s << "</svg>\n";
    return s.str();
}

bool write(const std::filesystem::path& path, const std::string& bytes)
{
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), std::streamsize(bytes.size()));
    return bool(f);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <icon.xpm> <icon16.xpm> <output folder>\n", argv[0]);
        return 2;
    }
    std::string error;
    const auto icon = xpm::load(argv[1], &error);
    if (!icon || icon->width != 32 || icon->height != 32) {
        std::fprintf(stderr, "make_icons: %s: %s\n", argv[1], icon ? "not 32 x 32" : error.c_str());
        return 1;
    }
    const auto small = xpm::load(argv[2], &error);
    if (!small || small->width != 16 || small->height != 16) {
        std::fprintf(stderr, "make_icons: %s: %s\n", argv[2], small ? "not 16 x 16" : error.c_str());
        return 1;
    }
    const std::filesystem::path root = std::filesystem::path(argv[3]) / "hicolor";
    for (int n : kSizes) {
        const std::vector<std::uint8_t> png = png::encodeRgba(n, n, n == 16 ? scaled(*small, 16) : scaled(*icon, n));
        const std::string dir = std::to_string(n) + "x" + std::to_string(n);
        if (!write(root / dir / "apps" / "ombura.png", std::string(png.begin(), png.end()))) {
            std::fprintf(stderr, "make_icons: cannot write the %s icon\n", dir.c_str());
            return 1;
        }
    }
    if (!write(root / "scalable" / "apps" / "ombura.svg", svg(*icon))) {
        std::fprintf(stderr, "make_icons: cannot write the scalable icon\n");
        return 1;
    }
    return 0;
}
