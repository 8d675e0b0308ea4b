// SPDX-License-Identifier: GPL-3.0-or-later

#include "Layouts.h"

namespace form {

namespace {

constexpr ElementKind Picture = ElementKind::Picture;
constexpr ElementKind Label = ElementKind::Label;
constexpr ElementKind Rectangle = ElementKind::Rectangle;
constexpr ElementKind PushButton = ElementKind::PushButton;
constexpr BackStyle Opaque = BackStyle::Opaque;
constexpr BackStyle Transparent = BackStyle::Transparent;
constexpr bool Shown = true;
constexpr bool Hidden = false;
constexpr bool On = true;
constexpr bool Off = false;
constexpr bool AutoSize = true;
constexpr bool Fixed = false;
constexpr int P = 480; // every small picture is 32 x 32 pixels

const Font kDefault{};
const Font kScore{kGothicFace, 12, true};
const Font kSeconds{kGothicFace, 48, false};

} // namespace

const FormLayout& form1Layout()
{
    // clang-format off
    static const FormLayout layout{
        "Form1", "Ombura", {7665, 4035}, FrameStyle::Sizable, SystemColor::ActiveBorder,
        {
            // name       kind        left  top   width height  visible enabled caption     font      sizing    back
            {"Command2", PushButton, {1200, 6600, 1215, 495}, Hidden, On,  "Command2"},
            {"Command1", PushButton, {1080, 6000, 1215, 495}, Hidden, On,  "Command1"},
            {"Image24",  Picture,    {5400, 3960, P, P},      Hidden, On},
            {"Image23",  Picture,    {5400, 5400, P, P},      Hidden, On},
            {"Image22",  Picture,    {5400, 4440, P, P},      Hidden, On},
            {"Image21",  Picture,    {5400, 4920, P, P},      Hidden, On},
            {"Image20",  Picture,    {4680, 5520, P, P},      Hidden, On},
            {"Image19",  Picture,    {6240, 4920, P, P},      Hidden, On},
            {"Image18",  Picture,    {6240, 5400, P, P},      Hidden, On},
            {"Image17",  Picture,    {6240, 4440, P, P},      Hidden, On},
            {"Image16",  Picture,    {6240, 3960, P, P},      Hidden, On},
            {"Shape2",   Rectangle,  {6120, 0, 1335, 1575},   Shown,  On},
            {"Label11",  Label,      {2880, 5280, 1215, 495}, Hidden, On,  "Label11",   kDefault, Fixed,    Opaque},
            {"Label10",  Label,      {6480, 1080, 510, 180},  Shown,  On,  "くるくる",   kDefault, AutoSize, Opaque},
            {"Label9",   Label,      {6600, 480, 150, 240},   Shown,  On,  "0",         kScore,   AutoSize, Opaque},
            {"Label8",   Label,      {6240, 120, 855, 180},   Shown,  On,  "現在娘さん", kDefault, AutoSize, Opaque},
            {"Label7",   Label,      {240, 360, 960, 960},    Shown,  On,  "10",        kSeconds, AutoSize, Transparent},
            {"Label6",   Label,      {1320, 1200, 180, 180},  Shown,  On,  "秒",        kDefault, AutoSize, Transparent},
            {"Label5",   Label,      {120, 120, 1170, 180},   Shown,  On,  "娘逃亡まであと", kDefault, AutoSize, Opaque},
            {"Image15",  Picture,    {3120, 2160, P, P},      Hidden, On},
            {"Label2",   Label,      {120, 5280, 1215, 495},  Hidden, On,  "Label2",    kDefault, Fixed,    Opaque},
            {"Label1",   Label,      {1560, 5280, 1215, 495}, Hidden, On,  "Label1",    kDefault, Fixed,    Opaque},
            {"Image14",  Picture,    {30, 2400, P, P},        Hidden, On},
            {"Shape1",   Rectangle,  {0, 0, 6015, 3855},      Shown,  On},
            {"Image13",  Picture,    {4560, 3600, P, P},      Hidden, On},
            {"Image12",  Picture,    {5520, 840, P, P},       Hidden, On},
            {"Image10",  Picture,    {3240, 6240, P, P},      Hidden, Off},
            {"Image9",   Picture,    {2760, 6240, P, P},      Hidden, Off},
            {"Image8",   Picture,    {5880, 5400, P, P},      Hidden, Off},
            {"Image7",   Picture,    {5880, 4440, P, P},      Hidden, Off},
            {"Image6",   Picture,    {5880, 4920, P, P},      Hidden, Off},
            {"Image5",   Picture,    {5880, 3960, P, P},      Hidden, Off},
            {"Image4",   Picture,    {3480, 2160, P, P},      Shown,  On},
            {"Image3",   Picture,    {3120, 2160, P, P},      Shown,  On},
            {"Image2",   Picture,    {1920, 240, P, P},       Hidden, On},
            {"Image1",   Picture,    {0, 0, 6000, 3750},      Shown,  On},
        },
        {
            // name     interval enabled
            {"Timer1", 100,  true},
            {"Timer2", 500,  true},
            {"Timer3", 1000, true},
            {"Timer4", 1000, false},
            {"bgm",    1000, true},
        },
        {
            {"mnuGam", "ゲーム", {
                {"mnuStart", "開始"},
                {"mnuStop", "中止"},
                {"mnuBlank1", "-"},
                {"mnuSethu", "説明"},
                {"mnuBlank2", "-"},
                {"mnuExit", "終了"},
            }},
            {"mnuAto", "あとがき", {
                {"mnuAtogaki", "あとがき"},
            }},
        },
        {
            // A press while one of these shows cannot score; a player who cannot see them must
            // still learn why.
            {"Image2",  "侵入者（奥の壁）"},
            {"Image12", "侵入者（右奥）"},
            {"Image13", "侵入者（手前）"},
            {"Image14", "侵入者（左端）"},
            {"Image15", "投げられた風車"},
        },
    };
    // clang-format on
    return layout;
}

} // namespace form
