#include "FormAccessibility.h"

#include "FormView.h"
#include "QtString.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QPointer>
#include <QPushButton>
#include <QWindow>

#include <algorithm>
#include <map>
#include <mutex>

namespace windows::qt {

namespace {

bool before(const Rect& a, const Rect& b)
{
    return std::pair(a.top, a.left) < std::pair(b.top, b.left);
}

const Rect& anchor(const ReadingItem& item)
{
    return item.frame ? item.frame->bounds() : item.labels.front()->bounds();
}

const Element* innermostFrame(const Form& form, const Element& label)
{
    const Point corner{label.bounds().left, label.bounds().top};
    const Element* best = nullptr;
    for (const Element& e : form.elements()) {
        if (e.kind() != ElementKind::Rectangle || !e.visible() || !e.bounds().contains(corner))
            continue;
        const auto area = [](const Element& r) { return static_cast<long long>(r.bounds().width) * r.bounds().height; };
        if (!best || area(e) < area(*best))
            best = &e;
    }
    return best;
}

class FormViewAccessible;

FormViewAccessible* viewInterface(FormView* view);

// A painted label. It has no QObject of its own, so Qt's cache keeps it under an id that the
// view's interface hands out.
class LabelAccessible : public QAccessibleInterface {
public:
    LabelAccessible(FormView* view, std::string name) : view_(view), name_(std::move(name)) { }

    bool isValid() const override { return element() != nullptr; }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return view_ ? view_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override;
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessible::Role role() const override { return QAccessible::StaticText; }

    QString text(QAccessible::Text t) const override
    {
        const Element* e = element();
        if (!e)
            return {};
        switch (t) {
        case QAccessible::Name:
            return qstr(e->caption());
        case QAccessible::Description:
            return qstr(e->name());
        default:
            return {};
        }
    }
    void setText(QAccessible::Text, const QString&) override { }

    QRect rect() const override
    {
        const Element* e = element();
        if (!e)
            return {};
        const QRect r = toPixels(e->bounds());
        return {view_->mapToGlobal(r.topLeft()), r.size()};
    }

    QAccessible::State state() const override
    {
        QAccessible::State s;
        s.readOnly = true; // otherwise AT-SPI calls plain text editable
        const Element* e = element();
        s.invisible = !e || !e->visible() || !view_->isVisible();
        return s;
    }

private:
    const Element* element() const
    {
        if (!view_)
            return nullptr;
        const Element* e = view_->form().find(name_);
        return e && e->kind() == ElementKind::Label ? e : nullptr;
    }

    QPointer<FormView> view_;
    std::string name_;
};

// The labels a frame holds, read as one phrase: the score panel says "現在娘さん 12 くるくる".
class GroupAccessible : public QAccessibleInterface {
public:
    GroupAccessible(FormView* view, std::string frame) : view_(view), frame_(std::move(frame)) { }

    bool isValid() const override { return view_ && view_->form().find(frame_); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return view_ ? view_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override;
    QAccessibleInterface* child(int index) const override;
    int childCount() const override { return static_cast<int>(item().labels.size()); }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        for (int i = 0; i < childCount(); ++i)
            if (this->child(i) == child)
                return i;
        return -1;
    }
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
        if (!isValid())
            return {};
        if (t == QAccessible::Name)
            return qstr(readingText(item()));
        if (t == QAccessible::Description)
            return qstr(frame_);
        return {};
    }
    void setText(QAccessible::Text, const QString&) override { }

    QRect rect() const override
    {
        if (!isValid())
            return {};
        const QRect r = toPixels(view_->form().element(frame_).bounds());
        return {view_->mapToGlobal(r.topLeft()), r.size()};
    }
    QAccessible::State state() const override
    {
        QAccessible::State s;
        s.readOnly = true;
        s.invisible = !view_ || !view_->isVisible();
        return s;
    }

    ReadingItem item() const
    {
        if (view_)
            for (ReadingItem& it : readingOrder(view_->form()))
                if (it.frame && it.frame->name() == frame_)
                    return std::move(it);
        return {};
    }

private:
    QPointer<FormView> view_;
    std::string frame_;
};

// The view itself: its children are what a reader meets, in reading order, then the visible
// push buttons (real widgets with their own interfaces).
class FormViewAccessible : public QAccessibleWidget {
public:
    explicit FormViewAccessible(FormView* view) : QAccessibleWidget(view, QAccessible::Pane) { }

    ~FormViewAccessible() override
    {
        for (const auto& [name, id] : ids_)
            QAccessible::deleteAccessibleInterface(id);
    }

    FormView* view() const { return static_cast<FormView*>(widget()); }

    int childCount() const override { return static_cast<int>(readingOrder(view()->form()).size() + buttons().size()); }

    QAccessibleInterface* child(int index) const override
    {
        if (index < 0)
            return nullptr;
        const std::vector<ReadingItem> items = readingOrder(view()->form());
        const auto i = static_cast<std::size_t>(index);
        if (i < items.size())
            return items[i].frame ? group(items[i].frame->name()) : label(items[i].labels.front()->name());
        const std::vector<QPushButton*> b = buttons();
        return i - items.size() < b.size() ? QAccessible::queryAccessibleInterface(b[i - items.size()]) : nullptr;
    }

    int indexOfChild(const QAccessibleInterface* child) const override
    {
        for (int i = 0, n = childCount(); i < n; ++i)
            if (this->child(i) == child)
                return i;
        return -1;
    }

    QString text(QAccessible::Text t) const override
    {
        // The whole form in one line, for a reader that stops at the pane.
        if (t == QAccessible::Name)
            return qstr(readingText(readingOrder(view()->form())));
        return QAccessibleWidget::text(t);
    }

