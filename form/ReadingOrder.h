// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "Form.h"

#include <string>
#include <vector>

namespace form {

// What a screen reader meets on a form, in reading order: top to bottom, then left to right.
// Painted labels are grouped by the innermost visible frame (rectangle) around their top-left
// corner, so the score panel reads as one phrase; a label outside every frame stands on its own.
// A picture is read only while it shows and only if the layout gives it a spoken name (an
// intruder, the thrown pinwheel); it always stands on its own. Frames, the other pictures and
// hidden elements carry nothing to read and are left out.
struct ReadingItem {
    const Element* frame = nullptr; // null for an element on its own
    std::vector<const Element*> elements;
    bool operator==(const ReadingItem&) const = default;
};

std::vector<ReadingItem> readingOrder(const Form& form);

// What a reader says for one element: a label's caption or a picture's spoken name.
std::string spokenText(const Form& form, const Element& element);
// The texts of an item, or of the whole form, joined by single spaces.
std::string readingText(const Form& form, const ReadingItem& item);
std::string readingText(const Form& form, const std::vector<ReadingItem>& items);

} // namespace form
