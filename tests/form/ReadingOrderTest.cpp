// SPDX-License-Identifier: GPL-3.0-or-later

#include "ReadingOrder.h"
#include "Layouts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace form;

namespace {

// Each item as "frame: element element", or just the element for one that stands alone.
std::vector<std::string> outline(const std::vector<ReadingItem>& items)
{
    std::vector<std::string> out;
    for (const ReadingItem& item : items) {
        std::string line = item.frame ? item.frame->name() + ":" : "";
        for (const Element* e : item.elements)
            line += (line.empty() || line.back() == ':' ? "" : " ") + e->name();
        out.push_back(line);
    }
    return out;
}

} // namespace

TEST(ReadingOrder, WhatAReaderMeetsAsPicturesComeAndGo)
{
    struct Row {
        const char* shown; // made visible before the look, on top of the rows before
        std::vector<std::string> outline;
        const char* text;
    };
    const std::string countdown = "Shape1:Label5 Label7 Label6";
    const std::string panel = "Shape2:Label8 Label9 Label10";
    // clang-format off
    const Row rows[] = {
        {nullptr,   {countdown, panel},
                    "娘逃亡まであと 10 秒 現在娘さん 0 くるくる"},
        // Picture stores and the figures have nothing to say, shown or not.
        {"Image16", {countdown, panel},
                    "娘逃亡まであと 10 秒 現在娘さん 0 くるくる"},
        {"Image13", {countdown, panel, "Image13"},
                    "娘逃亡まであと 10 秒 現在娘さん 0 くるくる 侵入者（手前）"},
        {"Image2",  {countdown, panel, "Image2", "Image13"},
                    "娘逃亡まであと 10 秒 現在娘さん 0 くるくる 侵入者（奥の壁） 侵入者（手前）"},
        {"Image15", {countdown, panel, "Image2", "Image15", "Image13"},
                    "娘逃亡まであと 10 秒 現在娘さん 0 くるくる 侵入者（奥の壁） 投げられた風車 侵入者（手前）"},
    };
    // clang-format on
    Form form(form1Layout(), nullptr);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.shown ? row.shown : "at start");
        if (row.shown)
            form.element(row.shown).setVisible(true);
        const std::vector<ReadingItem> items = readingOrder(form);
        EXPECT_EQ(outline(items), row.outline);
        EXPECT_EQ(readingText(form, items), row.text);
    }
    // A named picture that goes leaves the order again.
    form.element("Image2").setVisible(false);
    form.element("Image15").setVisible(false);
    EXPECT_EQ(outline(readingOrder(form)), (std::vector<std::string>{countdown, panel, "Image13"}));
}

TEST(ReadingOrder, LabelsGroupByTheInnermostFrameAroundTheirCorner)
{
    const FormLayout layout{
        "F",
        "",
        {3000, 3000},
        FrameStyle::Sizable,
        SystemColor::ButtonFace,
        {
            {"Inner", ElementKind::Rectangle, {100, 100, 600, 600}},
            {"Outer", ElementKind::Rectangle, {0, 0, 2000, 2000}},
            {"Hidden", ElementKind::Rectangle, {1500, 1500, 400, 400}, false},
            {"B", ElementKind::Label, {200, 400, 100, 100}, true, true, "b"},
            {"A", ElementKind::Label, {200, 200, 100, 100}, true, true, "a"},
            {"C", ElementKind::Label, {1000, 150, 100, 100}, true, true, "c"},
            {"D", ElementKind::Label, {1600, 1600, 100, 100}, true, true, "d"},
            {"E", ElementKind::Label, {2500, 50, 100, 100}, true, true, ""},
            {"F", ElementKind::Label, {2500, 10, 100, 100}, false, true, "f"},
        },
    };
    Form form(layout, nullptr);
    const std::vector<ReadingItem> items = readingOrder(form);
    // A hidden frame groups nothing; an empty caption is met but says nothing.
    EXPECT_EQ(outline(items), (std::vector<std::string>{"Outer:C D", "E", "Inner:A B"}));
    EXPECT_EQ(readingText(form, items), "c d a b");
}
