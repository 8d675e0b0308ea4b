// SPDX-License-Identifier: GPL-3.0-or-later

#include "Layouts.h"
#include "ManualClock.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace form;

namespace {

std::vector<std::string> names(const Form& form)
{
    std::vector<std::string> out;
    for (const Element& e : form.elements())
        out.push_back(e.name());
    return out;
}

} // namespace

TEST(Form1Layout, StacksElementsFrontToBack)
{
    Form form(form1Layout(), nullptr);
    const std::vector<std::string> expected{
        "Command2", "Command1", "Image24", "Image23", "Image22", "Image21", "Image20", "Image19", "Image18",
        "Image17",  "Image16",  "Shape2",  "Label11", "Label10", "Label9",  "Label8",  "Label7",  "Label6",
        "Label5",   "Image15",  "Label2",  "Label1",  "Image14", "Shape1",  "Image13", "Image12", "Image10",
        "Image9",   "Image8",   "Image7",  "Image6",  "Image5",  "Image4",  "Image3",  "Image2",  "Image1"};
    EXPECT_EQ(names(form), expected);
    EXPECT_EQ(form.layout().caption, "Ombura");
    EXPECT_EQ(form.layout().client, (Size{7665, 4035}));
}

TEST(Form1Layout, VisibleElementsStandWhereTheSceneNeedsThem)
{
    struct Row {
        const char* name;
        Rect bounds;
        bool visible;
        bool enabled;
        const char* caption;
    };
    // clang-format off
    const Row rows[] = {
        {"Shape2",  {6120, 0, 1335, 1575},  true,  true, ""},
        {"Label10", {6480, 1080, 510, 180}, true,  true, "くるくる"},
        {"Label9",  {6600, 480, 150, 240},  true,  true, "0"},
        {"Label8",  {6240, 120, 855, 180},  true,  true, "現在娘さん"},
        {"Label7",  {240, 360, 960, 960},   true,  true, "10"},
        {"Label6",  {1320, 1200, 180, 180}, true,  true, "秒"},
        {"Label5",  {120, 120, 1170, 180},  true,  true, "娘逃亡まであと"},
        {"Image15", {3120, 2160, 480, 480}, false, true, ""},
        {"Image14", {30, 2400, 480, 480},   false, true, ""},
        {"Shape1",  {0, 0, 6015, 3855},     true,  true, ""},
        {"Image13", {4560, 3600, 480, 480}, false, true, ""},
        {"Image12", {5520, 840, 480, 480},  false, true, ""},
        {"Image10", {3240, 6240, 480, 480}, false, false, ""},
        {"Image5",  {5880, 3960, 480, 480}, false, false, ""},
        {"Image4",  {3480, 2160, 480, 480}, true,  true, ""},
        {"Image3",  {3120, 2160, 480, 480}, true,  true, ""},
        {"Image2",  {1920, 240, 480, 480},  false, true, ""},
        {"Image1",  {0, 0, 6000, 3750},     true,  true, ""},
        {"Command1", {1080, 6000, 1215, 495}, false, true, "Command1"},
        {"Label11", {2880, 5280, 1215, 495}, false, true, "Label11"},
    };
    // clang-format on
    Form form(form1Layout(), nullptr);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Element& e = form.element(row.name);
        EXPECT_EQ(e.layout().bounds, row.bounds);
        EXPECT_EQ(e.visible(), row.visible);
        EXPECT_EQ(e.enabled(), row.enabled);
        EXPECT_EQ(e.caption(), row.caption);
    }
    EXPECT_EQ(form.element("Label9").layout().font, (Font{kGothicFace, 12, true}));
    EXPECT_EQ(form.element("Label7").layout().font, (Font{kGothicFace, 48, false}));
    EXPECT_EQ(form.element("Label7").layout().backStyle, BackStyle::Transparent);
    EXPECT_EQ(form.element("Label5").layout().backStyle, BackStyle::Opaque);
}

TEST(Form1Layout, TimersAndMenus)
{
    Form form(form1Layout(), nullptr);
    const std::vector<std::tuple<std::string, int, bool>> timers{{"Timer1", 100, true},
                                                                 {"Timer2", 500, true},
                                                                 {"Timer3", 1000, true},
                                                                 {"Timer4", 1000, false},
                                                                 {"bgm", 1000, true}};
    ASSERT_EQ(form.timers().size(), timers.size());
    for (std::size_t i = 0; i < timers.size(); ++i) {
        EXPECT_EQ(form.timers()[i].name(), std::get<0>(timers[i]));
        EXPECT_EQ(form.timers()[i].interval(), std::get<1>(timers[i]));
        EXPECT_EQ(form.timers()[i].enabled(), std::get<2>(timers[i]));
    }
    ASSERT_EQ(form.menus().size(), 2u);
    EXPECT_EQ(form.menus()[0].caption, "ゲーム");
    std::vector<std::string> captions;
    for (const MenuEntry& e : form.menus()[0].entries)
        captions.push_back(e.caption);
    EXPECT_EQ(captions, (std::vector<std::string>{"開始", "中止", "-", "説明", "-", "終了"}));
    EXPECT_TRUE(form.menus()[0].entries[2].isSeparator());
    EXPECT_EQ(form.menus()[1].caption, "あとがき");
    EXPECT_EQ(form.menus()[1].entries.at(0).name, "mnuAtogaki");
}

