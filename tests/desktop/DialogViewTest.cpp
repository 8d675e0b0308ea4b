// SPDX-License-Identifier: GPL-3.0-or-later

#include "Announcer.h"
#include "Fakes.h"
#include "Fonts.h"
#include "Form1.h"
#include "FormAccessibility.h"
#include "FormView.h"
#include "FormWindow.h"
#include "Layouts.h"
#include "Look.h"
#include "ManualClock.h"
#include "QtShell.h"
#include "StockAccessibility.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

#include <cstring>

namespace {

using form::qt::FormWindow;

// Every accessibility event, as the name of what it was about and its type.
struct Heard {
    QAccessible::Event type;
    QString description;
    QString name;
};
std::vector<Heard> heard;

void listen(QAccessibleEvent& event)
{
    QAccessibleInterface* iface = event.accessibleInterface();
    if (iface)
        heard.push_back({event.type(), iface->text(QAccessible::Description), iface->text(QAccessible::Name)});
}

QAccessibleInterface* findByDescription(QAccessibleInterface* root, const QString& description)
{
    if (!root)
        return nullptr;
    if (root->text(QAccessible::Description) == description)
        return root;
    for (int i = 0; i < root->childCount(); ++i)
        if (QAccessibleInterface* found = findByDescription(root->child(i), description))
            return found;
    return nullptr;
}

// Name, role and description of each node under `root`, depth first, one line each.
void walk(QAccessibleInterface* root, QStringList& out, int depth = 0)
{
    for (int i = 0; i < root->childCount(); ++i) {
        QAccessibleInterface* c = root->child(i);
        if (!c)
            continue;
        out << QString(depth, ' ') + c->text(QAccessible::Name) + " [" + c->text(QAccessible::Description) + "] " +
                   QString::number(c->role());
        // Each child knows its parent: a reader walking up must land where it came from.
        EXPECT_EQ(c->parent(), root) << c->text(QAccessible::Name).toStdString();
        EXPECT_EQ(root->indexOfChild(c), i);
        walk(c, out, depth + 1);
    }
}

class DialogViewTest : public ::testing::Test {
protected:
    DialogViewTest()
    {
        shell.registerWindow(form1.form(), &window);
        form1.Form_Load();
        window.showCentred();
        heard.clear();
    }
    ~DialogViewTest() override
    {
        if (form1.form2())
            form1.form2()->click("Command1");
        flush();
    }

    FormWindow* dialog() { return form1.form2() ? shell.windowOf(*form1.form2()) : nullptr; }
    void openDialog() { window.action("mnuAtogaki")->trigger(); }
    QPushButton* ok() { return dialog() ? dialog()->view()->button("Command1") : nullptr; }
    static void flush()
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
    void pressFigure()
    {
        form1.form().press({215 * 15 + 7, 160 * 15 + 7}, form::MouseButton::Left);
        form1.form().release({215 * 15 + 7, 160 * 15 + 7}, form::MouseButton::Left);
    }
    QAccessibleInterface* mainView() { return QAccessible::queryAccessibleInterface(window.view()); }

    form::ManualClock clock;
    testing_support::RecordingPlatform platform;
    sound::Multimedia32 multimedia{platform};
    form::qt::QtShell shell;
    std::uint64_t timeOfDay = 1;
    game::Form1 form1{clock, multimedia, shell, [this] { return timeOfDay; }};
    FormWindow window{form1.form()};
};

} // namespace

