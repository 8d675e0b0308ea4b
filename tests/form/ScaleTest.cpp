// SPDX-License-Identifier: GPL-3.0-or-later

// What the windows look like at the desktop's scale (QT_SCALE_FACTOR): CTest runs this program
// at 1, 1.25, 1.5 and 2. Pictures are grabbed from the views as the screen would show them.

#include "Fonts.h"
#include "FormView.h"
#include "Layouts.h"
#include "PictureTable.h"

#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPixmap>

#include <gtest/gtest.h>

#include <cmath>

namespace {

using form::qt::FormView;

// Every picture striped in one-pixel lines: black and white columns, or rows.
QImage stripes(QSize size, bool columns)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, ((columns ? x : y) % 2) ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
    return image;
}

QImage grab(QWidget& widget)
{
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

double ink(QRgb pixel)
{
    return 1.0 - qGray(pixel) / 255.0;
}

// The room (400 x 250) is striped; the stretch of it from (8, 100) to (200, 140) lies under no
// caption. Seen in blocks of four of the picture's pixels, two black and two white, every block
// must hold as much black as white: a picture whose pixels come out at different sizes, some rows
// or columns repeated and others not, is darker in some blocks and lighter in others.
TEST(PixelArtAtTheDesktopsScale, EveryPixelComesOutTheSameSize)
{
    for (const bool columns : {true, false}) {
        SCOPED_TRACE(columns ? "one-pixel columns" : "one-pixel rows");
        form::Form form(form::form1Layout(), nullptr);
        assets::applyPictures(form);
        FormView view(form);
        view.setPictureSource([columns](const QString& resource) { return stripes(QImage(resource).size(), columns); });
        view.resize(view.sizeHint());
        const QImage shot = grab(view);
        const double ratio = shot.devicePixelRatio();
        const double block = 4 * ratio;
        int blocks = 0;
        double darkest = 0, lightest = 1;
        for (double start = columns ? 8 : 100; start + 4 <= (columns ? 200 : 140); start += 4) {
            // Blocks across the stripes, each over the whole stretch along them.
            const int from = qRound(start * ratio);
            const int to = qRound(start * ratio + block);
            double sum = 0;
            int count = 0;
            for (int a = from; a < to; ++a)
                for (int b = qRound((columns ? 100 : 8) * ratio); b < qRound((columns ? 140 : 200) * ratio); ++b) {
                    sum += ink(columns ? shot.pixel(a, b) : shot.pixel(b, a));
                    ++count;
                }
            darkest = std::max(darkest, sum / count);
            lightest = std::min(lightest, sum / count);
            ++blocks;
        }
        EXPECT_GE(blocks, 8);
        EXPECT_NEAR(darkest, 0.5, 0.05) << "at " << ratio;
        EXPECT_NEAR(lightest, 0.5, 0.05) << "at " << ratio;
    }
}

// The credits and the score are bold, from a face that has no bold of its own. Against the same
// caption drawn regular, they carry half as much ink again at 1; at every scale they must still carry
// two fifths more (the engine's own one pixel of bold gives only a quarter more at 2).
TEST(BoldCaptionsAtTheDesktopsScale, CarryMoreInkThanRegularOnes)
{
    form::Form form(form::form2Layout(), nullptr);
    assets::applyPictures(form);
    FormView view(form);
    view.resize(view.sizeHint());
    const QImage shot = grab(view);
    const double ratio = shot.devicePixelRatio();
    for (const char* name : {"Label3", "Label4", "Label5"}) {
        SCOPED_TRACE(name);
        const form::Element& label = form.element(name);
        ASSERT_TRUE(label.layout().font.bold);
        const QRect r = form::qt::toPixels(label.bounds());
        const QRect device(QPoint(qRound(r.left() * ratio), qRound(r.top() * ratio)),
                           QSize(qRound(r.width() * ratio), qRound(r.height() * ratio)));
        double bold = 0;
        for (int y = device.top(); y <= device.bottom(); ++y)
            for (int x = device.left(); x <= device.right(); ++x)
                bold += ink(shot.pixel(x, y));

        // The same caption in the same font, regular, on the same grey, at the same scale.
        QImage plain(device.size(), QImage::Format_RGB32);
        plain.setDevicePixelRatio(ratio);
        plain.fill(shot.pixel(device.topLeft()));
        QFont font = form::qt::fontFor(label.layout().font);
        font.setBold(false);
        {
            QPainter p(&plain);
            p.setFont(font);
            p.setPen(Qt::black);
            p.drawText(QRectF(0, 0, r.width(), r.height()), Qt::AlignLeft | Qt::AlignTop,
                       QString::fromStdString(label.caption()));
        }
        double regular = 0;
        for (int y = 0; y < plain.height(); ++y)
            for (int x = 0; x < plain.width(); ++x)
                regular += ink(plain.pixel(x, y)) - ink(shot.pixel(device.topLeft()));
        bold -= ink(shot.pixel(device.topLeft())) * device.width() * device.height();
        ASSERT_GT(regular, 0);
        EXPECT_GE(bold / regular, 1.4) << "at " << ratio << ": bold " << bold << ", regular " << regular;
    }
}

} // namespace
