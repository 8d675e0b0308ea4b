// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

namespace form {

// Layouts are written in twips; at 96 dots per inch a pixel is 15 of them.
inline constexpr int kTwipsPerPixel = 15;

struct Point {
    int x = 0;
    int y = 0;
};

struct Size {
    int width = 0;
    int height = 0;
    bool operator==(const Size&) const = default;
};

struct Rect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;

    bool contains(Point p) const { return p.x >= left && p.y >= top && p.x < left + width && p.y < top + height; }
    bool operator==(const Rect&) const = default;
};

constexpr int twipsToPixels(int twips)
{
    return twips / kTwipsPerPixel;
}

} // namespace form
