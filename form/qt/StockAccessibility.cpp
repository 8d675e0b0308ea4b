// SPDX-License-Identifier: GPL-3.0-or-later

#include "StockAccessibility.h"

#include "FormAccessibility.h"

#include <QAccessibleWidget>
#include <QAction>
#include <QDialog>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMovie>
#include <QPicture>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QTextDocument>

#include <atomic>

namespace form::qt {

namespace {

std::atomic<bool> enabled{true};

// A caption as it is read: "&Open" is "Open", and "&&" a single "&".
QString withoutMnemonic(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'&' && i + 1 < text.size())
            ++i;
        out += text[i];
    }
    return out;
}

// The key that a caption's mnemonic makes: "&Open" is Alt+O.
QString mnemonicKey(const QString& text)
{
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != u'&')
            continue;
        if (text[i + 1] != u'&')
            return QKeySequence(Qt::ALT).toString(QKeySequence::NativeText) + text[i + 1];
        ++i;
    }
    return {};
}

// A widget as Qt's own interface shows it, placed in the display's pixels.
class PlacedWidget : public QAccessibleWidget {
public:
    using QAccessibleWidget::QAccessibleWidget;
    QRect rect() const override { return widget()->isVisible() ? screenRect(widget(), widget()->rect()) : QRect(); }
};

class ButtonAccessible : public PlacedWidget {
public:
    explicit ButtonAccessible(QWidget* w) : PlacedWidget(w, QAccessible::Button)
    {
        // What a press sets going, for the relations a reader may follow.
        addControllingSignal(button()->isCheckable() ? QStringLiteral("toggled(bool)") : QStringLiteral("clicked()"));
    }

    QAccessible::Role role() const override
    {
        if (auto* push = qobject_cast<QPushButton*>(button()); push && push->menu())
            return QAccessible::ButtonMenu;
        if (button()->isCheckable())
            return button()->autoExclusive() ? QAccessible::RadioButton : QAccessible::CheckBox;
        return QAccessible::Button;
    }

    QString text(QAccessible::Text t) const override
    {
        QString s;
        if (t == QAccessible::Name) {
            s = widget()->accessibleName();
            if (s.isEmpty())
                s = withoutMnemonic(button()->text());
        } else if (t == QAccessible::Accelerator) {
            if (auto* push = qobject_cast<QPushButton*>(button()); push && push->isDefault())
                s = QKeySequence(Qt::Key_Enter).toString(QKeySequence::NativeText);
            if (s.isEmpty())
                s = mnemonicKey(button()->text());
        }
        return s.isEmpty() ? QAccessibleWidget::text(t) : s;
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = button()->isCheckable();
        s.checked = button()->isChecked();
        s.pressed = button()->isDown();
        if (auto* push = qobject_cast<QPushButton*>(button())) {
            s.defaultButton = push->isDefault();
            s.hasPopup = push->menu() != nullptr;
        }
        return s;
    }

    QStringList actionNames() const override
    {
        QStringList names;
        if (widget()->isEnabled()) {
            const QAccessible::Role r = role();
            if (r == QAccessible::ButtonMenu)
                names << showMenuAction();
            else if (r == QAccessible::RadioButton || button()->isCheckable())
                names << toggleAction();
            else
                names << pressAction();
        }
        return names + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& name) override
    {
        if (!widget()->isEnabled())
            return;
        auto* push = qobject_cast<QPushButton*>(button());
        if (name == pressAction() || name == showMenuAction()) {
            if (push && push->menu())
                push->showMenu();
            else
                button()->animateClick();
        } else if (name == toggleAction()) {
            button()->toggle();
        } else {
            QAccessibleWidget::doAction(name);
        }
    }

    QStringList keyBindingsForAction(const QString& name) const override
    {
        return name == pressAction() ? QStringList{button()->shortcut().toString()} : QStringList{};
    }

private:
    QAbstractButton* button() const { return static_cast<QAbstractButton*>(widget()); }
};

class LabelAccessible : public PlacedWidget, public QAccessibleImageInterface {
public:
    explicit LabelAccessible(QWidget* w) : PlacedWidget(w, QAccessible::StaticText) { }

    QAccessible::Role role() const override
    {
        if (!label()->pixmap().isNull() || !label()->picture().isNull())
            return QAccessible::Graphic;
        if (label()->movie())
            return QAccessible::Animation;
        return QAccessibleWidget::role();
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        return s;
    }

