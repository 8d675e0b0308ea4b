// SPDX-License-Identifier: GPL-3.0-or-later

#include "Element.h"

#include "Form.h"

namespace form {

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
    if (visible_ == visible)
        return;
    visible_ = visible;
    owner_.changed();
}

void Element::setEnabled(bool enabled)
{
    if (enabled_ == enabled)
        return;
    enabled_ = enabled;
    owner_.changed();
}

void Element::setCaption(std::string caption)
{
    if (caption_ == caption)
        return;
    caption_ = std::move(caption);
    if (layout_.autoSize)
        owner_.fitToCaption(*this);
    owner_.changed();
}

void Element::setPicture(std::string picture)
{
    if (picture_ == picture)
        return;
    picture_ = std::move(picture);
    owner_.changed();
}

void Element::setSize(Size pixels)
{
    Rect r{bounds_.left, bounds_.top, pixels.width * kTwipsPerPixel, pixels.height * kTwipsPerPixel};
    if (r == bounds_)
        return;
    bounds_ = r;
    owner_.changed();
}

} // namespace form
