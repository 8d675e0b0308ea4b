// The desktop icons that get installed are the committed files; they must
// show the program icon's own pixel map at every size.

#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QString>

#include <gtest/gtest.h>

namespace {

const QString kAssets = QStringLiteral(OMBURA_SOURCE_ASSETS);

QImage argb(const QString& path)
{
    return QImage(path).convertToFormat(QImage::Format_ARGB32);
}

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

TEST(DesktopIcons, SixteenIsTheReducedMap)
{
    EXPECT_EQ(argb(pngPath(16)), argb(kAssets + "/pictures/icon16.xpm"));
}

TEST(DesktopIcons, ScalableIconCoversThePixelMapExactly)
{
    QFile f(kAssets + "/icons/hicolor/scalable/apps/ombura.svg");
    ASSERT_TRUE(f.open(QIODevice::ReadOnly | QIODevice::Text));
    const QString svg = QString::fromUtf8(f.readAll());
    EXPECT_TRUE(svg.contains("viewBox=\"0 0 32 32\""));

    // Paint the rectangles back into a grid; each cell may be painted once.
    QImage painted(32, 32, QImage::Format_ARGB32);
    painted.fill(0);
    static const QRegularExpression rect(
        R"re(<rect x="(\d+)" y="(\d+)" width="(\d+)" height="(\d+)" fill="#([0-9a-f]{6})"/>)re");
    int rects = 0;
    for (auto it = rect.globalMatch(svg); it.hasNext(); ++rects) {
        const auto m = it.next();
        const int x0 = m.captured(1).toInt(), y0 = m.captured(2).toInt();
        const int w = m.captured(3).toInt(), h = m.captured(4).toInt();
        const QRgb c = 0xFF000000u | m.captured(5).toUInt(nullptr, 16);
        ASSERT_LE(x0 + w, 32);
        ASSERT_LE(y0 + h, 32);
        for (int y = y0; y < y0 + h; ++y)
            for (int x = x0; x < x0 + w; ++x) {
                ASSERT_EQ(painted.pixel(x, y), 0u) << "painted twice at " << x << "," << y;
                painted.setPixel(x, y, c);
            }
    }
    EXPECT_GT(rects, 0);
    const QImage icon = argb(kAssets + "/pictures/icon.xpm");
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            const QRgb want = icon.pixel(x, y);
            EXPECT_EQ(painted.pixel(x, y), qAlpha(want) == 0 ? 0u : want) << x << "," << y;
        }
}

} // namespace
