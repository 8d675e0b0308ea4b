// SPDX-License-Identifier: GPL-3.0-or-later

#include "GameFixture.h"
#include "Layouts.h"
#include "PictureTable.h"

#include <regex>

using testing_support::GameTest;
using namespace form;

TEST(Form2Layout, WindowAndElementsFrontToBack)
{
    const FormLayout& layout = form2Layout();
    EXPECT_EQ(layout.name, "Form2");
    EXPECT_EQ(layout.caption, "あとがき・・・？");
    EXPECT_EQ(layout.client, (Size{4680, 3195}));
    EXPECT_EQ(layout.frame, FrameStyle::FixedToolWindow);
    EXPECT_EQ(layout.background, SystemColor::ButtonFace);
    EXPECT_TRUE(layout.timers.empty());
    EXPECT_TRUE(layout.menus.empty());

    struct Row {
        const char* name;
        ElementKind kind;
        Rect bounds;
        const char* caption; // null: the wording is ours, checked below
        Font font;
        bool autoSize;
        BackStyle back;
    };
    const auto L = ElementKind::Label;
    const auto O = BackStyle::Opaque;
    const auto T = BackStyle::Transparent;
    const Font credit{kGothicFace, 9, true};
    // clang-format off
    const Row rows[] = {
        {"Command1", ElementKind::PushButton, {3360, 2520, 1215, 495}, "OK", {}, false, O},
        {"Label6", L, {120, 1560, 4335, 495},
         "ダウンロード有難うございます。操作方法など不明な点はHELPファイルをどうぞ…。", {}, false, O},
        {"Label5", L, {120, 2880, 3165, 180}, nullptr, credit, true, O},
        {"Label4", L, {120, 2640, 2400, 180}, nullptr, credit, true, O},
        {"Label3", L, {120, 2400, 1920, 180}, nullptr, credit, true, O},
        {"Label2", L, {2520, 1080, 930, 240}, "Ver.1.0", {kBrushFace, 12, true}, true, T},
        {"Label1", L, {1440, 360, 1095, 525}, "Ombura", {kBrushFace, 26.25, true}, true, T},
        {"Image1", ElementKind::Picture, {240, 360, 975, 975}, "", {}, false, O},
    };
    // clang-format on
    Form form(layout, nullptr);
    ASSERT_EQ(form.elements().size(), std::size(rows));
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const Row& row = rows[i];
        const Element& e = form.elements()[i];
        SCOPED_TRACE(row.name);
        EXPECT_EQ(e.name(), row.name);
        EXPECT_EQ(e.kind(), row.kind);
        EXPECT_EQ(e.layout().bounds, row.bounds);
        EXPECT_TRUE(e.visible());
        EXPECT_TRUE(e.enabled());
        if (row.caption) {
            EXPECT_EQ(e.caption(), row.caption);
        }
        EXPECT_EQ(e.layout().font, row.font);
        EXPECT_EQ(e.layout().autoSize, row.autoSize);
        EXPECT_EQ(e.layout().backStyle, row.back);
    }
    // The title picture is the program icon, stretched into a bordered box.
    const Element& picture = form.element("Image1");
    EXPECT_TRUE(picture.layout().stretch);
    EXPECT_TRUE(picture.layout().border);
    assets::applyPictures(form);
    ASSERT_NE(assets::findPicture("icon"), nullptr);
    EXPECT_EQ(picture.picture(), assets::findPicture("icon")->resource);
}

TEST(Form2Layout, CreditsKeepTheirFormAndNameNoOneInvented)
{
    Form form(form2Layout(), nullptr);
    // "Program", one space, the credited name; "Sound", four spaces, the name; a rights notice
    // with the year and the holder. We credit the project itself.
    EXPECT_TRUE(std::regex_match(form.element("Label3").caption(), std::regex("Program [^ ].*")));
    EXPECT_TRUE(std::regex_match(form.element("Label4").caption(), std::regex("Sound    [^ ].*")));
    EXPECT_TRUE(std::regex_search(form.element("Label5").caption(), std::regex("(19|20)[0-9]{2}")));
    for (const char* name : {"Label3", "Label4", "Label5"}) {
        SCOPED_TRACE(name);
        EXPECT_NE(form.element(name).caption().find("Ombura Project"), std::string::npos);
        EXPECT_EQ(form.element(name).caption().find('\n'), std::string::npos);
    }
}

TEST(Form2Layout, NoElementOverlapsAnother)
{
    Form form(form2Layout(), nullptr);
    const auto overlap = [](const Rect& a, const Rect& b) {
        return a.left < b.left + b.width && b.left < a.left + a.width && a.top < b.top + b.height &&
               b.top < a.top + a.height;
    };
    for (const Element& a : form.elements())
        for (const Element& b : form.elements())
            if (&a != &b) {
                EXPECT_FALSE(overlap(a.layout().bounds, b.layout().bounds)) << a.name() << " / " << b.name();
            }
}