    QString text(QAccessible::Text t) const override
    {
        QString s;
        if (t == QAccessible::Name) {
            s = widget()->accessibleName();
            if (s.isEmpty()) {
                s = label()->text();
                const Qt::TextFormat format = label()->textFormat();
                if (format == Qt::RichText || (format == Qt::AutoText && Qt::mightBeRichText(s))) {
                    QTextDocument doc;
                    doc.setHtml(s);
                    s = doc.toPlainText();
                }
                if (label()->buddy())
                    s = withoutMnemonic(s);
            }
        }
        return s.isEmpty() ? QAccessibleWidget::text(t) : s;
    }

    QList<QPair<QAccessibleInterface*, QAccessible::Relation>> relations(QAccessible::Relation match) const override
    {
        auto out = QAccessibleWidget::relations(match);
        if (match & QAccessible::Labelled)
            if (QAccessibleInterface* buddy = QAccessible::queryAccessibleInterface(label()->buddy()))
                out.append({buddy, QAccessible::Labelled});
        return out;
    }

    void* interface_cast(QAccessible::InterfaceType t) override
    {
        if (t == QAccessible::ImageInterface)
            return static_cast<QAccessibleImageInterface*>(this);
        return QAccessibleWidget::interface_cast(t);
    }

    QString imageDescription() const override { return widget()->toolTip(); }
    QSize imageSize() const override { return label()->pixmap().size(); }
    QPoint imagePosition() const override
    {
        return label()->pixmap().isNull() ? QPoint() : screenRect(label(), label()->rect()).topLeft();
    }

private:
    QLabel* label() const { return static_cast<QLabel*>(widget()); }
};

QAccessibleInterface* menuItem(QWidget* owner, QAction* action);

// A widget whose children are its actions: the menu bar's titles, a menu's entries.
class ActionsAccessible : public PlacedWidget {
public:
    using PlacedWidget::PlacedWidget;
    int childCount() const override { return static_cast<int>(widget()->actions().size()); }
    QAccessibleInterface* child(int index) const override
    {
        return menuItem(widget(), widget()->actions().value(index));
    }
    // Which of the actions a menu entry stands for.
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        const QAccessible::Role r = child ? child->role() : QAccessible::NoRole;
        if (r != QAccessible::MenuItem && r != QAccessible::Separator)
            return -1;
        return static_cast<int>(widget()->actions().indexOf(qobject_cast<QAction*>(child->object())));
    }
};

class MenuAccessible : public ActionsAccessible {
public:
    explicit MenuAccessible(QWidget* w) : ActionsAccessible(w, QAccessible::PopupMenu) { }

    QString text(QAccessible::Text t) const override
    {
        const QString s = QAccessibleWidget::text(t);
        return s.isEmpty() && t == QAccessible::Name ? widget()->windowTitle() : s;
    }

    QAccessibleInterface* childAt(int x, int y) const override
    {
        // Separators are not something to point at.
        for (int i = 0; i < childCount(); ++i)
            if (QAccessibleInterface* c = child(i);
                c && c->role() != QAccessible::Separator && c->rect().contains(x, y))
                return c;
        return nullptr;
    }

    // The entry that opens the menu, in the menu bar or the menu that holds it.
    QAccessibleInterface* parent() const override
    {
        QAction* opener = static_cast<QMenu*>(widget())->menuAction();
        QList<QObject*> candidates{widget()->parentWidget()};
        candidates += opener->associatedObjects();
        for (QObject* o : candidates) {
            auto* w = qobject_cast<QWidget*>(o);
            if ((qobject_cast<QMenu*>(w) || qobject_cast<QMenuBar*>(w)) && w->actions().contains(opener))
                return menuItem(w, opener);
        }
        return QAccessibleWidget::parent();
    }
};

