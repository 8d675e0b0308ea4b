// SPDX-License-Identifier: GPL-3.0-or-later

#include "TitleBar.h"

#include "OwnedWindows.h"

#include <QEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QWidget>
#include <QWindow>

namespace form::qt {

namespace {

// The caption colours of the era's desktops: a dark blue fading to light for the active window,
// greys for an inactive one, with the title in white.
const QColor kActiveFrom(0x0A, 0x24, 0x6A);
const QColor kActiveTo(0xA6, 0xCA, 0xF0);
const QColor kInactiveFrom(0x80, 0x80, 0x80);
const QColor kInactiveTo(0xC0, 0xC0, 0xC0);
const QColor kEdge(0x40, 0x40, 0x40);
constexpr int kEdgeWidth = 1;

class TitleBar : public QWidget {
public:
    TitleBar(QWidget& window, bool closeButton) : QWidget(&window), window_(window), closeButton_(closeButton)
    {
        QFont f = QGuiApplication::font();
        f.setBold(true);
        setFont(f);
        setObjectName(QStringLiteral("TitleBar"));
        // Without a frame the window needs an edge of its own, or its grey runs into the main
        // window's: a dark line down both sides and along the bottom.
        for (QWidget*& edge : edges_) {
            edge = new QWidget(&window);
            QPalette dark = edge->palette();
            dark.setColor(QPalette::Window, kEdge);
            edge->setPalette(dark);
            edge->setAutoFillBackground(true);
        }
        window.installEventFilter(this);
    }

    int barHeight() const { return QFontMetrics(font()).height() + 4; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == &window_) {
            switch (event->type()) {
            case QEvent::Resize: {
                const int w = window_.width(), h = window_.height(), top = barHeight();
                setGeometry(0, 0, w, top);
                edges_[0]->setGeometry(0, top, kEdgeWidth, h - top);
                edges_[1]->setGeometry(w - kEdgeWidth, top, kEdgeWidth, h - top);
                edges_[2]->setGeometry(0, h - kEdgeWidth, w, kEdgeWidth);
                break;
            }
            case QEvent::WindowTitleChange:
            case QEvent::ActivationChange:
                update();
                break;
            default:
                break;
            }
        }
        return false;
    }

    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        const bool active = window_.isActiveWindow();
        QLinearGradient shade(0, 0, width(), 0);
        shade.setColorAt(0, active ? kActiveFrom : kInactiveFrom);
        shade.setColorAt(1, active ? kActiveTo : kInactiveTo);
        p.fillRect(rect(), shade);
        p.setPen(active ? Qt::white : QColor(0xD4, 0xD0, 0xC8));
        const QRect text = rect().adjusted(3, 0, closeButton_ ? -closeRect().width() - 4 : -3, 0);
        p.drawText(text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, window_.windowTitle());
        if (closeButton_) {
            // A raised grey square with a cross, as the era's close button.
            const QRect b = closeRect();
            p.fillRect(b, QColor(0xD4, 0xD0, 0xC8));
            p.setPen(Qt::white);
            p.drawLine(b.topLeft(), b.topRight());
            p.drawLine(b.topLeft(), b.bottomLeft());
            p.setPen(QColor(0x40, 0x40, 0x40));
            p.drawLine(b.bottomLeft(), b.bottomRight());
            p.drawLine(b.topRight(), b.bottomRight());
            p.setPen(QPen(Qt::black, 2));
            const QRect x = b.adjusted(4, 3, -4, -4);
            p.drawLine(x.topLeft(), x.bottomRight());
            p.drawLine(x.bottomLeft(), x.topRight());
        }
    }

    void mousePressEvent(QMouseEvent* event) override
    {
        if (event->button() != Qt::LeftButton)
            return;
        if (closeButton_ && closeRect().contains(event->position().toPoint())) {
            pressedClose_ = true;
            return;
        }
        if (QWindow* handle = window_.windowHandle())
            handle->startSystemMove();
    }

    void mouseReleaseEvent(QMouseEvent* event) override
    {
        const bool close = pressedClose_ && closeRect().contains(event->position().toPoint());
        pressedClose_ = false;
        if (close)
            window_.close();
    }

private:
    QRect closeRect() const
    {
        const int side = height() - 4;
        return {width() - side - 2, 2, side + 2, side};
    }

    QWidget& window_;
    QWidget* edges_[3] = {}; // left, right, bottom
    bool closeButton_;
    bool pressedClose_ = false;
};

} // namespace

QSize drawOwnTitleBar(QWidget& window, bool closeButton)
{
    if (!onWayland())
        return {0, 0};
    window.setWindowFlags(window.windowFlags() | Qt::FramelessWindowHint);
    auto* bar = new TitleBar(window, closeButton);
    const int height = bar->barHeight();
    const QMargins m = window.contentsMargins();
    window.setContentsMargins(m.left() + kEdgeWidth, m.top() + height, m.right() + kEdgeWidth, m.bottom() + kEdgeWidth);
    bar->setGeometry(0, 0, window.width(), height);
    return {2 * kEdgeWidth, height + kEdgeWidth};
}

} // namespace form::qt
