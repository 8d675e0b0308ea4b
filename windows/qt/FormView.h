#pragma once

#include "Form.h"
#include "FormAccessibility.h"

#include <QHash>
#include <QPixmap>
#include <QWidget>

#include <map>
#include <string>

class QPushButton;

namespace windows::qt {

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

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    const QPixmap& pixmap(const std::string& resource);
    void paintPicture(QPainter& p, const Element& e);
    void paintLabel(QPainter& p, const Element& e);

    Form& form_;
    QHash<QString, QPixmap> pixmaps_;
    std::map<std::string, QPushButton*> buttons_;
    AccessibleCaptions captions_;
};

QRect toPixels(const Rect& twips);

} // namespace windows::qt
