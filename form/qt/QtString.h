// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// The form model keeps its names and captions as UTF-8 std::string; Qt wants QString.

#include <QString>

#include <string_view>

namespace form::qt {

inline QString qstr(std::string_view s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

} // namespace form::qt
