// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <span>
#include <string_view>
#include <vector>

namespace form {
class Form;
struct FormLayout;
} // namespace form

namespace assets {

struct PictureInfo {
    std::string_view name;
    std::string_view resource; // Qt resource path, also the key the form model holds
    int width;
    int height;
    std::string_view shows;
};

// Which element holds which picture when its window is created.
struct PictureBinding {
    std::string_view form;
    std::string_view element;
    std::string_view picture;
};

std::span<const PictureInfo> pictures();
std::span<const PictureBinding> bindings();
const PictureInfo* findPicture(std::string_view name);

// The resources of the pictures a freshly created form shows (its visible elements' pictures),
// back to front and each once: what its first frame needs.
std::vector<std::string_view> picturesShownAtStart(const form::FormLayout& layout);

// Gives every element of a freshly created form the picture it starts with.
void applyPictures(form::Form& form);

} // namespace assets
