// SPDX-License-Identifier: GPL-3.0-or-later

#include "PictureTable.h"

#include "Form.h"

#include <algorithm>
#include <array>
#include <string>

namespace assets {

namespace {

// clang-format off
constexpr std::array kPictures{
    PictureInfo{"room",          ":/pictures/room.bmp",          400, 250, "a Japanese room in perspective: straw mats, light-blue walls, dark-red beams, a low table with candles, sliding doors"},
    PictureInfo{"player_rest",   ":/pictures/player_rest.xpm",   32, 32, "the player: a grinning man with a top-knot in an olive-green jacket, facing front"},
    PictureInfo{"player_pull",   ":/pictures/player_pull.xpm",   32, 32, "the player from the side, one arm stretched far out, hauling"},
    PictureInfo{"girl_rest",     ":/pictures/girl_rest.xpm",     32, 32, "the girl in a red kimono with a broad green sash, facing front"},
    PictureInfo{"set1_front",    ":/pictures/set1_front.xpm",    32, 32, "the girl facing front, arms up, sash unwinding to the left"},
    PictureInfo{"set1_side",     ":/pictures/set1_side.xpm",     32, 32, "the girl in profile, sash stretched out to the left"},
    PictureInfo{"set1_back",     ":/pictures/set1_back.xpm",     32, 32, "the girl from behind, arms up, sash out to the left"},
    PictureInfo{"set1_other",    ":/pictures/set1_other.xpm",    32, 32, "the girl in profile the other way, sash out to the left"},
    PictureInfo{"set2_front",    ":/pictures/set2_front.xpm",    32, 32, "the girl without her kimono, seated, arms crossed, blushing"},
    PictureInfo{"set2_side",     ":/pictures/set2_side.xpm",     32, 32, "the same, seated in profile, hugging her knees"},
    PictureInfo{"set2_back",     ":/pictures/set2_back.xpm",     32, 32, "the same, seated, seen from behind"},
    PictureInfo{"set2_other",    ":/pictures/set2_other.xpm",    32, 32, "the same, seated in profile the other way"},
    PictureInfo{"intruder_peek", ":/pictures/intruder_peek.xpm", 32, 32, "a frowning man in dark blue, head and shoulders, holding up a red pinwheel"},
    PictureInfo{"intruder_edge", ":/pictures/intruder_edge.xpm", 32, 32, "the same man at full height, half cut off on the right, raising a pinwheel"},
    PictureInfo{"pinwheel",      ":/pictures/pinwheel.xpm",      32, 32, "a red four-bladed pinwheel on a grey stick, flying blades first"},
    PictureInfo{"icon",          ":/pictures/icon.xpm",          32, 32, "the player at rest with \"Ombura\" in red across him"},
};

constexpr std::array kBindings{
    PictureBinding{"Form1", "Image1",  "room"},
    PictureBinding{"Form1", "Image3",  "player_rest"},
    PictureBinding{"Form1", "Image9",  "player_rest"},
    PictureBinding{"Form1", "Image10", "player_pull"},
    PictureBinding{"Form1", "Image4",  "girl_rest"},
    PictureBinding{"Form1", "Image20", "girl_rest"},
    PictureBinding{"Form1", "Image5",  "set1_front"},
    PictureBinding{"Form1", "Image24", "set1_front"},
    PictureBinding{"Form1", "Image7",  "set1_side"},
    PictureBinding{"Form1", "Image22", "set1_side"},
    PictureBinding{"Form1", "Image6",  "set1_back"},
    PictureBinding{"Form1", "Image21", "set1_back"},
    PictureBinding{"Form1", "Image8",  "set1_other"},
    PictureBinding{"Form1", "Image23", "set1_other"},
    PictureBinding{"Form1", "Image16", "set2_front"},
    PictureBinding{"Form1", "Image17", "set2_side"},
    PictureBinding{"Form1", "Image19", "set2_back"},
    PictureBinding{"Form1", "Image18", "set2_other"},
    PictureBinding{"Form1", "Image2",  "intruder_peek"},
    PictureBinding{"Form1", "Image12", "intruder_peek"},
    PictureBinding{"Form1", "Image13", "intruder_peek"},
    PictureBinding{"Form1", "Image14", "intruder_edge"},
    PictureBinding{"Form1", "Image15", "pinwheel"},
    PictureBinding{"Form2", "Image1",  "icon"},
};
// clang-format on

} // namespace

std::span<const PictureInfo> pictures()
{
    return kPictures;
}

std::span<const PictureBinding> bindings()
{
    return kBindings;
}

const PictureInfo* findPicture(std::string_view name)
{
    for (const PictureInfo& p : kPictures)
        if (p.name == name)
            return &p;
    return nullptr;
}

std::vector<std::string_view> picturesShownAtStart(const form::FormLayout& layout)
{
    std::vector<std::string_view> shown;
    for (auto e = layout.elements.rbegin(); e != layout.elements.rend(); ++e) {
        if (!e->visible)
            continue;
        for (const PictureBinding& b : kBindings) {
            if (b.form != layout.name || b.element != e->name)
                continue;
            const std::string_view resource = findPicture(b.picture)->resource;
            if (std::find(shown.begin(), shown.end(), resource) == shown.end())
                shown.push_back(resource);
        }
    }
    return shown;
}

void applyPictures(form::Form& form)
{
    for (const PictureBinding& b : kBindings) {
        if (b.form != form.name())
            continue;
        if (form::Element* e = form.find(b.element))
            e->setPicture(std::string(findPicture(b.picture)->resource));
    }
}

} // namespace assets