TEST_F(DialogViewTest, DialogIsAFixedToolWindowCentredWithoutOwner)
{
    openDialog();
    FormWindow* d = dialog();
    ASSERT_NE(d, nullptr);
    EXPECT_TRUE(d->isVisible());
    EXPECT_EQ(d->windowTitle(), "あとがき・・・？");
    EXPECT_EQ(d->view()->size(), QSize(312, 213));
    EXPECT_EQ(d->minimumSize(), d->maximumSize());
    EXPECT_EQ(d->size(), QSize(312, 213));
    EXPECT_EQ(d->parentWidget(), nullptr);
    EXPECT_EQ(d->findChild<QMenuBar*>(), nullptr);
    QTest::keyClick(ok(), Qt::Key_F10); // the main window's key for its menus conjures none here
    EXPECT_EQ(d->findChild<QMenuBar*>(), nullptr);

    const Qt::WindowFlags flags = d->windowFlags();
    EXPECT_EQ(d->windowType(), Qt::Tool);
    EXPECT_TRUE(flags.testFlag(Qt::CustomizeWindowHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowTitleHint));
    for (Qt::WindowType hint : {Qt::WindowSystemMenuHint, Qt::WindowCloseButtonHint, Qt::WindowMinimizeButtonHint,
                                Qt::WindowMaximizeButtonHint, Qt::WindowContextHelpButtonHint})
        EXPECT_FALSE(flags.testFlag(hint)) << hint;

    // Centred as far as the frame is known before the first show: a margin or two at most.
    const QPoint offset = d->geometry().center() - d->screen()->availableGeometry().center();
    EXPECT_LE(std::abs(offset.x()), 4) << offset.x() << "," << offset.y();
    EXPECT_LE(std::abs(offset.y()), 4) << offset.x() << "," << offset.y();

    // Form1 takes no input meanwhile: its whole window, the menu bar included, is disabled.
    EXPECT_FALSE(window.isEnabled());
    EXPECT_FALSE(window.menuBar()->isEnabled());
    EXPECT_FALSE(window.action("mnuAtogaki")->isEnabled() && window.menuBar()->isEnabled());
}

TEST_F(DialogViewTest, OkHoldsTheFocusAndEnterOrSpacePressesIt)
{
    const struct {
        Qt::Key key;
        const char* name;
    } keys[] = {{Qt::Key_Return, "Return"}, {Qt::Key_Enter, "Enter"}, {Qt::Key_Space, "Space"}};
    for (const auto& k : keys) {
        SCOPED_TRACE(k.name);
        openDialog();
        ASSERT_NE(ok(), nullptr);
        EXPECT_EQ(dialog()->focusWidget(), ok());
        EXPECT_EQ(ok()->focusPolicy() & Qt::TabFocus, Qt::TabFocus);
        QPointer<FormWindow> was = dialog();
        QTest::keyClick(dialog()->focusWidget(), k.key);
        EXPECT_EQ(form1.form2(), nullptr);
        EXPECT_TRUE(window.isEnabled());
        flush();
        EXPECT_TRUE(was.isNull()) << "the dialog's window is deleted once it is discarded";
    }
}

TEST_F(DialogViewTest, CloseRequestsAreTurnedDownWhileTheDialogIsOpen)
{
    openDialog();
    ASSERT_NE(dialog(), nullptr);
    // The window manager's close (Alt+F4 and the like) must not leave Form1 disabled for good,
    // nor end the program behind an open dialog.
    EXPECT_FALSE(dialog()->close());
    EXPECT_TRUE(dialog()->isVisible());
    EXPECT_FALSE(window.close());
    EXPECT_TRUE(window.isVisible());
    // Nor may it vanish into a minimised state, off the taskbar, where no one could reach its OK.
    dialog()->showMinimized();
    QCoreApplication::processEvents();
    EXPECT_FALSE(dialog()->isMinimized());
    ok()->click();
    EXPECT_TRUE(window.isEnabled());
    flush();
}

TEST_F(DialogViewTest, CaptionsFitWithoutRunningIntoEachOther)
{
    // Measured in the fonts that are really drawn, as automatic sizing leaves them.
    openDialog();
    const form::Form& form = *form1.form2();
    for (const form::Element& a : form.elements())
        for (const form::Element& b : form.elements()) {
            if (&a == &b)
                continue;
            const QRect ra = form::qt::toPixels(a.bounds()), rb = form::qt::toPixels(b.bounds());
            EXPECT_FALSE(ra.intersects(rb)) << a.name() << " / " << b.name();
        }
    const QRect client(QPoint(0, 0), dialog()->view()->size());
    for (const form::Element& e : form.elements())
        EXPECT_TRUE(client.contains(form::qt::toPixels(e.bounds()))) << e.name();
}

