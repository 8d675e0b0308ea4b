// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <functional>
#include <string>
#include <vector>

class QAccessibleEvent;

namespace form::qt {

class FormView;

// Where change notices go. By default Qt's bridge, which drops them while no assistive tool
// listens; a test that has no bridge to listen through puts its own listener here instead.
using AccessibleEventSink = std::function<void(QAccessibleEvent&)>;
void setAccessibleEventSink(AccessibleEventSink sink);

// Tells assistive tools when something a reader meets changes: a label's caption, or a named
// picture (an intruder, the thrown pinwheel) coming or going. A view calls update() after every
// model change, with its reading order already brought up to date; it compares with what it
// reported last time.
class Announcer {
public:
    void update(FormView& view);

private:
    struct Seen {
        std::string name;
        std::string text;
        std::string frame;
        bool operator==(const Seen&) const = default;
    };
    std::vector<Seen> seen_;
    bool primed_ = false;
};

} // namespace form::qt