// An entry of a menu or a title of the menu bar. An action has no widget of its own: its place
// is the one its owner gives it.
class MenuItemAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    MenuItemAccessible(QWidget* owner, QAction* action) : owner_(owner), action_(action) { }

    bool isValid() const override { return owner_ && action_; }
    QObject* object() const override { return action_; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(owner_); }
    int childCount() const override { return action_->menu() ? 1 : 0; }
    QAccessibleInterface* child(int index) const override
    {
        return index == 0 && action_->menu() ? QAccessible::queryAccessibleInterface(action_->menu()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        return child && child->role() == QAccessible::PopupMenu && child->object() == action_->menu() ? 0 : -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override
    {
        QAccessibleInterface* c = child(0);
        return c && c->rect().contains(x, y) ? c : nullptr;
    }

    QRect rect() const override
    {
        if (auto* bar = qobject_cast<QMenuBar*>(owner_))
            return screenRect(bar, bar->actionGeometry(action_));
        if (auto* menu = qobject_cast<QMenu*>(owner_))
            return screenRect(menu, menu->actionGeometry(action_));
        return {};
    }

    QAccessible::Role role() const override
    {
        return action_->isSeparator() ? QAccessible::Separator : QAccessible::MenuItem;
    }

    QAccessible::State state() const override
    {
        QAccessible::State s;
        if (!isValid()) { // the cache lets go of it with the action; the owner can go first
            s.invisible = true;
            return s;
        }
        s.invisible = !owner_->testAttribute(Qt::WA_WState_Visible) || !action_->isVisible();
        if (auto* menu = qobject_cast<QMenu*>(owner_))
            s.focused = menu->activeAction() == action_;
        else if (auto* bar = qobject_cast<QMenuBar*>(owner_))
            s.focused = bar->activeAction() == action_;
        s.hotTracked = owner_->style()->styleHint(QStyle::SH_Menu_MouseTracking, nullptr, owner_) != 0;
        s.disabled = action_->isSeparator() || !action_->isEnabled();
        s.checked = action_->isChecked();
        s.checkable = action_->isCheckable();
        return s;
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name)
            return withoutMnemonic(action_->text());
        if (t == QAccessible::Accelerator)
            return action_->shortcut().isEmpty() ? mnemonicKey(action_->text()) : action_->shortcut().toString();
        return {};
    }
    void setText(QAccessible::Text, const QString&) override { }

    void* interface_cast(QAccessible::InterfaceType t) override
    {
        return t == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this) : nullptr;
    }

    QStringList actionNames() const override
    {
        if (!action_ || action_->isSeparator())
            return {};
        return {action_->menu() ? showMenuAction() : pressAction()};
    }

    void doAction(const QString& name) override
    {
        if (!isValid() || !action_->isEnabled())
            return;
        if (name == pressAction()) {
            action_->trigger();
        } else if (name == showMenuAction()) {
            // Shown, the menu closes; hidden, its owner opens it as a click on its title would.
            if (action_->menu() && action_->menu()->isVisible())
                action_->menu()->hide();
            else if (auto* bar = qobject_cast<QMenuBar*>(owner_))
                bar->setActiveAction(action_);
            else if (auto* menu = qobject_cast<QMenu*>(owner_))
                menu->setActiveAction(action_);
        }
    }

    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    QPointer<QWidget> owner_;
    QPointer<QAction> action_;
};

// An action is one entry wherever it is shown; the cache keeps it under the action, so the first
// owner to ask makes it, as with Qt's own.
QAccessibleInterface* menuItem(QWidget* owner, QAction* action)
{
    if (!action)
        return nullptr;
    if (QAccessibleInterface* known = QAccessible::queryAccessibleInterface(action))
        return known;
    auto* item = new MenuItemAccessible(owner, action);
    QAccessible::registerAccessibleInterface(item);
    return item;
}

} // namespace

QAccessibleInterface* stockAccessible(const QString& className, QObject* object)
{
    // Only the classes themselves: a widget on its way out reads as its base classes, and must
    // not come back into the cache as one (its going still sends events).
    auto* w = qobject_cast<QWidget*>(object);
    if (!w || !enabled)
        return nullptr;
    if (className == QLatin1String("QPushButton"))
        return new ButtonAccessible(w);
    if (className == QLatin1String("QLabel"))
        return new LabelAccessible(w);
    if (className == QLatin1String("QMenuBar"))
        return new ActionsAccessible(w, QAccessible::MenuBar);
    if (className == QLatin1String("QMenu"))
        return new MenuAccessible(w);
    if (className == QLatin1String("QMessageBox"))
        return new PlacedWidget(w, QAccessible::AlertMessage);
    if (className == QLatin1String("QDialog"))
        return new PlacedWidget(w, QAccessible::Dialog);
    if (className == QLatin1String("QDialogButtonBox"))
        return new PlacedWidget(w, QAccessible::Grouping);
    return nullptr;
}

void setStockAccessibility(bool on)
{
    enabled = on;
}

} // namespace form::qt
