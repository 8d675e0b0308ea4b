// SPDX-License-Identifier: GPL-3.0-or-later

#include "FirstFrame.h"

#include <QEvent>
#include <QTimer>
#include <QWidget>

#include <utility>

namespace app {

namespace {

class FirstPaintWatch : public QObject {
public:
    FirstPaintWatch(QWidget* widget, std::function<void()> action) : QObject(widget), action_(std::move(action))
    {
        widget->installEventFilter(this);
    }

    void fire()
    {
        if (!action_)
            return;
        std::function<void()> action = std::move(action_);
        action_ = nullptr;
        deleteLater();
        action();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            // The picture is still being drawn here; Qt hands it to the display when this round
            // of painting ends, and a zero timer only runs after that.
            QTimer::singleShot(0, this, [this] { fire(); });
        }
        return false;
    }

private:
    std::function<void()> action_;
};

} // namespace

void afterFirstFrame(QWidget* widget, std::function<void()> action, std::chrono::milliseconds fallback)
{
    auto* watch = new FirstPaintWatch(widget, std::move(action));
    QTimer::singleShot(fallback, watch, [watch] { watch->fire(); });
}

} // namespace app
