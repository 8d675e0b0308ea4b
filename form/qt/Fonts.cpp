// SPDX-License-Identifier: GPL-3.0-or-later

#include "Fonts.h"

#include "Form.h"
#include "Layouts.h"
#include "QtString.h"

#include <QFontDatabase>
#include <QFontInfo>

#include <algorithm>
#include <cmath>

namespace form::qt {

void installFontSubstitutes()
{
    const QString gothic = qstr(kGothicFace);
    const QString brush = qstr(kBrushFace);
    QFont::insertSubstitutions(gothic, {kGothicFamily, "IPAGothic", "Noto Sans CJK JP"});
    QFont::insertSubstitutions(brush, {kBrushFamily, "KouzanBrushFont", kGothicFamily});
}

QFont fontFor(const form::Font& font)
{
    const bool named = !font.face.empty();
    QFont f(named ? qstr(font.face) : QString(kGothicFamily));
    // Layouts are in 96-dpi pixels, so sizes are set in pixels too: the text then fits its
    // label whatever the screen's own dpi, and a device pixel ratio only sharpens it.
    const double points = font.points > 0 ? font.points : kDefaultPoints;
    f.setPixelSize(std::max(1, static_cast<int>(std::lround(points * 96.0 / 72.0))));
    f.setBold(font.bold);
    f.setStyleStrategy(QFont::PreferAntialias);
    return f;
}

bool boldBySynthesis(const QFont& font)
{
    if (!font.bold())
        return false;
    const QString family = QFontInfo(font).family();
    const QStringList styles = QFontDatabase::styles(family);
    return std::none_of(styles.begin(), styles.end(),
                        [&](const QString& style) { return QFontDatabase::weight(family, style) >= QFont::DemiBold; });
}

} // namespace form::qt