TEST_F(DialogViewTest, MainWindowReadsAsCountdownAndScorePanel)
{
    QAccessibleInterface* view = mainView();
    ASSERT_NE(view, nullptr);
    QStringList tree;
    walk(view, tree);
    const QStringList expected{
        QString("娘逃亡まであと 10 秒 [Shape1] %1").arg(QAccessible::Grouping),
        QString(" 娘逃亡まであと [Label5] %1").arg(QAccessible::StaticText),
        QString(" 10 [Label7] %1").arg(QAccessible::StaticText),
        QString(" 秒 [Label6] %1").arg(QAccessible::StaticText),
        QString("現在娘さん 0 くるくる [Shape2] %1").arg(QAccessible::Grouping),
        QString(" 現在娘さん [Label8] %1").arg(QAccessible::StaticText),
        QString(" 0 [Label9] %1").arg(QAccessible::StaticText),
        QString(" くるくる [Label10] %1").arg(QAccessible::StaticText),
    };
    // Pictures, frames and the hidden labels and buttons stay out of the reader's way.
    EXPECT_EQ(tree, expected);
    EXPECT_EQ(view->text(QAccessible::Name), "娘逃亡まであと 10 秒 現在娘さん 0 くるくる");
    EXPECT_EQ(view->parent()->object(), &window);

    QAccessibleInterface* score = findByDescription(view, "Label9");
    ASSERT_NE(score, nullptr);
    EXPECT_EQ(score->rect().topLeft(), window.view()->mapToGlobal(QPoint(440, 32)));
    EXPECT_FALSE(score->state().invisible);
    EXPECT_TRUE(score->state().readOnly);
    EXPECT_EQ(view->childAt(score->rect().center().x(), score->rect().center().y()), findByDescription(view, "Shape2"));
}

TEST_F(DialogViewTest, ReaderHearsScoreAndCountdownChange)
{
    // Offscreen there is no bridge to AT-SPI, so the notices are caught on their way to it.
    form::qt::setAccessibleEventSink(listen);
    QAccessibleInterface* view = mainView();
    ASSERT_NE(view, nullptr);

    form1.Command2_Click(); // no intruders, so every press scores
    window.action("mnuStart")->trigger();
    for (int i = 0; i < 12; ++i) {
        pressFigure();
        clock.advance(700);
    }
    clock.advance(300 + 2000);
    EXPECT_EQ(findByDescription(view, "Shape2")->text(QAccessible::Name), "現在娘さん 12 くるくる");
    EXPECT_EQ(findByDescription(view, "Shape1")->text(QAccessible::Name), "娘逃亡まであと 8 秒");
    EXPECT_EQ(findByDescription(view, "Label7")->text(QAccessible::Name), "8");

    const auto count = [](QAccessible::Event type, const QString& description) {
        return std::count_if(heard.begin(), heard.end(),
                             [&](const Heard& h) { return h.type == type && h.description == description; });
    };
    // One rename per new score, and the panel it sits in with it.
    EXPECT_EQ(count(QAccessible::NameChanged, "Label9"), 12);
    EXPECT_EQ(count(QAccessible::NameChanged, "Shape2"), 12);
    EXPECT_GE(count(QAccessible::NameChanged, "Label7"), 2);
    const auto last = std::find_if(heard.rbegin(), heard.rend(), [](const Heard& h) {
        return h.type == QAccessible::NameChanged && h.description == "Shape2";
    });
    ASSERT_NE(last, heard.rend());
    EXPECT_EQ(last->name, "現在娘さん 12 くるくる");
    // Nothing about elements a reader never meets.
    for (const Heard& h : heard)
        EXPECT_FALSE(h.description.startsWith("Image") || h.description == "Label1" || h.description == "Label2")
            << h.description.toStdString();

    window.action("mnuStop")->trigger();
    form::qt::setAccessibleEventSink({});
}

