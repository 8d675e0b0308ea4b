#include "Element.h"

#include "Form.h"

namespace windows {

Element::Element(Form& owner, const ElementSpec& spec)
    : owner_(owner), spec_(spec), name_(spec.name), bounds_(spec.bounds), visible_(spec.visible),
      enabled_(spec.enabled), caption_(spec.caption)
{
}

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
    if (spec_.autoSize)
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

} // namespace windows
