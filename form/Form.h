// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "Element.h"
#include "Menu.h"
#include "Timer.h"

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace form {

enum class Event { Click, MouseDown, Timer };

enum class MouseButton { Left, Right, Middle, Other };

enum class FrameStyle { Sizable, FixedToolWindow };

// The classic system colours a layout may name.
enum class SystemColor { ActiveBorder, ButtonFace };

// A picture that a screen reader names while it shows: what is on it, in the game's language.
struct SpokenPicture {
    std::string_view element;
    std::string_view spoken;
};

struct FormLayout {
    std::string_view name;
    std::string_view caption;
    Size client; // twips
    FrameStyle frame = FrameStyle::Sizable;
    SystemColor background = SystemColor::ButtonFace;
    std::vector<ElementLayout> elements; // front to back
    std::vector<TimerLayout> timers;
    std::vector<MenuLayout> menus;
    std::vector<SpokenPicture> spokenPictures;
};

// A window as a model: positioned elements in stacking order, timers and a menu bar. It knows
// nothing of any toolkit; a view draws it and feeds it presses, a host drives its timers.
class Form {
public:
    using Handler = std::function<void()>;
    using TextMeasurer = std::function<Size(const Element&)>;

    Form(const FormLayout& layout, TimerHost* timerHost);
    ~Form();
    Form(const Form&) = delete;
    Form& operator=(const Form&) = delete;

    const FormLayout& layout() const { return layout_; }
    const std::string& name() const { return name_; }

    // Front to back, as in the layout.
    const std::deque<Element>& elements() const { return elements_; }
    Element& element(std::string_view name);
    const Element& element(std::string_view name) const;
    Element* find(std::string_view name);

    Timer& timer(std::string_view name);
    const std::deque<Timer>& timers() const { return timers_; }

    const std::vector<Menu>& menus() const { return menus_; }
    MenuEntry& menuEntry(std::string_view name);

    bool enabled() const { return enabled_; }
    void setEnabled(bool enabled);

    // Handlers are named after their element and event, as in Timer3_Timer.
    void on(std::string_view element, Event event, Handler handler);
    bool raise(std::string_view element, Event event);

    // The frontmost visible picture, label or push button under the point (twips); rectangles
    // never take presses, and a picture takes them on its transparent pixels too.
    Element* hitTest(Point twips);
    // Input from the view. A press or click whose frontmost element is disabled does nothing.
    void press(Point twips, MouseButton button);
    void release(Point twips, MouseButton button);
    void click(std::string_view element);
    void chooseMenu(std::string_view entry);

    // The view measures captions in real fonts; until it does, a rough estimate serves.
    void setTextMeasurer(TextMeasurer measurer);
    void fitToCaption(Element& label);

    // Called after every visible change; the view schedules a repaint.
    void setChangeListener(std::function<void()> listener) { changeListener_ = std::move(listener); }
    void changed();

private:
    bool takesInput(const Element& e) const;

    FormLayout layout_;
    std::string name_;
    std::deque<Element> elements_;
    std::deque<Timer> timers_;
    std::vector<Menu> menus_;
    std::map<std::pair<std::string, Event>, Handler, std::less<>> handlers_;
    bool enabled_ = true;
    std::string pressed_;
    TextMeasurer measurer_;
    std::function<void()> changeListener_;
};

} // namespace form