TEST_F(DialogViewTest, DialogReadsItsTextsThenItsButton)
{
    openDialog();
    QAccessibleInterface* view = QAccessible::queryAccessibleInterface(dialog()->view());
    ASSERT_NE(view, nullptr);
    QStringList names, descriptions;
    for (int i = 0; i < view->childCount(); ++i) {
        names << view->child(i)->text(QAccessible::Name);
        descriptions << view->child(i)->text(QAccessible::Description);
    }
    const form::Form& form = *form1.form2();
    const auto caption = [&](const char* name) { return QString::fromStdString(form.element(name).caption()); };
    EXPECT_EQ(names, (QStringList{"Ombura", "Ver.1.0", caption("Label6"), caption("Label3"), caption("Label4"),
                                  caption("Label5"), "OK"}));
    EXPECT_EQ(descriptions.mid(0, 6), (QStringList{"Label1", "Label2", "Label6", "Label3", "Label4", "Label5"}));
    QAccessibleInterface* button = view->child(6);
    EXPECT_EQ(button->role(), QAccessible::PushButton);
    EXPECT_EQ(button->object(), ok());
    EXPECT_EQ(QAccessible::queryAccessibleInterface(dialog())->text(QAccessible::Name), "あとがき・・・？");
}

TEST_F(DialogViewTest, MenusAreReadByTheirCaptions)
{
    QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(window.menuBar());
    ASSERT_NE(bar, nullptr);
    ASSERT_EQ(bar->childCount(), 2);
    EXPECT_EQ(bar->child(0)->text(QAccessible::Name), "ゲーム");
    EXPECT_EQ(bar->child(1)->text(QAccessible::Name), "あとがき");
    QStringList entries;
    QAccessibleInterface* game = bar->child(0)->childCount() ? bar->child(0)->child(0) : nullptr;
    ASSERT_NE(game, nullptr);
    for (int i = 0; i < game->childCount(); ++i)
        entries << (game->child(i)->role() == QAccessible::Separator ? "-" : game->child(i)->text(QAccessible::Name));
    EXPECT_EQ(entries, (QStringList{"開始", "中止", "-", "説明", "-", "終了"}));
}

TEST_F(DialogViewTest, GameOverBoxComesUpOverTheOpenDialog)
{
    window.action("mnuStart")->trigger();
    openDialog();
    ASSERT_NE(dialog(), nullptr);
    QString title;
    bool mainDisabled = false;
    // Closes the game-over box once it is up, as the player would.
    QTimer closer;
    closer.setInterval(10);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            title = box->windowTitle();
            mainDisabled = !window.isEnabled();
            box->accept();
        }
    });
    closer.start();
    clock.advance(11'000);
    closer.stop();
    EXPECT_EQ(title, "GAME　OVER");
    EXPECT_TRUE(mainDisabled);
    EXPECT_FALSE(form1.form().timer("Timer3").enabled());
    ASSERT_NE(dialog(), nullptr);
    EXPECT_FALSE(window.isEnabled());
    ok()->click();
    EXPECT_TRUE(window.isEnabled());
}

TEST_F(DialogViewTest, GameOverBoxIsWideEnoughForItsTitleAndCarriesNoIcons)
{
    window.action("mnuStart")->trigger();
    struct Seen {
        QString title, text;
        int width = 0;
        int iconsOnButtons = 0;
        bool okIsDefault = false;
        Qt::WindowModality modality = Qt::NonModal;
        QColor background;
    } seen;
    QTimer closer;
    closer.setInterval(10);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.width = box->width();
        seen.modality = box->windowModality();
        seen.background = box->palette().color(QPalette::Window);
        for (QPushButton* b : box->findChildren<QPushButton*>())
            seen.iconsOnButtons += !b->icon().isNull();
        seen.okIsDefault = box->defaultButton() == box->button(QMessageBox::Ok);
        // Enter closes it, as the player would.
        QTest::keyClick(box, Qt::Key_Return);
    });
    closer.start();
    clock.advance(11'000);
    closer.stop();
    EXPECT_EQ(seen.title, "GAME　OVER");
    EXPECT_EQ(seen.text, "娘さん逃亡…。");
    EXPECT_GE(seen.width, form::qt::widthForTitle(seen.title));
    EXPECT_GT(form::qt::widthForTitle(seen.title), 131); // what the frame cut to "G…"
    EXPECT_EQ(seen.iconsOnButtons, 0);
    EXPECT_TRUE(seen.okIsDefault);
    EXPECT_EQ(seen.modality, Qt::ApplicationModal);
    EXPECT_EQ(seen.background, QColor(0xD4, 0xD0, 0xC8));
    EXPECT_FALSE(form1.form().timer("Timer3").enabled()) << "the box was closed and the game stopped";
}