TEST(HitTest, FrontmostVisibleElementTakesThePress)
{
    Form form(form1Layout(), nullptr);
    auto at = [&](int px, int py) {
        Element* e = form.hitTest({px * 15 + 7, py * 15 + 7});
        return e ? e->name() : std::string("(none)");
    };
    // Shape1 frames the whole scene but never takes a press: the room and the figure do.
    EXPECT_EQ(at(1, 1), "Image1");
    EXPECT_EQ(at(215, 160), "Image3");
    // The girl's picture covers the right-hand eight pixels of the player's figure.
    EXPECT_EQ(at(231, 160), "Image3");
    EXPECT_EQ(at(232, 160), "Image4");
    EXPECT_EQ(at(239, 175), "Image4");
    // Hidden elements are passed over; once shown, the pinwheel lies over the figure.
    form.element("Image15").setVisible(true);
    EXPECT_EQ(at(215, 160), "Image15");
    // Outside every element nothing is hit (the score panel's frame is a rectangle).
    EXPECT_EQ(at(500, 200), "(none)");
    EXPECT_EQ(at(409, 100), "(none)");
}

TEST(HitTest, PressesReachHandlersOnlyThroughEnabledFrontmostElements)
{
    Form form(form1Layout(), nullptr);
    int image3 = 0, image4 = 0;
    form.on("Image3", Event::MouseDown, [&] { ++image3; });
    form.on("Image4", Event::MouseDown, [&] { ++image4; });
    const Point figure{215 * 15, 160 * 15}, strip{235 * 15, 160 * 15};

    form.press(figure, MouseButton::Right);
    EXPECT_EQ(image3, 1);
    // A disabled girl swallows presses on the strip; they do not fall through to the figure.
    form.element("Image4").setEnabled(false);
    form.press(strip, MouseButton::Left);
    EXPECT_EQ(image3, 1);
    EXPECT_EQ(image4, 0);
    // A disabled figure, or a disabled window, takes nothing.
    form.element("Image3").setEnabled(false);
    form.press(figure, MouseButton::Left);
    form.element("Image3").setEnabled(true);
    form.setEnabled(false);
    form.press(figure, MouseButton::Left);
    EXPECT_EQ(image3, 1);
    // The pinwheel has no handler and covers the figure.
    form.setEnabled(true);
    form.element("Image15").setVisible(true);
    form.press(figure, MouseButton::Left);
    EXPECT_EQ(image3, 1);
}

TEST(Timers, TickInTimeOrderAndStopAtOnce)
{
    ManualClock clock;
    FormLayout layout{
        "F", "", {}, FrameStyle::Sizable, SystemColor::ButtonFace, {}, {{"A", 100, false}, {"B", 250, false}}, {}};
    Form form(layout, &clock);
    std::vector<std::string> log;
    form.on("A", Event::Timer, [&] { log.push_back("A@" + std::to_string(clock.now())); });
    form.on("B", Event::Timer, [&] {
        log.push_back("B@" + std::to_string(clock.now()));
        form.timer("A").setEnabled(false);
    });
    form.timer("A").setEnabled(true);
    form.timer("B").setEnabled(true);
    clock.advance(600);
    EXPECT_EQ(log, (std::vector<std::string>{"A@100", "A@200", "B@250", "B@500"}));

    // A new interval starts a fresh period; re-enabling a running timer does not.
    log.clear();
    form.timer("B").setInterval(100); // at 600
    clock.advance(50);
    form.timer("B").setEnabled(true);
    clock.advance(60);
    EXPECT_EQ(log, (std::vector<std::string>{"B@700"}));
    // Interval 0 never ticks.
    form.timer("B").setInterval(0);
    log.clear();
    clock.advance(1000);
    EXPECT_TRUE(log.empty());
}

TEST(Timers, AHandlerThatHoldsTheClockIsNotEnteredAgain)
{
    // As with a QTimer: while a handler waits in a modal box, its own timer does not tick, other
    // timers do, and the periods it missed come as one tick once it returns.
    ManualClock clock;
    FormLayout layout{
        "F", "", {}, FrameStyle::Sizable, SystemColor::ButtonFace, {}, {{"T", 1000, true}, {"U", 500, true}}, {}};
    Form form(layout, &clock);
    std::vector<std::string> log;
    bool nested = false;
    form.on("U", Event::Timer, [&] { log.push_back("U@" + std::to_string(clock.now())); });
    form.on("T", Event::Timer, [&] {
        log.push_back("T@" + std::to_string(clock.now()));
        if (!std::exchange(nested, true)) {
            clock.advance(2500); // a modal box held open for 2.5 s
            log.push_back("closed@" + std::to_string(clock.now()));
        }
    });
    clock.advance(1000);
    EXPECT_EQ(log, (std::vector<std::string>{"U@500", "T@1000", "U@1000", "U@1500", "U@2000", "U@2500", "U@3000",
                                             "U@3500", "closed@3500", "T@3500"}));
    EXPECT_EQ(clock.now(), 3500);
    log.clear();
    clock.advance(1000);
    EXPECT_EQ(log, (std::vector<std::string>{"U@4000", "T@4500", "U@4500"}));
}

TEST(FormDeathTest, UnknownNamesStopWithTheName)
{
    // A wrong name in the game's code must not read through a null reference in a release build.
    Form form(form1Layout(), nullptr);
    EXPECT_DEATH(form.element("Image99"), "Form1 has no element named \"Image99\"");
    EXPECT_DEATH(form.timer("Timer9"), "Form1 has no timer named \"Timer9\"");
    EXPECT_DEATH(form.menuEntry("mnuNone"), "Form1 has no menu entry named \"mnuNone\"");
}
