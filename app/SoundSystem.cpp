#include "SoundSystem.h"

namespace app {

namespace {

// Until the audio engine is in place every command fails as an unopened device would.
class SilentPlatform : public sound::SoundPlatform {
public:
    std::uint32_t mciSendString(std::string_view, char*, unsigned) override { return 263; }
    bool sndPlaySound(const std::string&, std::uint32_t) override { return false; }
};

} // namespace

std::unique_ptr<sound::SoundPlatform> makeSoundSystem()
{
    return std::make_unique<SilentPlatform>();
}

} // namespace app
