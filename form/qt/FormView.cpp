// SPDX-License-Identifier: GPL-3.0-or-later

#include "FormView.h"

#include "Fonts.h"
#include "FormAccessibility.h"
#include "Look.h"
#include "QtString.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPushButton>
#include <QRegion>
#include <QTextOption>

#include <algorithm>

namespace form::qt {

namespace {

MouseButton toModel(Qt::MouseButton b)
{
    switch (b) {
    case Qt::LeftButton:
        return MouseButton::Left;
    case Qt::RightButton:
        return MouseButton::Right;
    case Qt::MiddleButton:
        return MouseButton::Middle;
    default:
        return MouseButton::Other;
    }
}

Point toTwips(const QPointF& pos)
{
    // The middle of the pixel under the pointer.
    return {static_cast<int>(pos.x()) * kTwipsPerPixel + kTwipsPerPixel / 2,
            static_cast<int>(pos.y()) * kTwipsPerPixel + kTwipsPerPixel / 2};
}

} // namespace

QRect toPixels(const Rect& twips)
{
    return {twipsToPixels(twips.left), twipsToPixels(twips.top), twipsToPixels(twips.width),
            twipsToPixels(twips.height)};
}

FormView::FormView(Form& form, QWidget* parent) : QWidget(parent), form_(form)
{
    installFormAccessibility();
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
    form_.setTextMeasurer([](const Element& label) {
        const QFontMetrics metrics(fontFor(label.layout().font));
        const QString text = qstr(label.caption());
        return Size{metrics.horizontalAdvance(text), metrics.height()};
    });
    for (const Element& e : form_.elements()) {
        if (e.kind() != ElementKind::PushButton)
            continue;
        auto* b = new QPushButton(qstr(e.caption()), this);
        b->setObjectName(qstr(e.name()));
        b->setGeometry(toPixels(e.bounds()));
        b->setFont(fontFor(e.layout().font));
        // A focused button answers Enter as well as Space, as the buttons of the era did.
        b->setAutoDefault(true);
        connect(b, &QPushButton::clicked, this, [this, name = e.name()] { form_.click(name); });
        buttons_[e.name()] = b;
    }
    sync();
}

QSize FormView::sizeHint() const
{
    return {twipsToPixels(form_.layout().client.width), twipsToPixels(form_.layout().client.height)};
}

QPushButton* FormView::button(const std::string& name) const
{
    auto it = buttons_.find(name);
    return it == buttons_.end() ? nullptr : it->second;
}

void FormView::sync()
{
    for (auto& [name, b] : buttons_) {
        const Element& e = form_.element(name);
        b->setVisible(e.visible());
        b->setEnabled(e.enabled());
        b->setText(qstr(e.caption()));
    }
    readingOrder_ = form::readingOrder(form_);
    announcer_.update(*this);

    // Repaint where something changed: where it was and where it is now. A press swaps one
    // picture and a caption or two, not the whole window.
    const auto& elements = form_.elements();
    QRegion dirty;
    if (painted_.size() != elements.size()) {
        painted_.assign(elements.size(), Painted{});
        dirty = rect();
    }
    for (std::size_t i = 0; i < elements.size(); ++i) {
        const Element& e = elements[i];
        Painted& was = painted_[i];
        if (e.kind() == ElementKind::PushButton || (e.visible() == was.visible && toPixels(e.bounds()) == was.bounds &&
                                                    e.picture() == was.picture && e.caption() == was.caption))
            continue;
        if (was.visible)
            dirty += was.area;
        was = paintedState(e);
        if (was.visible)
            dirty += was.area;
    }
    if (!dirty.isEmpty())
        update(dirty);
}

FormView::Painted FormView::paintedState(const Element& e) const
{
    const QRect bounds = toPixels(e.bounds());
    Painted state{e.visible(), bounds, bounds, e.picture(), e.caption()};
    if (e.kind() == ElementKind::Label && state.visible) {
        // Text that does not fit its label still shows below or beside it, however it wraps.
        const QFontMetrics metrics(fontFor(e.layout().font));
        const QString text = qstr(e.caption());
        for (const int wrap : {0, int{Qt::TextWordWrap}, int{Qt::TextWrapAnywhere}}) {
            if (wrap == 0 || !e.layout().autoSize)
                state.area |= metrics.boundingRect(bounds, Qt::AlignLeft | Qt::AlignTop | wrap, text);
        }
        state.area.adjust(-1, -1, 1, 1);
    }
    if (e.kind() == ElementKind::Picture && state.visible && !e.layout().stretch && !e.picture().empty()) {
        // A picture is drawn at its own size from the element's corner. One not decoded yet
        // may be any size: until it is, a change to it repaints everything.
        const auto it = pixmaps_.constFind(qstr(e.picture()));
        state.area |=
            it == pixmaps_.constEnd() ? rect() : QRect(bounds.topLeft(), it->deviceIndependentSize().toSize());
    }
    return state;
}

const QPixmap& FormView::pixmap(const std::string& resource)
{
    const QString key = qstr(resource);
    auto it = pixmaps_.find(key);
    if (it == pixmaps_.end())
        it = pixmaps_.insert(key, source_ ? QPixmap::fromImage(source_(key)) : QPixmap(key));
    return *it;
}

const QPixmap& FormView::atDeviceSize(const std::string& resource, const QPixmap& pm, const QSize& size)
{
    // Pixel art scaled by a ratio that is not whole (a desktop at 1.25 or 1.5 times, a picture
    // stretched to 65 pixels) would repeat some rows and columns and not others, and break faces
    // and outlines. It is scaled by the nearest whole factor first, every pixel repeated alike,
    // and only the rest of the way smoothly: every pixel of the picture comes out the same size.
    const qreal ratio = devicePixelRatioF();
    const QSize device(qRound(size.width() * ratio), qRound(size.height() * ratio));
    const QString key = QStringLiteral("%1@%2x%3").arg(qstr(resource)).arg(device.width()).arg(device.height());
    auto it = scaled_.find(key);
    if (it == scaled_.end()) {
        const QImage source = pm.toImage();
        const int whole = std::max(
            1, qRound(std::min(double(device.width()) / source.width(), double(device.height()) / source.height())));
        QImage image = source.scaled(source.size() * whole, Qt::IgnoreAspectRatio, Qt::FastTransformation);
        if (image.size() != device)
            image = image.scaled(device, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        QPixmap out = QPixmap::fromImage(image);
        out.setDevicePixelRatio(ratio);
        it = scaled_.insert(key, out);
    }
    return *it;
}

void FormView::paintPicture(QPainter& p, const Element& e)
{
    const QRect r = toPixels(e.bounds());
    const QPixmap& pm = pixmap(e.picture());
    if (!pm.isNull()) {
        const QPixmap& drawn = atDeviceSize(e.picture(), pm, e.layout().stretch ? r.size() : pm.size());
        // At the display's own pixel nearest the element's corner, so that the picture's pixels
        // meet the display's one to one.
        const qreal ratio = devicePixelRatioF();
        p.drawPixmap(QPointF(qRound(r.left() * ratio) / ratio, qRound(r.top() * ratio) / ratio), drawn);
    }
    if (e.layout().border) {
        p.setPen(Qt::black);
        p.setBrush(Qt::NoBrush);
        p.drawRect(r.adjusted(0, 0, -1, -1));
    }
}

void FormView::paintLabel(QPainter& p, const Element& e)
{
    const QRect r = toPixels(e.bounds());
    if (e.layout().backStyle == BackStyle::Opaque)
        p.fillRect(r, systemColor(SystemColor::ButtonFace));
    const QFont font = fontFor(e.layout().font);
    p.setFont(font);
    p.setPen(Qt::black);
    QTextOption option(Qt::AlignLeft | Qt::AlignTop);
    option.setWrapMode(e.layout().autoSize ? QTextOption::NoWrap : QTextOption::WrapAtWordBoundaryOrAnywhere);
    p.drawText(QRectF(r), qstr(e.caption()), option);
    // The fonts have no bold faces, and the one pixel of stroke the font engine adds for bold is
    // a pixel of the display whatever the scale: at twice the size the captions would look
    // regular. The text is drawn again a display pixel further right for every whole step of
    // scale above one, so that the stroke grows with the scale.
    if (boldBySynthesis(font)) {
        const qreal ratio = devicePixelRatioF();
        for (int extra = 1; extra < qRound(ratio); ++extra)
            p.drawText(QRectF(r).translated(extra / ratio, 0), qstr(e.caption()), option);
    }
}

void FormView::paintEvent(QPaintEvent* event)
{
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform, false);
    const QRect exposed = event->rect();
    p.fillRect(exposed, systemColor(form_.layout().background));
    // Back to front: the layout lists the frontmost element first. What lies wholly outside
    // the part being painted is left alone; a label's text is laid out only where it shows.
    const auto& elements = form_.elements();
    for (std::size_t i = elements.size(); i-- > 0;) {
        const Element& e = elements[i];
        if (!e.visible())
            continue;
        const QRect area = i < painted_.size() && painted_[i].visible ? painted_[i].area : rect();
        if (!area.intersects(exposed))
            continue;
        switch (e.kind()) {
        case ElementKind::Picture:
            paintPicture(p, e);
            break;
        case ElementKind::Label:
            paintLabel(p, e);
            break;
        case ElementKind::Rectangle:
            p.setPen(Qt::black);
            p.setBrush(Qt::NoBrush);
            p.drawRect(toPixels(e.bounds()).adjusted(0, 0, -1, -1));
            break;
        case ElementKind::PushButton:
            break; // a real button draws itself
        }
    }
}

void FormView::mousePressEvent(QMouseEvent* event)
{
    form_.press(toTwips(event->position()), toModel(event->button()));
}

void FormView::mouseReleaseEvent(QMouseEvent* event)
{
    form_.release(toTwips(event->position()), toModel(event->button()));
}

} // namespace form::qt
