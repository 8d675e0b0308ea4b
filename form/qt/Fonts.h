// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "Element.h"

#include <QFont>
#include <QStringList>

namespace form::qt {

// The families the layouts name do not exist here; these are their nearest installed kin.
inline constexpr const char* kGothicFamily = "IPAPGothic";
inline constexpr const char* kBrushFamily = "KouzanBrushFontGyousyo";
// The window's default font, used by the labels that name none: a small proportional gothic,
// as the system font of the game's era was.
inline constexpr double kDefaultPoints = 9.0;

// Registers the substitutions once; harmless when the fonts are missing (fontconfig then falls
// back to whatever it has).
void installFontSubstitutes();

QFont fontFor(const form::Font& font);

// Whether a bold font is drawn from a regular face made heavier by the font engine, which adds
// the same one pixel of stroke at any scale.
bool boldBySynthesis(const QFont& font);

} // namespace form::qt
