// SPDX-License-Identifier: GPL-3.0-or-later

#include "Element.h"

#include "Form.h"

#include <utility>

namespace form {

namespace {

// Takes the value if it is new, and says whether it was.
template <typename T>
bool assign(T& field, T value)
{
    if (field == value)
        return false;
    field = std::move(value);
    return true;
}

} // namespace

Element::Element(Form& owner, const ElementLayout& layout)
    : owner_(owner),
      layout_(layout),
      name_(layout.name),
      bounds_(layout.bounds),
      visible_(layout.visible),
      enabled_(layout.enabled),
      caption_(layout.caption)
{ }

void Element::setVisible(bool visible)
{
    if (assign(visible_, visible))
        owner_.changed();
}

void Element::setEnabled(bool enabled)
{
    if (assign(enabled_, enabled))
        owner_.changed();
}

void Element::setCaption(std::string caption)
{
    if (!assign(caption_, std::move(caption)))
        return;
    if (layout_.autoSize)
        owner_.fitToCaption(*this);
    owner_.changed();
}

void Element::setPicture(std::string picture)
{
    if (assign(picture_, std::move(picture)))
        owner_.changed();
}

void Element::setSize(Size pixels)
{
    if (assign(bounds_, Rect{bounds_.left, bounds_.top, pixels.width * kTwipsPerPixel, pixels.height * kTwipsPerPixel}))
        owner_.changed();
}

} // namespace form
