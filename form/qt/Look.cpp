// SPDX-License-Identifier: GPL-3.0-or-later

#include "Look.h"

#include "Form.h"

#include <QApplication>
#include <QDirIterator>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QPalette>
#include <QPixmap>
#include <QProxyStyle>
#include <QRegularExpression>
#include <QStyleOptionMenuItem>

namespace form::qt {

namespace {

class LookStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        switch (hint) {
        case SH_DialogButtonBox_ButtonsHaveIcons:
            return 0; // the game-over box's OK is a word, not a green arrow
        case SH_MenuBar_AltKeyNavigation:
            return 1; // Alt alone highlights the first menu title, as on the desktops of the era
        default:
            return QProxyStyle::styleHint(hint, option, widget, returnData);
        }
    }

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override
    {
        // A menu title chosen from the keyboard (F10, Alt) is selected but not yet open, and some
        // styles light a title only while its list is open: light it while the bar has the focus.
        if (element == CE_MenuBarItem && widget && widget->hasFocus() && option->state.testFlag(State_Selected) &&
            !option->state.testFlag(State_Sunken)) {
            if (const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option)) {
                QStyleOptionMenuItem lit = *item;
                lit.state |= State_Sunken;
                QProxyStyle::drawControl(element, &lit, painter, widget);
                return;
            }
        }
        QProxyStyle::drawControl(element, option, painter, widget);
    }
};

} // namespace

QColor systemColor(form::SystemColor)
{
    return QColor::fromRgb(kWindowGrey);
}

void installLook()
{
    // The proxy takes over whatever style the desktop chose, so only the two hints change.
    QApplication::setStyle(new LookStyle(QApplication::style()->name()));
    QPalette palette = QApplication::palette();
    for (const QPalette::ColorRole role : {QPalette::Window, QPalette::Button})
        palette.setColor(role, systemColor(SystemColor::ButtonFace));
    QApplication::setPalette(palette);
}

QStringList programIconFiles()
{
    // Every hicolor size that is installed for the desktop also goes into the program's
    // resources; the icon takes whichever of them are there.
    QStringList files;
    static const QRegularExpression size(QStringLiteral("^(\\d+)x\\1$"));
    QDirIterator it(QStringLiteral(":/icons/hicolor"), QDir::Dirs | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        if (size.match(it.fileName()).hasMatch())
            files << it.filePath() + QStringLiteral("/apps/ombura.png");
    }
    if (files.isEmpty())
        files << QStringLiteral(":/pictures/icon.xpm");
    return files;
}

QIcon programIcon(const std::function<QImage(const QString&)>& decode)
{
    QIcon icon;
    for (const QString& file : programIconFiles()) {
        if (decode)
            icon.addPixmap(QPixmap::fromImage(decode(file)));
        else
            icon.addFile(file);
    }
    return icon;
}

int widthForTitle(const QString& title)
{
    // The frame is the window manager's and so is its font, which no toolkit can ask for. Frames
    // commonly draw the title bold in a size near the desktop's title font, so that is what is
    // measured, a point larger to be safe; the icon and three buttons are squares about as tall
    // as the title bar, and the bar keeps a margin at each end.
    QFont font = QFontDatabase::systemFont(QFontDatabase::TitleFont);
    font.setBold(true);
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() + 1);
    const QFontMetrics metrics(font);
    const int bar = metrics.height() + 8;
    return metrics.horizontalAdvance(title) + 4 * bar + 2 * metrics.height();
}

} // namespace form::qt