TEST_F(DialogViewTest, MenuBarBoxAndDialogShareTheWindowsGrey)
{
    const QColor grey(0xD4, 0xD0, 0xC8);
    EXPECT_EQ(window.menuBar()->palette().color(QPalette::Window), grey);
    EXPECT_EQ(window.menuBar()->grab().toImage().pixelColor(window.menuBar()->width() - 2, 2), grey);
    EXPECT_EQ(window.view()->grab().toImage().pixelColor(510, 268), grey);
    openDialog();
    EXPECT_EQ(dialog()->view()->grab().toImage().pixelColor(300, 5), grey);
    EXPECT_EQ(dialog()->palette().color(QPalette::Window), grey);
    EXPECT_TRUE(ok()->icon().isNull());
}

TEST_F(DialogViewTest, ReaderMeetsAShowingIntruderAndThePinwheelButNoStores)
{
    form::qt::setAccessibleEventSink(listen);
    QAccessibleInterface* view = mainView();
    ASSERT_NE(view, nullptr);
    window.action("mnuStart")->trigger();
    // An intruder comes: the next roll of Timer2 lands in the back wall's range.
    for (std::uint64_t t = timeOfDay + 1;; ++t)
        if (game::rollFromTimeOfDay(t) == 5) {
            timeOfDay = t;
            break;
        }
    clock.advance(500);
    ASSERT_TRUE(form1.form().element("Image2").visible());
    QAccessibleInterface* intruder = findByDescription(view, "Image2");
    ASSERT_NE(intruder, nullptr);
    EXPECT_EQ(intruder->role(), QAccessible::Graphic);
    EXPECT_EQ(intruder->text(QAccessible::Name), "侵入者（奥の壁）");
    EXPECT_EQ(intruder->parent(), view);
    EXPECT_EQ(intruder->rect(), QRect(window.view()->mapToGlobal(QPoint(128, 16)), QSize(32, 32)));
    EXPECT_TRUE(view->text(QAccessible::Name).endsWith("侵入者（奥の壁）"));

    // A press now is a catch: the pinwheel lands on the figure and is read out too.
    pressFigure();
    ASSERT_NE(findByDescription(view, "Image15"), nullptr);
    EXPECT_EQ(findByDescription(view, "Image15")->text(QAccessible::Name), "投げられた風車");

    const auto heardOf = [](QAccessible::Event type, const QString& description) {
        return std::any_of(heard.begin(), heard.end(),
                           [&](const Heard& h) { return h.type == type && h.description == description; });
    };
    EXPECT_TRUE(heardOf(QAccessible::ObjectShow, "Image2"));
    EXPECT_TRUE(heardOf(QAccessible::ObjectShow, "Image15"));
    EXPECT_TRUE(std::any_of(heard.begin(), heard.end(), [](const Heard& h) {
        return h.type == QAccessible::NameChanged && h.name.contains("投げられた風車");
    })) << "the pane's one-line reading announces the pinwheel";

    // Three seconds on, the pinwheel goes, and is told to have gone.
    form1.Command2_Click();
    clock.advance(3000);
    EXPECT_EQ(findByDescription(view, "Image15"), nullptr);
    EXPECT_TRUE(heardOf(QAccessible::ObjectHide, "Image15"));
    // The picture stores and working frames never reach the tree, whatever they hold.
    QStringList tree;
    walk(view, tree);
    for (const QString& line : tree) {
        for (const char* store : {"[Image5]", "[Image9]", "[Image10]", "[Image16]", "[Image20]", "[Image24]"})
            EXPECT_FALSE(line.contains(store)) << line.toStdString();
    }
    window.action("mnuStop")->trigger();
    form::qt::setAccessibleEventSink({});
}

