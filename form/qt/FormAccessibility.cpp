// SPDX-License-Identifier: GPL-3.0-or-later

#include "FormAccessibility.h"

#include "FormView.h"
#include "FormWindow.h"
#include "OwnedWindows.h"
#include "QtString.h"
#include "ReadingOrder.h"
#include "StockAccessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QWindow>

#include <map>
#include <mutex>

namespace form::qt {

namespace {

QRect toScreen(const QWidget* widget, const QRect& global)
{
    // A screen keeps its top-left corner in device pixels and scales from there. Wayland has no
    // desktop-wide coordinates to give, and its compositor scales by itself. A window not shown
    // yet (a menu before it first opens) has no native window, but already its screen.
    if (onWayland())
        return global;
    const QWidget* top = widget->window();
    const QWindow* window = top->windowHandle();
    const qreal factor = window ? window->devicePixelRatio() : top->devicePixelRatioF();
    const QScreen* screen = window ? window->screen() : top->screen();
    if (!screen || factor == 1.0)
        return global;
    const QPointF origin = screen->geometry().topLeft();
    const QPointF topLeft = (QPointF(global.topLeft()) - origin) * factor + origin;
    return {topLeft.toPoint(), (QSizeF(global.size()) * factor).toSize()};
}

class FormViewAccessible;
FormViewAccessible* viewInterface(FormView* view);

int indexAmongChildren(const QAccessibleInterface& parent, const QAccessibleInterface* child)
{
    for (int i = 0, n = parent.childCount(); i < n; ++i)
        if (parent.child(i) == child)
            return i;
    return -1;
}

// What a view paints and a reader meets, in the place of one element of the form (a group in
// its frame's): it has no QObject of its own, so Qt's cache keeps it under an id that the view's
// interface hands out. Nothing of it can be edited.
class PaintedAccessible : public QAccessibleInterface {
public:
    PaintedAccessible(FormView* view, std::string name) : view_(view), name_(std::move(name)) { }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return view_ ? view_->window()->windowHandle() : nullptr; }
    void setText(QAccessible::Text, const QString&) override { }

    QRect rect() const override
    {
        const Element* e = view_ ? view_->form().find(name_) : nullptr;
        return e ? screenRect(view_, toPixels(e->bounds())) : QRect();
    }

    QAccessible::State state() const override
    {
        QAccessible::State s;
        s.readOnly = true; // otherwise AT-SPI calls plain text editable
        s.invisible = !view_ || !view_->isVisible() || !shows();
        return s;
    }

protected:
    // Whether a reader meets it now.
    virtual bool shows() const = 0;

    QPointer<FormView> view_;
    std::string name_;
};

// A painted element: a label, or a picture a reader can name.
class ElementAccessible : public PaintedAccessible {
public:
    using PaintedAccessible::PaintedAccessible;

    bool isValid() const override { return element() != nullptr; }
    QAccessibleInterface* parent() const override;
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessible::Role role() const override
    {
        const Element* e = element();
        return e && e->kind() == ElementKind::Picture ? QAccessible::Graphic : QAccessible::StaticText;
    }

    QString text(QAccessible::Text t) const override
    {
        const Element* e = element();
        if (!e)
            return {};
        switch (t) {
        case QAccessible::Name:
            return qstr(spokenText(view_->form(), *e));
        case QAccessible::Description:
            return qstr(e->name());
        default:
            return {};
        }
    }

private:
    bool shows() const override
    {
        const Element* e = element();
        return e && e->visible();
    }

    const Element* element() const
    {
        if (!view_)
            return nullptr;
        const Element* e = view_->form().find(name_);
        return e && (e->kind() == ElementKind::Label || e->kind() == ElementKind::Picture) ? e : nullptr;
    }
};

// The labels a frame holds, read as one phrase: the score panel says "現在娘さん 12 くるくる".
class GroupAccessible : public PaintedAccessible {
public:
    using PaintedAccessible::PaintedAccessible;

    bool isValid() const override { return view_ && view_->form().find(name_); }
    QAccessibleInterface* parent() const override;
    QAccessibleInterface* child(int index) const override
    {
        const ReadingItem* it = item();
        if (!it || index < 0 || static_cast<std::size_t>(index) >= it->elements.size())
            return nullptr;
        return accessibleElement(view_, it->elements[static_cast<std::size_t>(index)]->name());
    }
    int childCount() const override
    {
        const ReadingItem* it = item();
        return it ? static_cast<int>(it->elements.size()) : 0;
    }
    int indexOfChild(const QAccessibleInterface* child) const override { return indexAmongChildren(*this, child); }
    QAccessibleInterface* childAt(int x, int y) const override
    {
        for (int i = 0; i < childCount(); ++i)
            if (QAccessibleInterface* c = child(i); c && c->rect().contains(x, y))
                return c;
        return nullptr;
    }
    QAccessible::Role role() const override { return QAccessible::Grouping; }

    QString text(QAccessible::Text t) const override
    {
        const ReadingItem* it = item();
        if (!it)
            return {};
        if (t == QAccessible::Name)
            return qstr(readingText(view_->form(), *it));
        if (t == QAccessible::Description)
            return qstr(name_);
        return {};
    }

private:
    bool shows() const override { return item() != nullptr; }

