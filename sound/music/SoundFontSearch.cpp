// SPDX-License-Identifier: GPL-3.0-or-later

#include "SoundFontSearch.h"

#include "FluidSynthEngine.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>

namespace sound {

namespace {

// The two default-GM names are the system's own choice (an alternatives link), so they come
// first; then the fonts by name, the fuller one before the small one.
constexpr std::array<std::string_view, 9> kPlaces{
    "/usr/share/sounds/sf2/default-GM.sf2", "/usr/share/sounds/sf3/default-GM.sf3",
    "/usr/share/sounds/sf2/FluidR3_GM.sf2", "/usr/share/sounds/sf3/FluidR3_GM.sf3",
    "/usr/share/sounds/sf2/TimGM6mb.sf2",   "/usr/share/sounds/sf3/MuseScore_General.sf3",
    "/usr/share/soundfonts/default.sf2",    "/usr/share/soundfonts/FluidR3_GM.sf2",
    "/usr/share/soundfonts/default.sf3",
};

bool readableFile(const std::string& path)
{
    struct stat info{};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), R_OK) == 0;
}

} // namespace

std::span<const std::string_view> defaultSoundFontPlaces()
{
    return kPlaces;
}

std::optional<std::string> findSoundFont(std::span<const std::string_view> places)
{
    for (std::string_view place : places) {
        std::string path(place);
        if (readableFile(path))
            return path;
    }
    return std::nullopt;
}

SynthHost::Loader soundFontLoader(std::vector<std::string> places)
{
    return [places = std::move(places), next = std::size_t{0},
            tried = std::vector<std::filesystem::path>()]() mutable -> std::shared_ptr<SynthEngine> {
        // The font is read by a batch thread, which gives way to the window whenever it wakes.
        if (next == 0) {
            const std::vector<std::string_view> views(places.begin(), places.end());
            if (!findSoundFont(views))
                return nullptr;
            SynthHost::yieldToOthers();
        }
        while (next < places.size()) {
            const std::string_view place = places[next++];
            if (!findSoundFont(std::span(&place, 1)))
                continue;
            std::error_code error;
            const std::filesystem::path file = std::filesystem::canonical(place, error);
            if (error || std::find(tried.begin(), tried.end(), file) != tried.end())
                continue;
            tried.push_back(file);
            if (std::shared_ptr<SynthEngine> engine = FluidSynthEngine::create(file.string()))
                return engine;
        }
        return nullptr;
    };
}

} // namespace sound
