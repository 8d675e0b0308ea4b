#pragma once

#include "SoundPlatform.h"

#include <memory>

namespace app {

// The sound devices the program plays through.
std::unique_ptr<sound::SoundPlatform> makeSoundSystem();

} // namespace app