TEST_F(DialogViewTest, ExtentsAreInTheDisplaysPixelsAtAnyScaleFactor)
{
    // Registered a second time with QT_SCALE_FACTOR=2: Qt's pixels are then twice the display's.
    const qreal factor = window.windowHandle()->devicePixelRatio();
    if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR")) {
        EXPECT_EQ(factor, qEnvironmentVariable("QT_SCALE_FACTOR").toDouble());
    }
    const QPoint origin = window.screen()->geometry().topLeft();
    const auto native = [&](QPoint logical, QSize size) {
        return QRect(origin + (logical - origin) * factor, size * factor);
    };
    QAccessibleInterface* view = mainView();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->rect(), native(window.view()->mapToGlobal(QPoint(0, 0)), QSize(511, 269)));
    EXPECT_EQ(findByDescription(view, "Label9")->rect().topLeft(),
              native(window.view()->mapToGlobal(QPoint(440, 32)), {}).topLeft());
    EXPECT_EQ(findByDescription(view, "Shape2")->rect(),
              native(window.view()->mapToGlobal(QPoint(408, 0)), QSize(89, 105)));
    QAccessibleInterface* frame = QAccessible::queryAccessibleInterface(&window);
    EXPECT_EQ(frame->rect(), native(window.mapToGlobal(QPoint(0, 0)), window.size()));
    EXPECT_EQ(frame->text(QAccessible::Name), "Ombura");

    // Qt's own widgets too: the menu title, an entry of its open menu, and the dialog's OK.
    const auto placed = [&](const QWidget* w, const QRect& r) { return native(w->mapToGlobal(r.topLeft()), r.size()); };
    QMenuBar* bar = window.menuBar();
    QAction* game = bar->actions().at(0);
    QAccessibleInterface* title = QAccessible::queryAccessibleInterface(bar)->child(0);
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->text(QAccessible::Name), "ゲーム");
    EXPECT_EQ(title->rect(), placed(bar, bar->actionGeometry(game)));
    EXPECT_EQ(QAccessible::queryAccessibleInterface(bar)->rect(), placed(bar, bar->rect()));
    bar->setActiveAction(game);
    QMenu* menu = game->menu();
    ASSERT_TRUE(menu->isVisible());
    QAccessibleInterface* start = title->child(0)->child(0);
    ASSERT_NE(start, nullptr);
    EXPECT_EQ(start->text(QAccessible::Name), "開始");
    EXPECT_EQ(start->rect(), placed(menu, menu->actionGeometry(menu->actions().at(0))));
    // Where the reader says the entry is, it finds the entry again.
    EXPECT_EQ(title->child(0)->childAt(start->rect().center().x(), start->rect().center().y()), start);
    menu->hide();
    openDialog();
    ASSERT_NE(ok(), nullptr);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(ok())->rect(), placed(ok(), ok()->rect()));
}

