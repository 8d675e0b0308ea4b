// SPDX-License-Identifier: GPL-3.0-or-later

#include "Fonts.h"
#include "FormView.h"
#include "FormWindow.h"
#include "GameFixture.h"
#include "Look.h"
#include "QtShell.h"
#include "QtTimerHost.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

using testing_support::GameTest;

namespace {

class ViewTest : public GameTest {
protected:
    ViewTest() : window(form1.form()) { }
    form::qt::FormWindow window;
};

} // namespace

TEST_F(ViewTest, WindowTitleClientSizeAndMenus)
{
    window.showCentred();
    EXPECT_EQ(window.windowTitle(), "Ombura");
    EXPECT_EQ(window.view()->size(), QSize(511, 269));
    EXPECT_NE(window.windowType(), Qt::Tool);

    const QList<QAction*> menus = window.menuBar()->actions();
    ASSERT_EQ(menus.size(), 2);
    EXPECT_EQ(menus[0]->text(), "ゲーム");
    EXPECT_EQ(menus[1]->text(), "あとがき");
    QStringList entries;
    for (QAction* a : menus[0]->menu()->actions())
        entries << (a->isSeparator() ? QString("-") : a->text());
    EXPECT_EQ(entries, (QStringList{"開始", "中止", "-", "説明", "-", "終了"}));
    for (QAction* a : window.findChildren<QAction*>())
        EXPECT_TRUE(a->shortcut().isEmpty()) << a->text().toStdString();
    // The explanation entry is greyed from start-up on.
    EXPECT_FALSE(window.action("mnuSethu")->isEnabled());
    EXPECT_TRUE(window.action("mnuStart")->isEnabled());
}

TEST_F(ViewTest, MenuEntriesRunTheGameAndLabelsFitTheirCaptions)
{
    window.show();
    window.action("mnuStart")->trigger();
    EXPECT_TRUE(timer("Timer3").enabled());
    const int before = el("Label9").bounds().width;
    for (int i = 0; i < 12; ++i) {
        pressFigure();
        clock.advance(700);
    }
    // The score grows to the right from a fixed left edge.
    EXPECT_EQ(el("Label9").caption(), "12");
    EXPECT_GT(el("Label9").bounds().width, before);
    EXPECT_EQ(el("Label9").bounds().left, 6600);
    window.action("mnuStop")->trigger();
    EXPECT_FALSE(timer("Timer3").enabled());
}

TEST_F(ViewTest, DisabledFormDisablesItsWholeWindow)
{
    window.show();
    form().setEnabled(false);
    EXPECT_FALSE(window.isEnabled());
    EXPECT_FALSE(window.menuBar()->isEnabled());
    form().setEnabled(true);
    EXPECT_TRUE(window.isEnabled());
}

TEST(QtShellExit, NothingTicksAfterTheProgramIsEnded)
{
    // A timer that falls due in the same round of events as Exit must not run its handler: the
    // event loop only ends after that round.
    form::qt::QtTimerHost host;
    auto shell = std::make_unique<form::qt::QtShell>();
    const form::FormLayout layout{
        "F", "", {}, form::FrameStyle::Sizable, form::SystemColor::ButtonFace, {}, {{"T", 1, true}}};
    form::Form form(layout, &host);
    int ticks = 0;
    int ticksAtExit = -1;
    form.on("T", form::Event::Timer, [&] { ++ticks; });
    QMetaObject::invokeMethod(
        qApp,
        [&] {
            ticksAtExit = ticks;
            shell->endProgram();
        },
        Qt::QueuedConnection);
    std::this_thread::sleep_for(std::chrono::milliseconds(20)); // T is due before the loop starts
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_EQ(ticksAtExit, 0);
    EXPECT_EQ(ticks, ticksAtExit);
    // The shell going away lets events through again, for the tests that follow.
    shell.reset();
    QApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    QApplication::processEvents();
    EXPECT_GT(ticks, 0);
}

TEST_F(ViewTest, F10AndAltLightTheFirstMenuTitleAndDownOrReturnOpensIt)
{
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QMenuBar* bar = window.menuBar();
    QMenu* game = bar->actions().first()->menu();
    const struct {
        Qt::Key light;
        Qt::Key open;
        const char* name;
    } rows[] = {{Qt::Key_F10, Qt::Key_Down, "F10, Down"},
                {Qt::Key_F10, Qt::Key_Return, "F10, Return"},
                {Qt::Key_Alt, Qt::Key_Down, "Alt, Down"},
                {Qt::Key_Alt, Qt::Key_Return, "Alt, Return"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &window, row.light);
        EXPECT_EQ(bar->activeAction(), bar->actions().first());
        EXPECT_FALSE(game->isVisible()) << "only the title lights up";
        const QRect title = bar->actionGeometry(bar->actions().first());
        const QImage drawn = bar->grab().toImage();
        EXPECT_EQ(drawn.pixelColor(title.left() + 3, title.center().y()), bar->palette().color(QPalette::Highlight));
        QTest::keyClick(bar, row.open);
        EXPECT_TRUE(game->isVisible());
        EXPECT_EQ(game->activeAction(), window.action("mnuStart"));
        // Return on the first entry starts a game.
        QTest::keyClick(game, Qt::Key_Return);
        EXPECT_FALSE(game->isVisible());
        EXPECT_TRUE(timer("Timer3").enabled());
        stop();
    }
}

TEST(ProgramIcon, CarriesEverySizeTheProjectShips)
{
    QList<QSize> shipped;
    for (const QString& dir : QDir(OMBURA_ICON_DIR).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        if (const QStringList n = dir.split('x'); n.size() == 2 && n[0] == n[1] && n[0].toInt() > 0)
            shipped << QSize(n[0].toInt(), n[0].toInt());
    QList<QSize> carried = form::qt::programIcon().availableSizes();
    const auto bySide = [](const QSize& a, const QSize& b) { return a.width() < b.width(); };
    std::sort(shipped.begin(), shipped.end(), bySide);
    std::sort(carried.begin(), carried.end(), bySide);
    EXPECT_EQ(carried, shipped);
    EXPECT_GE(shipped.size(), 8);
}

// A change repaints only where it shows. What is on the screen after a game's worth of changes
// (pictures swapped, captions grown, intruders come and gone) is still what a whole repaint draws.
TEST_F(ViewTest, RepaintingOnlyWhatChangedLeavesNothingStale)
{
    window.showCentred();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    form::qt::FormView* view = window.view();
    const QPoint at = view->mapTo(&window, QPoint(0, 0));
    const auto onScreen = [&] {
        QApplication::processEvents();
        return QGuiApplication::primaryScreen()
            ->grabWindow(window.winId(), at.x(), at.y(), view->width(), view->height())
            .toImage()
            .convertToFormat(QImage::Format_RGB32);
    };
    const auto wholeRepaint = [&] { return view->grab().toImage().convertToFormat(QImage::Format_RGB32); };
    EXPECT_EQ(onScreen(), wholeRepaint());
    window.action("mnuStart")->trigger();
    for (int step = 0; step < 120; ++step) {
        if (step % 4 != 3)
            pressFigure();
        clock.advance(step % 10 == 9 ? 2500 : 170);
        ASSERT_EQ(onScreen(), wholeRepaint()) << "after step " << step;
    }
    window.action("mnuStop")->trigger();
    EXPECT_EQ(onScreen(), wholeRepaint());
}
