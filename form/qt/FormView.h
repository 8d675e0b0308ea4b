// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "Announcer.h"
#include "Form.h"
#include "ReadingOrder.h"

#include <QHash>
#include <QPixmap>
#include <QWidget>

#include <functional>
#include <map>
#include <string>
#include <vector>

class QPushButton;

namespace form::qt {

// Draws a model form at its fixed layout and hands presses back to it. Push buttons are real
// buttons, so they take the keyboard focus; everything else is painted.
class FormView : public QWidget {
    Q_OBJECT
public:
    explicit FormView(Form& form, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    Form& form() { return form_; }
    // Picks up everything the model changed since the last call.
    void sync();
    QPushButton* button(const std::string& name) const;
    // What a screen reader meets, worked out once per model change rather than per query.
    const std::vector<ReadingItem>& readingOrder() const { return readingOrder_; }
    // Where the view gets a picture the first time it needs it; by default it decodes it itself.
    void setPictureSource(std::function<QImage(const QString& resource)> source) { source_ = std::move(source); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // What an element last put on the screen, and where; a change repaints only there.
    struct Painted {
        bool visible = false;
        QRect bounds;
        QRect area; // the bounds, and for a label wherever its text reaches
        std::string picture;
        std::string caption;
    };
    Painted paintedState(const Element& e) const;

    const QPixmap& pixmap(const std::string& resource);
    // The picture at `size` (Qt's pixels) in the display's own pixels.
    const QPixmap& atDeviceSize(const std::string& resource, const QPixmap& pm, const QSize& size);
    void paintPicture(QPainter& p, const Element& e);
    void paintLabel(QPainter& p, const Element& e);

    Form& form_;
    QHash<QString, QPixmap> pixmaps_;
    QHash<QString, QPixmap> scaled_; // by resource and size in the display's pixels
    std::function<QImage(const QString&)> source_;
    std::map<std::string, QPushButton*> buttons_;
    std::vector<ReadingItem> readingOrder_;
    std::vector<Painted> painted_; // in the form's element order
    Announcer announcer_;
};

QRect toPixels(const Rect& twips);

} // namespace form::qt