namespace {

// A game's windows of its own, for holding one built under Qt's interfaces beside one under ours.
struct Scene {
    Scene()
    {
        shell.registerWindow(form1.form(), &window);
        form1.Form_Load();
        window.showCentred();
    }
    form::ManualClock clock;
    testing_support::RecordingPlatform platform;
    sound::Multimedia32 multimedia{platform};
    form::qt::QtShell shell;
    game::Form1 form1{clock, multimedia, shell, [] { return std::uint64_t{1}; }};
    FormWindow window{form1.form()};
};

// What a reader learns of each node under `root`, depth first: one line for all but its place,
// which goes beside it, with whether Qt's stock interfaces place it (the form's own always did).
struct Node {
    QString said;
    QRect place;
    bool stock = false;
};
void describe(QAccessibleInterface* root, std::vector<Node>& out, int depth = 0)
{
    if (!root)
        return;
    QAccessible::State state = root->state();
    state.focused = state.active = false; // whichever window came last has the focus
    quint64 bits = 0;
    static_assert(sizeof(state) == sizeof(bits));
    std::memcpy(&bits, &state, sizeof bits);
    QAccessibleActionInterface* actions = root->actionInterface();
    QString offers;
    for (QAccessible::InterfaceType t :
         {QAccessible::TextInterface, QAccessible::EditableTextInterface, QAccessible::ValueInterface,
          QAccessible::ActionInterface, QAccessible::ImageInterface, QAccessible::TableInterface})
        offers += root->interface_cast(t) ? '+' : '-';
    out.push_back(
        {QString("%1%2 [%3] role %4 state %5 actions %6 keys %7 children %8 offers %9")
             .arg(QString(depth, ' '), root->text(QAccessible::Name), root->text(QAccessible::Description))
             .arg(root->role())
             .arg(bits, 0, 16)
             .arg(actions ? actions->actionNames().join(',') : QString(), root->text(QAccessible::Accelerator))
             .arg(root->childCount())
             .arg(offers),
         root->rect(),
         root->object() && !qobject_cast<FormWindow*>(root->object()) &&
             !qobject_cast<form::qt::FormView*>(root->object())});
    for (int i = 0; i < root->childCount(); ++i)
        describe(root->child(i), out, depth + 1);
}

// The main window with its ゲーム menu open, the dialog, and the game-over box, as a reader finds
// them.
std::vector<Node> readEverything(Scene& scene)
{
    std::vector<Node> out;
    QMenuBar* bar = scene.window.menuBar();
    bar->setActiveAction(bar->actions().at(0));
    QCoreApplication::processEvents();
    describe(QAccessible::queryAccessibleInterface(&scene.window), out);
    bar->actions().at(0)->menu()->hide();
    scene.window.action("mnuAtogaki")->trigger();
    FormWindow* dialog = scene.shell.windowOf(*scene.form1.form2());
    describe(QAccessible::queryAccessibleInterface(dialog), out);
    dialog->view()->button("Command1")->click();
    QCoreApplication::processEvents();

    scene.window.action("mnuStart")->trigger();
    QTimer reader;
    reader.setInterval(10);
    QObject::connect(&reader, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        describe(QAccessible::queryAccessibleInterface(box), out);
        box->accept();
    });
    reader.start();
    scene.clock.advance(11'000);
    return out;
}

} // namespace

TEST_F(DialogViewTest, QtsOwnWidgetsReadAsTheyWouldButLieInTheDisplaysPixels)
{
    // Qt's own interfaces serve the widgets of the first scene, ours those of the second.
    form::qt::setStockAccessibility(false);
    std::vector<Node> qts;
    {
        Scene scene;
        qts = readEverything(scene);
    }
    form::qt::setStockAccessibility(true);
    Scene scene;
    const std::vector<Node> ours = readEverything(scene);

    const qreal factor = scene.window.windowHandle()->devicePixelRatio();
    const QPoint origin = scene.window.screen()->geometry().topLeft();
    ASSERT_EQ(ours.size(), qts.size());
    ASSERT_GT(ours.size(), 20U) << "the windows, the menus, the dialog and the box";
    bool sawTheBoxsOk = false;
    for (std::size_t i = 0; i < ours.size(); ++i) {
        EXPECT_EQ(ours[i].said.toStdString(), qts[i].said.toStdString());
        const QRect& q = qts[i].place;
        const bool scaled = qts[i].stock && !q.isNull();
        const QRect display = scaled ? QRect(origin + (q.topLeft() - origin) * factor, q.size() * factor) : q;
        EXPECT_EQ(ours[i].place, display) << ours[i].said.toStdString();
        sawTheBoxsOk |= ours[i].said.contains("OK [] role 43") && !display.isEmpty();
    }
    EXPECT_TRUE(sawTheBoxsOk);
}

