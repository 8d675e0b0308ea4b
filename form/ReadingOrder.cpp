// SPDX-License-Identifier: GPL-3.0-or-later

#include "ReadingOrder.h"

#include <algorithm>
#include <utility>

namespace form {

namespace {

bool before(const Rect& a, const Rect& b)
{
    return std::pair(a.top, a.left) < std::pair(b.top, b.left);
}

const Rect& anchor(const ReadingItem& item)
{
    return item.frame ? item.frame->bounds() : item.elements.front()->bounds();
}

const Element* innermostFrame(const Form& form, const Element& label)
{
    const Point corner{label.bounds().left, label.bounds().top};
    const auto area = [](const Element& r) { return static_cast<long long>(r.bounds().width) * r.bounds().height; };
    const Element* best = nullptr;
    for (const Element& e : form.elements()) {
        if (e.kind() != ElementKind::Rectangle || !e.visible() || !e.bounds().contains(corner))
            continue;
        if (!best || area(e) < area(*best))
            best = &e;
    }
    return best;
}

std::string_view spokenName(const Form& form, const Element& picture)
{
    for (const SpokenPicture& p : form.layout().spokenPictures)
        if (p.element == picture.name())
            return p.spoken;
    return {};
}

void join(std::string& text, const std::string& part)
{
    if (part.empty())
        return;
    if (!text.empty())
        text += ' ';
    text += part;
}

} // namespace

std::vector<ReadingItem> readingOrder(const Form& form)
{
    std::vector<ReadingItem> items;
    for (const Element& e : form.elements()) {
        if (!e.visible())
            continue;
        if (e.kind() == ElementKind::Picture && !spokenName(form, e).empty()) {
            items.push_back({nullptr, {&e}});
            continue;
        }
        if (e.kind() != ElementKind::Label)
            continue;
        const Element* frame = innermostFrame(form, e);
        auto it = frame
                      ? std::find_if(items.begin(), items.end(), [&](const ReadingItem& i) { return i.frame == frame; })
                      : items.end();
        if (it == items.end())
            items.push_back({frame, {&e}});
        else
            it->elements.push_back(&e);
    }
    for (ReadingItem& item : items)
        std::stable_sort(item.elements.begin(), item.elements.end(),
                         [](const Element* a, const Element* b) { return before(a->bounds(), b->bounds()); });
    std::stable_sort(items.begin(), items.end(),
                     [](const ReadingItem& a, const ReadingItem& b) { return before(anchor(a), anchor(b)); });
    return items;
}

std::string spokenText(const Form& form, const Element& element)
{
    if (element.kind() == ElementKind::Picture)
        return std::string(spokenName(form, element));
    return element.caption();
}

std::string readingText(const Form& form, const ReadingItem& item)
{
    std::string text;
    for (const Element* e : item.elements)
        join(text, spokenText(form, *e));
    return text;
}

std::string readingText(const Form& form, const std::vector<ReadingItem>& items)
{
    std::string text;
    for (const ReadingItem& item : items)
        join(text, readingText(form, item));
    return text;
}

} // namespace form
