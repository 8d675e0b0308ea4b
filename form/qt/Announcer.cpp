// SPDX-License-Identifier: GPL-3.0-or-later

#include "Announcer.h"

#include "FormAccessibility.h"
#include "FormView.h"
#include "ReadingOrder.h"

#include <QAccessible>

#include <algorithm>
#include <utility>

namespace form::qt {

namespace {

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

void setAccessibleEventSink(AccessibleEventSink s)
{
    sink() = std::move(s);
}

void Announcer::update(FormView& view)
{
    const Form& form = view.form();
    std::vector<Seen> now;
    for (const ReadingItem& item : view.readingOrder())
        for (const Element* e : item.elements)
            now.push_back({e->name(), spokenText(form, *e), item.frame ? item.frame->name() : std::string()});
    if (now == seen_)
        return;
    const std::vector<Seen> before = std::exchange(seen_, std::move(now));
    // The first look at a form is its starting point, not a change to announce.
    if (!std::exchange(primed_, true) || !listening())
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
            send(accessibleElement(&view, s.name), QAccessible::ObjectHide);
            send(accessibleElement(&view, s.name), QAccessible::ObjectDestroyed);
            touch(s.frame);
        }
    for (const Seen& s : seen_) {
        const Seen* old = find(before, s.name);
        if (!old) {
            // Created tells a reader's copy of the tree that the view has one more child.
            send(accessibleElement(&view, s.name), QAccessible::ObjectCreated);
            send(accessibleElement(&view, s.name), QAccessible::ObjectShow);
            touch(s.frame);
            continue;
        }
        if (old->text != s.text)
            send(accessibleElement(&view, s.name), QAccessible::NameChanged);
        if (old->text != s.text || old->frame != s.frame) {
            touch(s.frame);
            touch(old->frame);
        }
    }
    for (const std::string& frame : groupsRenamed)
        send(accessibleGroup(&view, frame), QAccessible::NameChanged);
    // The whole form in one line changed too; a reader that follows the pane hears it there.
    send(QAccessible::queryAccessibleInterface(&view), QAccessible::NameChanged);
}

} // namespace form::qt
