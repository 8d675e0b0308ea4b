#include "SoundFontSearch.h"

#include <array>
#include <sys/stat.h>
#include <unistd.h>

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

} // namespace sound