    // Where a label sits in the tree now: in its frame's group, or straight under the view.
    QAccessibleInterface* containerOf(const std::string& labelName)
    {
        for (const ReadingItem& it : readingOrder(view()->form()))
            for (const Element* l : it.labels)
                if (l->name() == labelName)
                    return it.frame ? group(it.frame->name()) : this;
        return nullptr;
    }

    QAccessibleInterface* label(const std::string& name) const
    {
        return cached("label:" + name, [&] { return new LabelAccessible(view(), name); });
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

FormViewAccessible* viewInterface(FormView* view)
{
    return view ? dynamic_cast<FormViewAccessible*>(QAccessible::queryAccessibleInterface(view)) : nullptr;
}

QAccessibleInterface* LabelAccessible::parent() const
{
    FormViewAccessible* v = viewInterface(view_);
    return v ? v->containerOf(name_) : nullptr;
}

QAccessibleInterface* GroupAccessible::parent() const
{
    return viewInterface(view_);
}

QAccessibleInterface* GroupAccessible::child(int index) const
{
    const ReadingItem it = item();
    FormViewAccessible* v = viewInterface(view_);
    if (!v || index < 0 || static_cast<std::size_t>(index) >= it.labels.size())
        return nullptr;
    return v->label(it.labels[static_cast<std::size_t>(index)]->name());
}

QAccessibleInterface* factory(const QString&, QObject* object)
{
    if (auto* view = qobject_cast<FormView*>(object))
        return new FormViewAccessible(view);
    return nullptr;
}

AccessibleEventSink& sink()
{
    static AccessibleEventSink s;
    return s;
}

bool listening()
{
    return sink() || QAccessible::isActive();
}

void send(QAccessibleInterface* iface, QAccessible::Event type)
{
    if (!iface)
        return;
    QAccessibleEvent event(iface, type);
    if (sink())
        sink()(event);
    else
        QAccessible::updateAccessibility(&event);
}

} // namespace

std::vector<ReadingItem> readingOrder(const Form& form)
{
    std::vector<ReadingItem> items;
    for (const Element& e : form.elements()) {
        if (e.kind() != ElementKind::Label || !e.visible())
            continue;
        const Element* frame = innermostFrame(form, e);
        auto it = frame
                      ? std::find_if(items.begin(), items.end(), [&](const ReadingItem& i) { return i.frame == frame; })
                      : items.end();
        if (it == items.end())
            items.push_back({frame, {&e}});
        else
            it->labels.push_back(&e);
    }
    for (ReadingItem& item : items)
        std::stable_sort(item.labels.begin(), item.labels.end(),
                         [](const Element* a, const Element* b) { return before(a->bounds(), b->bounds()); });
    std::stable_sort(items.begin(), items.end(),
                     [](const ReadingItem& a, const ReadingItem& b) { return before(anchor(a), anchor(b)); });
    return items;
}

std::string readingText(const ReadingItem& item)
{
    std::string text;
    for (const Element* label : item.labels) {
        if (label->caption().empty())
            continue;
        if (!text.empty())
            text += ' ';
        text += label->caption();
    }
    return text;
}

std::string readingText(const std::vector<ReadingItem>& items)
{
    std::string text;
    for (const ReadingItem& item : items) {
        const std::string part = readingText(item);
        if (part.empty())
            continue;
        if (!text.empty())
            text += ' ';
        text += part;
    }
    return text;
}

void installFormAccessibility()
{
    static std::once_flag once;
    std::call_once(once, [] { QAccessible::installFactory(factory); });
}

void setAccessibleEventSink(AccessibleEventSink s)
{
    sink() = std::move(s);
}

void AccessibleCaptions::update(FormView& view)
{
    std::vector<Seen> now;
    for (const ReadingItem& item : readingOrder(view.form()))
        for (const Element* label : item.labels)
            now.push_back({label->name(), label->caption(), item.frame ? item.frame->name() : std::string()});
    if (now == seen_)
        return;
    const std::vector<Seen> before = std::exchange(seen_, std::move(now));
    // The first look at a form is its starting point, not a change to announce.
    if (!std::exchange(primed_, true) || !listening())
        return;
    FormViewAccessible* v = viewInterface(&view);
    if (!v)
        return;

    const auto find = [](const std::vector<Seen>& list, const std::string& name) {
        auto it = std::find_if(list.begin(), list.end(), [&](const Seen& s) { return s.name == name; });
        return it == list.end() ? nullptr : &*it;
    };
    // A group reads its labels as one phrase, so any change among them renames it too.
    std::vector<std::string> groupsRenamed;
    const auto touch = [&](const std::string& frame) {
        if (!frame.empty() && std::find(groupsRenamed.begin(), groupsRenamed.end(), frame) == groupsRenamed.end())
            groupsRenamed.push_back(frame);
    };
    for (const Seen& s : before)
        if (!find(seen_, s.name)) {
            send(v->label(s.name), QAccessible::ObjectHide);
            touch(s.frame);
        }
    for (const Seen& s : seen_) {
        const Seen* old = find(before, s.name);
        if (!old) {
            send(v->label(s.name), QAccessible::ObjectShow);
            touch(s.frame);
            continue;
        }
        if (old->caption != s.caption)
            send(v->label(s.name), QAccessible::NameChanged);
        if (old->caption != s.caption || old->frame != s.frame) {
            touch(s.frame);
            touch(old->frame);
        }
    }
    for (const std::string& frame : groupsRenamed)
        send(v->group(frame), QAccessible::NameChanged);
    send(v, QAccessible::NameChanged);
}

} // namespace windows::qt
