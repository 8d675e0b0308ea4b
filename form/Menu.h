// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace form {

// A separator is an entry whose caption is "-".
struct MenuEntryLayout {
    std::string_view name;
    std::string_view caption;
};

struct MenuLayout {
    std::string_view name;
    std::string_view caption;
    std::vector<MenuEntryLayout> entries;
};

struct MenuEntry {
    std::string name;
    std::string caption;
    bool enabled = true;
    bool isSeparator() const { return caption == "-"; }
};

struct Menu {
    std::string name;
    std::string caption;
    std::vector<MenuEntry> entries;
};

} // namespace form