TEST_F(DialogViewTest, AReaderOpensMenusAndPressesEntriesAndButtonsThroughItsActions)
{
    QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(window.menuBar());
    QAccessibleInterface* title = bar->child(1);
    ASSERT_NE(title, nullptr);
    ASSERT_EQ(title->text(QAccessible::Name), "あとがき");
    QMenu* menu = window.menuBar()->actions().at(1)->menu();
    title->actionInterface()->doAction(QAccessibleActionInterface::showMenuAction());
    EXPECT_TRUE(menu->isVisible());
    title->actionInterface()->doAction(QAccessibleActionInterface::showMenuAction());
    EXPECT_FALSE(menu->isVisible()) << "a second time closes it";

    QAccessibleInterface* entry = title->child(0)->child(0);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->actionInterface()->actionNames(), QStringList{QAccessibleActionInterface::pressAction()});
    entry->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    ASSERT_NE(dialog(), nullptr);

    QAccessibleInterface* button = QAccessible::queryAccessibleInterface(ok());
    EXPECT_EQ(button->role(), QAccessible::Button);
    button->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_TRUE(QTest::qWaitFor([&] { return dialog() == nullptr; }, 2000)) << "OK pressed by the reader closes it";
}

TEST(StockAccessibility, CaptionsWithMnemonicsReadAsQtReadsThem)
{
    form::qt::installFormAccessibility();
    const QStringList captions{"&Open", "R&&D", "Save &As", "end&", "&&&x", "ゲーム(&G)"};
    // Name and keys of a button, a menu entry and a label for a buddy, for each caption.
    const auto read = [&](bool ours) {
        form::qt::setStockAccessibility(ours);
        QStringList out;
        QWidget host;
        QMenu menu(&host);
        QPushButton buddy(&host);
        for (const QString& caption : captions) {
            auto* button = new QPushButton(caption, &host);
            auto* label = new QLabel(caption, &host);
            label->setBuddy(&buddy);
            QAction* entry = menu.addAction(caption);
            QAccessibleInterface* item =
                QAccessible::queryAccessibleInterface(&menu)->child(static_cast<int>(menu.actions().indexOf(entry)));
            for (QAccessibleInterface* i :
                 {QAccessible::queryAccessibleInterface(button), item, QAccessible::queryAccessibleInterface(label)})
                out << caption + " -> " + i->text(QAccessible::Name) + " / " + i->text(QAccessible::Accelerator);
        }
        form::qt::setStockAccessibility(true);
        return out;
    };
    const QStringList qts = read(false);
    const QStringList ours = read(true);
    EXPECT_EQ(ours.join('\n').toStdString(), qts.join('\n').toStdString());
}

TEST_F(DialogViewTest, DialogAndBoxBelongToTheMainWindowAndStayWithinReach)
{
    // Both name the main window as their parent, so that the desktop keeps them over it, and a
    // minimised one comes back by itself: with the main window disabled, nothing else could
    // bring it back.
    window.action("mnuStart")->trigger();
    openDialog();
    ASSERT_NE(dialog(), nullptr);
    ASSERT_NE(dialog()->windowHandle(), nullptr);
    EXPECT_EQ(dialog()->windowHandle()->transientParent(), window.windowHandle());
    EXPECT_TRUE(dialog()->isEnabled()) << "a disabled main window must not disable its dialog";
    dialog()->windowHandle()->setWindowState(Qt::WindowMinimized);
    flush();
    EXPECT_FALSE(dialog()->isMinimized());
    EXPECT_TRUE(dialog()->isVisible());
    ok()->click();

    struct {
        QWindow* parent = nullptr;
        bool waitedThroughRemap = false;
        bool cameBack = false;
        int ticks = 0;
    } seen;
    QTimer closer;
    closer.setInterval(10);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        if (++seen.ticks == 1) {
            seen.parent = box->windowHandle()->transientParent();
            // Mapping the box afresh, as it is on Wayland, must not end the wait.
            box->hide();
            box->show();
            box->windowHandle()->setWindowState(Qt::WindowMinimized);
            return;
        }
        seen.waitedThroughRemap = true;
        seen.cameBack = !box->isMinimized() && box->isVisible();
        box->accept();
    });
    closer.start();
    clock.advance(11'000);
    closer.stop();
    EXPECT_EQ(seen.parent, window.windowHandle());
    EXPECT_TRUE(seen.waitedThroughRemap);
    EXPECT_TRUE(seen.cameBack);
    EXPECT_FALSE(form1.form().timer("Timer3").enabled()) << "the game over ends once the box is answered";
}
