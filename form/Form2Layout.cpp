// SPDX-License-Identifier: GPL-3.0-or-later

#include "Layouts.h"

namespace form {

const FormLayout& form2Layout()
{
    constexpr auto Label = ElementKind::Label;
    constexpr auto Opaque = BackStyle::Opaque;
    constexpr auto Transparent = BackStyle::Transparent;
    const Font credit{kGothicFace, 9, true};

    // clang-format off
    static const FormLayout layout{
        "Form2", "あとがき・・・？", {4680, 3195}, FrameStyle::FixedToolWindow, SystemColor::ButtonFace,
        {
            {"Command1", ElementKind::PushButton, {3360, 2520, 1215, 495}, true, true, "OK"},
            {"Label6", Label, {120, 1560, 4335, 495}, true, true,
             "ダウンロード有難うございます。操作方法など不明な点はHELPファイルをどうぞ…。", {}, false, Opaque},
            {"Label5", Label, {120, 2880, 3165, 180}, true, true,
             "Copyright 2026 The Ombura Project", credit, true, Opaque},
            {"Label4", Label, {120, 2640, 2400, 180}, true, true, "Sound    The Ombura Project", credit, true, Opaque},
            {"Label3", Label, {120, 2400, 1920, 180}, true, true, "Program The Ombura Project", credit, true, Opaque},
            {"Label2", Label, {2520, 1080, 930, 240}, true, true, "Ver.1.0", {kBrushFace, 12, true}, true, Transparent},
            {"Label1", Label, {1440, 360, 1095, 525}, true, true, "Ombura", {kBrushFace, 26.25, true}, true, Transparent},
            {"Image1", ElementKind::Picture, {240, 360, 975, 975}, true, true, {}, {}, false, Opaque, true, true},
        },
        {},
        {},
    };
    // clang-format on
    return layout;
}

} // namespace form