    const ReadingItem* item() const
    {
        if (view_)
            for (const ReadingItem& it : view_->readingOrder())
                if (it.frame && it.frame->name() == name_)
                    return &it;
        return nullptr;
    }
};

// The view itself: its children are what a reader meets, in the view's reading order, then the
// visible push buttons (real widgets with their own interfaces).
class FormViewAccessible : public QAccessibleWidget {
public:
    explicit FormViewAccessible(FormView* view) : QAccessibleWidget(view, QAccessible::Pane) { }

    ~FormViewAccessible() override
    {
        for (const auto& [name, id] : ids_)
            QAccessible::deleteAccessibleInterface(id);
    }

    FormView* view() const { return static_cast<FormView*>(widget()); }

    int childCount() const override { return static_cast<int>(view()->readingOrder().size() + buttons().size()); }

    QAccessibleInterface* child(int index) const override
    {
        if (index < 0)
            return nullptr;
        const std::vector<ReadingItem>& items = view()->readingOrder();
        const auto i = static_cast<std::size_t>(index);
        if (i < items.size())
            return items[i].frame ? group(items[i].frame->name()) : element(items[i].elements.front()->name());
        const std::vector<QPushButton*> b = buttons();
        return i - items.size() < b.size() ? QAccessible::queryAccessibleInterface(b[i - items.size()]) : nullptr;
    }

    int indexOfChild(const QAccessibleInterface* child) const override { return indexAmongChildren(*this, child); }

    QString text(QAccessible::Text t) const override
    {
        // The whole form in one line, for a reader that stops at the pane.
        if (t == QAccessible::Name)
            return qstr(readingText(view()->form(), view()->readingOrder()));
        return QAccessibleWidget::text(t);
    }

    QRect rect() const override { return screenRect(view(), view()->rect()); }

    // Where an element sits in the tree now: in its frame's group, or straight under the view
    // (also once it has gone, so that its going can still be told).
    QAccessibleInterface* containerOf(const std::string& name)
    {
        for (const ReadingItem& it : view()->readingOrder())
            for (const Element* e : it.elements)
                if (e->name() == name)
                    return it.frame ? group(it.frame->name()) : this;
        return this;
    }

    QAccessibleInterface* element(const std::string& name) const
    {
        return cached("element:" + name, [&] { return new ElementAccessible(view(), name); });
    }
    QAccessibleInterface* group(const std::string& frame) const
    {
        return cached("frame:" + frame, [&] { return new GroupAccessible(view(), frame); });
    }

private:
    template <typename Make>
    QAccessibleInterface* cached(const std::string& key, Make make) const
    {
        auto it = ids_.find(key);
        if (it == ids_.end())
            it = ids_.emplace(key, QAccessible::registerAccessibleInterface(make())).first;
        return QAccessible::accessibleInterface(it->second);
    }

    std::vector<QPushButton*> buttons() const
    {
        std::vector<QPushButton*> out;
        for (const Element& e : view()->form().elements())
            if (e.kind() == ElementKind::PushButton && e.visible())
                if (QPushButton* b = view()->button(e.name()))
                    out.push_back(b);
        return out;
    }

    mutable std::map<std::string, QAccessible::Id> ids_;
};

// The top-level window: as Qt's own, but placed in the display's pixels.
class FormWindowAccessible : public QAccessibleWidget {
public:
    explicit FormWindowAccessible(QWidget* window) : QAccessibleWidget(window, QAccessible::Window) { }
    QRect rect() const override { return screenRect(widget(), widget()->rect()); }
};

FormViewAccessible* viewInterface(FormView* view)
{
    return view ? dynamic_cast<FormViewAccessible*>(QAccessible::queryAccessibleInterface(view)) : nullptr;
}

QAccessibleInterface* ElementAccessible::parent() const
{
    FormViewAccessible* v = viewInterface(view_);
    return v ? v->containerOf(name_) : nullptr;
}

QAccessibleInterface* GroupAccessible::parent() const
{
    return viewInterface(view_);
}

QAccessibleInterface* factory(const QString& className, QObject* object)
{
    if (auto* view = qobject_cast<FormView*>(object))
        return new FormViewAccessible(view);
    if (auto* window = qobject_cast<FormWindow*>(object))
        return new FormWindowAccessible(window);
    return stockAccessible(className, object);
}

} // namespace

QRect screenRect(const QWidget* widget, const QRect& local)
{
    return toScreen(widget, QRect(widget->mapToGlobal(local.topLeft()), local.size()));
}

QAccessibleInterface* accessibleElement(FormView* view, const std::string& element)
{
    FormViewAccessible* v = viewInterface(view);
    return v ? v->element(element) : nullptr;
}

QAccessibleInterface* accessibleGroup(FormView* view, const std::string& frame)
{
    FormViewAccessible* v = viewInterface(view);
    return v ? v->group(frame) : nullptr;
}

void installFormAccessibility()
{
    static std::once_flag once;
    std::call_once(once, [] { QAccessible::installFactory(factory); });
}

} // namespace form::qt