namespace {

class DialogTest : public GameTest {
protected:
    // Records, at every change of Form1's Enabled, how many dialogs the shell has shown and
    // discarded by then: the handlers' order of steps shows in it.
    void watchEnabled()
    {
        form().setChangeListener([this] {
            if (form().enabled() != lastEnabled) {
                lastEnabled = form().enabled();
                steps.push_back({lastEnabled, shell.shown.size(), shell.discarded.size()});
            }
        });
    }
    struct Step {
        bool enabled;
        std::size_t shown;
        std::size_t discarded;
        bool operator==(const Step&) const = default;
    };
    std::vector<Step> steps;
    bool lastEnabled = true;

    void pressOk()
    {
        ASSERT_NE(form1.form2(), nullptr);
        form1.form2()->click("Command1");
    }
};

} // namespace

TEST_F(DialogTest, AtogakiShowsThenDisablesAndOkEnablesThenDiscards)
{
    watchEnabled();
    form().chooseMenu("mnuAtogaki");
    ASSERT_NE(form1.form2(), nullptr);
    Form* first = form1.form2();
    EXPECT_EQ(shell.shown, (std::vector<Form*>{first}));
    EXPECT_FALSE(form().enabled());
    EXPECT_EQ(first->name(), "Form2");
    EXPECT_EQ(first->element("Image1").picture(), assets::findPicture("icon")->resource);

    // While it is open nothing of Form1 takes input, so the dialog cannot open twice.
    first->element("Label1").setCaption("changed");
    for (const char* entry : {"mnuAtogaki", "mnuStart", "mnuExit"})
        form().chooseMenu(entry);
    EXPECT_EQ(shell.shown.size(), 1u);
    EXPECT_EQ(shell.endCalls, 0);
    EXPECT_FALSE(form1.state().score || form().timer("Timer3").enabled());

    // Labels and the picture have no handlers; only OK closes.
    first->press({300, 400}, MouseButton::Left);
    first->release({300, 400}, MouseButton::Left);
    EXPECT_EQ(form1.form2(), first);

    pressOk();
    EXPECT_TRUE(form().enabled());
    EXPECT_EQ(form1.form2(), nullptr);
    EXPECT_EQ(shell.discarded, (std::vector<Form*>{first}));
    EXPECT_EQ(steps, (std::vector<Step>{{false, 1, 0}, {true, 1, 0}}));

    // Opened again, it is made afresh from its layout.
    form().chooseMenu("mnuAtogaki");
    ASSERT_NE(form1.form2(), nullptr);
    EXPECT_EQ(form1.form2()->element("Label1").caption(), "Ombura");
    EXPECT_EQ(shell.shown.size(), 2u);
    EXPECT_FALSE(form().enabled());
    pressOk();
    EXPECT_TRUE(form().enabled());
}

TEST_F(DialogTest, SethuDisablesThenShowsButItsEntryStaysGreyed)
{
    watchEnabled();
    form().chooseMenu("mnuSethu");
    EXPECT_TRUE(shell.shown.empty());
    EXPECT_EQ(form1.form2(), nullptr);

    // Were the entry ever enabled, it would open the same dialog, disabling Form1 first.
    form1.mnuSethu_Click();
    ASSERT_NE(form1.form2(), nullptr);
    EXPECT_EQ(form1.form2()->layout().caption, "あとがき・・・？");
    EXPECT_EQ(steps, (std::vector<Step>{{false, 0, 0}}));
    pressOk();
    EXPECT_TRUE(form().enabled());
    EXPECT_EQ(shell.discarded.size(), 1u);
}

TEST_F(DialogTest, GameRunsOnBehindTheDialogAndEscapesWhileItIsOpen)
{
    form1.Command2_Click(); // no intruders: only the countdown decides
    start();
    pressFigure();
    EXPECT_TRUE(form().timer("Timer1").enabled());
    form().chooseMenu("mnuAtogaki");
    ASSERT_FALSE(form().enabled());

    // The spin animation finishes and the countdown ticks although Form1 is disabled.
    clock.advance(1000);
    EXPECT_FALSE(form().timer("Timer1").enabled());
    EXPECT_EQ(el("Label7").caption(), "10");
    EXPECT_EQ(el("Label9").caption(), "1");

    bool disabledDuringBox = false;
    shell.whileBoxOpen = [&] { disabledDuringBox = !form().enabled() && form1.form2() != nullptr; };
    clock.advance(10'000);
    ASSERT_EQ(shell.boxes.size(), 1u);
    EXPECT_EQ(shell.boxes[0].prompt, "娘さん逃亡…。");
    EXPECT_EQ(shell.boxes[0].title, "GAME　OVER");
    EXPECT_TRUE(disabledDuringBox);

    // The game stopped; Form1 stays disabled and the dialog open until OK.
    EXPECT_FALSE(form().timer("Timer3").enabled());
    EXPECT_FALSE(form().enabled());
    ASSERT_NE(form1.form2(), nullptr);
    clock.advance(20'000);
    EXPECT_EQ(shell.boxes.size(), 1u);

    pressOk();
    EXPECT_TRUE(form().enabled());
    start();
    EXPECT_TRUE(form().timer("Timer3").enabled());
    EXPECT_EQ(el("Label9").caption(), "0");
}
