// SPDX-License-Identifier: GPL-3.0-or-later

// Makes the desktop icons from the 32 x 32 program icon: PNGs for the usual
// hicolor sizes and one SVG that draws the same pixel map with square cells.
//
// Sizes of 32 and up repeat pixels (nearest neighbour), so the pixel art stays
// crisp. Below 32 no scaling keeps the figure and its lettering: rows and
// columns drop out or smear together. The small sizes are pixel maps of their
// own, drawn on their own grid as icon themes do (icon16, icon22, icon24.xpm),
// and are taken as they are; a small size without a map of its own is averaged
// down from the 32 x 32 one.
//
// Usage: make_icons <icon.xpm> [<small map.xpm>...] <output folder>
// writes <output>/hicolor/<N>x<N>/apps/ombura.png and <output>/hicolor/scalable/apps/ombura.svg

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

namespace {

constexpr int kSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

// A square pixel map of one of the sizes made, or a null image after saying why not.
QImage loadMap(const char* path)
{
    const QImage img(QString::fromLocal8Bit(path));
    const bool known = std::find(std::begin(kSizes), std::end(kSizes), img.width()) != std::end(kSizes);
    if (img.isNull() || img.width() != img.height() || !known) {
        std::fprintf(stderr, "make_icons: %s: %s\n", path, img.isNull() ? "not a picture" : "not a square icon size");
        return {};
    }
    return img.convertToFormat(QImage::Format_ARGB32);
}

QByteArray svg(const QImage& src)
{
    // One rectangle per horizontal run of a colour, stretched down over the
    // rows below that repeat the same run.
    const int w = src.width(), h = src.height();
    std::vector<bool> done(std::size_t(w * h));
    auto taken = [&](int x, int y) { return done[std::size_t(y * w + x)]; };
    QByteArray s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                   "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" viewBox=\"0 0 " +
                   QByteArray::number(w) + ' ' + QByteArray::number(h) +
                   "\" shape-rendering=\"crispEdges\">\n<title>Ombura</title>\n";
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w;) {
            const QRgb c = src.pixel(x, y);
            if (qAlpha(c) == 0 || taken(x, y)) {
                ++x;
                continue;
            }
            int runW = 1;
            while (x + runW < w && src.pixel(x + runW, y) == c && !taken(x + runW, y))
                ++runW;
            int runH = 1;
            for (bool same = true; same && y + runH < h; runH += same) {
                for (int k = 0; k < runW && same; ++k)
                    same = src.pixel(x + k, y + runH) == c && !taken(x + k, y + runH);
            }
            for (int yy = y; yy < y + runH; ++yy)
                for (int k = 0; k < runW; ++k)
                    done[std::size_t(yy * w + x + k)] = true;
            s += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" fill=\"#%5\"/>\n")
                     .arg(x)
                     .arg(y)
                     .arg(runW)
                     .arg(runH)
                     .arg(c & 0xFFFFFF, 6, 16, QLatin1Char('0'))
                     .toUtf8();
            x += runW;
        }
    s += "</svg>\n";
    return s;
}

// Sizes above 32 repeat pixels; smaller sizes average the pixels each new
// one covers.
QImage scaled(const QImage& src, int n)
{
    if (n == src.width())
        return src;
    if (n < src.width())
        return src.scaled(n, n, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).convertToFormat(QImage::Format_ARGB32);
    // Unsmoothed drawing picks the source pixel under each new pixel's top
    // left corner; half a pixel up and left it picks the one under its centre,
    // which spreads the repeated rows and columns evenly at 48.
    QImage img(n, n, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.drawImage(QRectF(-0.5, -0.5, n, n), src);
    p.end();
    return img;
}

bool write(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(path.section('/', 0, -2));
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <icon.xpm> [<small map.xpm>...] <output folder>\n", argv[0]);
        return 2;
    }
    const QImage icon = loadMap(argv[1]);
    if (icon.isNull() || icon.width() != 32) {
        std::fprintf(stderr, "make_icons: %s must be the 32 x 32 icon\n", argv[1]);
        return 1;
    }
    std::map<int, QImage> ownMaps;
    for (int i = 2; i < argc - 1; ++i) {
        const QImage map = loadMap(argv[i]);
        if (map.isNull() || map.width() >= 32)
            return 1;
        ownMaps[map.width()] = map;
    }
    const QString root = QString::fromLocal8Bit(argv[argc - 1]) + "/hicolor/";
    const QByteArray scalable = svg(icon);
    if (!write(root + "scalable/apps/ombura.svg", scalable)) {
        std::fprintf(stderr, "make_icons: cannot write the scalable icon\n");
        return 1;
    }
    for (int n : kSizes) {
        const QString path = root + QStringLiteral("%1x%1/apps/ombura.png").arg(n);
        QDir().mkpath(path.section('/', 0, -2));
        const auto own = ownMaps.find(n);
        if (!(own != ownMaps.end() ? own->second : scaled(icon, n)).save(path, "PNG")) {
            std::fprintf(stderr, "make_icons: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
