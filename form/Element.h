// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "Geometry.h"

#include <string>
#include <string_view>

namespace form {

class Form;

enum class ElementKind { Picture, Label, Rectangle, PushButton };

enum class BackStyle { Opaque, Transparent };

// An empty face means the window's default font.
struct Font {
    std::string_view face;
    double points = 0;
    bool bold = false;
    bool operator==(const Font&) const = default;
};

// How an element starts out; a layout is a table of these, front to back.
struct ElementLayout {
    std::string_view name;
    ElementKind kind = ElementKind::Picture;
    Rect bounds; // twips; a picture without a size takes its picture's 32 x 32 pixels
    bool visible = true;
    bool enabled = true;
    std::string_view caption;
    Font font;
    bool autoSize = false;
    BackStyle backStyle = BackStyle::Opaque;
    bool stretch = false; // pictures: scale the picture to the element instead of taking its size
    bool border = false; // pictures: a single border line around the element
};

// One positioned element of a form. Setters tell the owning form that something visible changed.
class Element {
public:
    Element(Form& owner, const ElementLayout& layout);

    const std::string& name() const { return name_; }
    ElementKind kind() const { return layout_.kind; }
    const ElementLayout& layout() const { return layout_; }
    const Rect& bounds() const { return bounds_; }

    bool visible() const { return visible_; }
    bool enabled() const { return enabled_; }
    const std::string& caption() const { return caption_; }
    const std::string& picture() const { return picture_; }

    void setVisible(bool visible);
    void setEnabled(bool enabled);
    void setCaption(std::string caption);
    // Pictures are shared, never copied pixel by pixel: an element holds a picture's key.
    void setPicture(std::string picture);
    void takePictureOf(const Element& source) { setPicture(source.picture()); }
    void setSize(Size pixels);

private:
    Form& owner_;
    ElementLayout layout_;
    std::string name_;
    Rect bounds_;
    bool visible_;
    bool enabled_;
    std::string caption_;
    std::string picture_;
};

} // namespace form
