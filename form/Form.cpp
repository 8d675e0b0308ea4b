// SPDX-License-Identifier: GPL-3.0-or-later

#include "Form.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace form {

namespace {

// Good enough for tests and for the moment before a view exists: an average glyph is about
// half the font's height, and CJK glyphs are square.
Size estimateCaption(const Element& label)
{
    const double points = label.layout().font.points > 0 ? label.layout().font.points : 9.0;
    const int em = static_cast<int>(std::lround(points * 96.0 / 72.0));
    int width = 0;
    const std::string& text = label.caption();
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80)
            width += em / 2;
        else if (c >= 0xC0)
            width += em; // the first byte of a multi-byte character
    }
    return {width, em + em / 3};
}

// A name that is not in the layout is a slip in the code that asks for it, and it must not limp on
// in a release build: say which name it was and stop.
[[noreturn]] void unknownName(const char* what, std::string_view form, std::string_view name)
{
    std::fprintf(stderr, "ombura: %.*s has no %s named \"%.*s\"\n", static_cast<int>(form.size()), form.data(), what,
                 static_cast<int>(name.size()), name.data());
    std::abort();
}

} // namespace

Form::Form(const FormLayout& layout, TimerHost* timerHost) : layout_(layout), name_(layout.name)
{
    for (const ElementLayout& e : layout_.elements)
        elements_.emplace_back(*this, e);
    for (const TimerLayout& t : layout_.timers)
        timers_.emplace_back(*this, t, timerHost);
    for (const MenuLayout& m : layout_.menus) {
        Menu menu{std::string(m.name), std::string(m.caption), {}};
        for (const MenuEntryLayout& entry : m.entries)
            menu.entries.push_back({std::string(entry.name), std::string(entry.caption), true});
        menus_.push_back(std::move(menu));
    }
}

Form::~Form()
{
    // Timers tell their host they are going before the elements and handlers they tick into.
    timers_.clear();
}

Element* Form::find(std::string_view name)
{
    auto it = std::find_if(elements_.begin(), elements_.end(), [&](const Element& e) { return e.name() == name; });
    return it == elements_.end() ? nullptr : &*it;
}

Element& Form::element(std::string_view name)
{
    Element* e = find(name);
    if (!e)
        unknownName("element", name_, name);
    return *e;
}

const Element& Form::element(std::string_view name) const
{
    return const_cast<Form*>(this)->element(name);
}

Timer& Form::timer(std::string_view name)
{
    auto it = std::find_if(timers_.begin(), timers_.end(), [&](const Timer& t) { return t.name() == name; });
    if (it == timers_.end())
        unknownName("timer", name_, name);
    return *it;
}

MenuEntry& Form::menuEntry(std::string_view name)
{
    for (Menu& menu : menus_)
        for (MenuEntry& entry : menu.entries)
            if (entry.name == name)
                return entry;
    unknownName("menu entry", name_, name);
}

void Form::setEnabled(bool enabled)
{
    if (enabled_ == enabled)
        return;
    enabled_ = enabled;
    changed();
}

void Form::on(std::string_view element, Event event, Handler handler)
{
    handlers_[{std::string(element), event}] = std::move(handler);
}

bool Form::raise(std::string_view element, Event event)
{
    auto it = handlers_.find(std::pair<std::string, Event>(element, event));
    if (it == handlers_.end())
        return false;
    // A handler may discard this very form (the dialog's OK does), so run a copy and touch
    // nothing of ours afterwards.
    Handler handler = it->second;
    handler();
    return true;
}

bool Form::takesInput(const Element& e) const
{
    return e.visible() && e.kind() != ElementKind::Rectangle;
}

Element* Form::hitTest(Point twips)
{
    for (Element& e : elements_)
        if (takesInput(e) && e.bounds().contains(twips))
            return &e;
    return nullptr;
}

void Form::press(Point twips, MouseButton)
{
    // Which button was pressed, with which modifiers and where on the element, never matters.
    pressed_.clear();
    if (!enabled_)
        return;
    Element* target = hitTest(twips);
    if (!target || !target->enabled())
        return;
    pressed_ = target->name();
    raise(pressed_, Event::MouseDown);
}

void Form::release(Point twips, MouseButton button)
{
    std::string pressed = std::exchange(pressed_, {});
    if (!enabled_ || pressed.empty() || button != MouseButton::Left)
        return;
    Element* target = hitTest(twips);
    if (target && target->name() == pressed && target->enabled())
        raise(pressed, Event::Click);
}

void Form::click(std::string_view name)
{
    Element* target = find(name);
    if (enabled_ && target && target->visible() && target->enabled())
        raise(name, Event::Click);
}

void Form::chooseMenu(std::string_view name)
{
    if (!enabled_)
        return;
    const MenuEntry& entry = menuEntry(name);
    if (entry.enabled && !entry.isSeparator())
        raise(name, Event::Click);
}

void Form::setTextMeasurer(TextMeasurer measurer)
{
    measurer_ = std::move(measurer);
    for (Element& e : elements_)
        if (e.kind() == ElementKind::Label && e.layout().autoSize)
            fitToCaption(e);
}

void Form::fitToCaption(Element& label)
{
    label.setSize(measurer_ ? measurer_(label) : estimateCaption(label));
}

void Form::changed()
{
    if (changeListener_)
        changeListener_();
}

} // namespace form
