#pragma once

#include "Form.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

class QAccessibleEvent;

namespace windows::qt {

class FormView;

// What a reader meets on a form, in reading order. Painted labels are grouped by the innermost
// visible frame (rectangle) around their top-left corner, so the score panel reads as one phrase;
// a label outside every frame stands on its own. Pictures, frames and hidden elements are left
// out: they carry nothing to read.
struct ReadingItem {
    const Element* frame = nullptr; // null for a label on its own
    std::vector<const Element*> labels;
};
std::vector<ReadingItem> readingOrder(const Form& form);
// The captions of an item, or of the whole form, joined by single spaces.
std::string readingText(const ReadingItem& item);
std::string readingText(const std::vector<ReadingItem>& items);

// Lets Qt's accessibility (AT-SPI on Linux) see a FormView's painted labels. Safe to call often.
void installFormAccessibility();

// Where change notices go. By default Qt's bridge, which drops them while no assistive tool
// listens; a test that has no bridge to listen through puts its own listener here instead.
using AccessibleEventSink = std::function<void(QAccessibleEvent&)>;
void setAccessibleEventSink(AccessibleEventSink sink);

// Tells assistive tools when a painted label's caption changes, appears or goes. A view calls
// update() after every model change; it compares with what it reported last time.
class AccessibleCaptions {
public:
    void update(FormView& view);

private:
    struct Seen {
        std::string name;
        std::string caption;
        std::string frame;
        bool operator==(const Seen&) const = default;
    };
    std::vector<Seen> seen_;
    bool primed_ = false;
};

} // namespace windows::qt
