// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "Form.h"

namespace form {

// The two windows of the game, as data.
const FormLayout& form1Layout();
const FormLayout& form2Layout();

// The face the layouts name for their gothic labels.
inline constexpr std::string_view kGothicFace = "ＭＳ Ｐゴシック";
inline constexpr std::string_view kBrushFace = "HG正楷書体-PRO";

} // namespace form
