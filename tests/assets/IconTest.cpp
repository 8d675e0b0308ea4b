// SPDX-License-Identifier: GPL-3.0-or-later

// The desktop icons that get installed are the committed files; they must
// show the program icon's own pixel map at every size.

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QString>
#include <QSvgRenderer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace {

const QString kAssets = QStringLiteral(OMBURA_SOURCE_ASSETS);

QImage argb(const QString& path)
{
    return QImage(path).convertToFormat(QImage::Format_ARGB32);
}

int differingPixels(const QImage& a, const QImage& b, int tolerance = 0);

QString pngPath(int n)
{
    return kAssets + QStringLiteral("/icons/hicolor/%1x%1/apps/ombura.png").arg(n);
}

TEST(DesktopIcons, EverySizeLoadsWithAnAlphaChannel)
{
    for (int n : {16, 22, 24, 32, 48, 64, 128, 256}) {
        SCOPED_TRACE(n);
        const QImage img(pngPath(n));
        ASSERT_FALSE(img.isNull());
        EXPECT_EQ(img.size(), QSize(n, n));
        EXPECT_TRUE(img.hasAlphaChannel());
    }
}

TEST(DesktopIcons, LargeSizesRepeatTheIconPixels)
{
    const QImage icon = argb(kAssets + "/pictures/icon.xpm");
    ASSERT_EQ(icon.size(), QSize(32, 32));
    for (int n : {32, 48, 64, 128, 256}) {
        SCOPED_TRACE(n);
        const QImage img = argb(pngPath(n));
        ASSERT_EQ(img.size(), QSize(n, n));
        int wrong = 0;
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) {
                const QRgb want = icon.pixel((2 * x + 1) * 32 / (2 * n), (2 * y + 1) * 32 / (2 * n));
                const QRgb got = img.pixel(x, y);
                wrong += qAlpha(want) == 0 ? qAlpha(got) != 0 : got != want;
            }
        EXPECT_EQ(wrong, 0);
    }
}

// Below 32 the icon is drawn afresh on each size's own grid: the figure, and as much of the red
// title as fits. Shrinking the 32 x 32 icon instead smears the title into a red bar, so each small
// size must differ from that shrunk copy in most of its pixels, and keep its face, its outline
// and red lettering broken by gaps of black.
TEST(DesktopIcons, SmallSizesAreTheirOwnDrawingsNotTheIconShrunk)
{
    const QImage icon = argb(kAssets + "/pictures/icon.xpm");
    for (int n : {16, 22, 24}) {
        SCOPED_TRACE(n);
        const QImage img = argb(pngPath(n));
        ASSERT_EQ(img.size(), QSize(n, n));
        EXPECT_EQ(img, argb(kAssets + QStringLiteral("/pictures/icon%1.xpm").arg(n)));
        const QImage shrunk =
            icon.scaled(n, n, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).convertToFormat(QImage::Format_ARGB32);
        EXPECT_GT(differingPixels(img, shrunk, 8), n * n / 3);

        int skin = 0, outline = 0, redRuns = 0;
        for (int y = 0; y < n; ++y) {
            bool inRed = false;
            for (int x = 0; x < n; ++x) {
                const QRgb p = img.pixel(x, y);
                skin += p == qRgb(0xF6, 0xC9, 0x9B);
                outline += p == qRgb(0, 0, 0);
                const bool red = p == qRgb(0xE8, 0x14, 0x1C);
                redRuns += red && !inRed;
                inRed = red;
            }
        }
        EXPECT_GE(skin, n / 2) << "the face";
        EXPECT_GE(outline, n * 2) << "the black outline";
        // Letters, not a bar: across the band the red breaks into many strokes.
        EXPECT_GE(redRuns, n / 2) << "the red lettering";
    }
}

QImage renderSvg(const QString& path, int n)
{
    QSvgRenderer svg(path);
    QImage img(n, n, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    if (svg.isValid()) {
        QPainter p(&img);
        svg.render(&p);
    }
    return img.convertToFormat(QImage::Format_ARGB32);
}

// Pixels further apart than `tolerance` in any channel; fully transparent
// pixels are alike whatever colour they carry.
int differingPixels(const QImage& a, const QImage& b, int tolerance)
{
    if (a.size() != b.size())
        return -1;
    int wrong = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            if (qAlpha(p) == 0 && qAlpha(q) == 0)
                continue;
            const int d = std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                                    std::abs(qBlue(p) - qBlue(q)), std::abs(qAlpha(p) - qAlpha(q))});
            wrong += d > tolerance;
        }
    return wrong;
}

TEST(DesktopIcons, ScalableIconDrawsThePixelMap)
{
    const QString path = kAssets + "/icons/hicolor/scalable/apps/ombura.svg";
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly | QIODevice::Text));
    const QByteArray text = f.readAll();
    EXPECT_TRUE(text.contains("viewBox=\"0 0 32 32\""));
    EXPECT_TRUE(text.contains("shape-rendering=\"crispEdges\""));
    // Drawn at its own size and at eight times that, the cells fall on whole
    // pixels and must give the icon's pixels exactly.
    EXPECT_EQ(differingPixels(renderSvg(path, 32), argb(kAssets + "/pictures/icon.xpm")), 0);
    EXPECT_EQ(differingPixels(renderSvg(path, 256), argb(pngPath(256))), 0);
}

TEST(DesktopIcons, CommittedIconsAreWhatTheBuildMakes)
{
    // The build draws the icons afresh from the pixel maps; the committed
    // copies are what gets installed, so they must show the same pixels.
    const QString built = QStringLiteral(OMBURA_BUILT_ICONS);
    for (int n : {16, 22, 24, 32, 48, 64, 128, 256}) {
        SCOPED_TRACE(n);
        const QString rel = QStringLiteral("/hicolor/%1x%1/apps/ombura.png").arg(n);
        const QImage made = argb(built + rel);
        ASSERT_FALSE(made.isNull()) << "not built: " << (built + rel).toStdString();
        EXPECT_EQ(differingPixels(argb(kAssets + "/icons" + rel), made), 0) << "regenerate the icons (docs/ASSETS.md)";
    }
    const QString svg = "/hicolor/scalable/apps/ombura.svg";
    EXPECT_EQ(differingPixels(renderSvg(kAssets + "/icons" + svg, 256), renderSvg(built + svg, 256)), 0);
}

} // namespace
