#include "MusicChannel.h"

#include "FluidSynthEngine.h"
#include "SequencerDevice.h"
#include "SoundFontSearch.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <span>
#include <utility>

namespace sound {

namespace {

// Each call loads the next font among `places` that FluidSynth accepts, or null when none is
// left. A font that is there but will not load (broken, refused, or a dangling choice of the
// system's) gives way to the next one, and so does one that cannot give a tune its instruments
// (see SynthHost). A file reached twice (default-GM.sf2 is a link to one of the others) is
// tried once, and by its own name, so a link changed while the game runs changes nothing.
SynthHost::Loader fontsIn(std::vector<std::string> places)
{
    return [places = std::move(places), next = std::size_t{0},
            tried = std::vector<std::filesystem::path>()]() mutable -> std::shared_ptr<SynthEngine> {
        // Opening the library holds the dynamic loader's lock, which the UI thread may want
        // meanwhile (a plugin, or the unwinding of an exception), so that runs at normal priority
        // and is over quickly; the font, read afterwards, only gets the CPU the window leaves
        // over. Without a font, FluidSynth is not opened at all.
        if (next == 0) {
            const std::vector<std::string_view> views(places.begin(), places.end());
            if (!findSoundFont(views) || !openFluidSynth())
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
            if (std::shared_ptr<SynthEngine> engine = acquireFluidSynth(file.string()))
                return engine;
        }
        return nullptr;
    };
}

std::vector<std::string> defaultPlaces()
{
    const std::span<const std::string_view> places = defaultSoundFontPlaces();
    return {places.begin(), places.end()};
}

} // namespace

MusicChannel::MusicChannel(Start start) : MusicChannel(fontsIn(defaultPlaces()), start)
{ }

MusicChannel::MusicChannel(std::optional<std::string> soundFontPath, Start start)
    : MusicChannel(soundFontPath ? fontsIn({*soundFontPath}) : SynthHost::Loader(), start)
{ }

MusicChannel::MusicChannel(std::vector<std::string> soundFontPlaces, Start start)
    : MusicChannel(fontsIn(std::move(soundFontPlaces)), start)
{ }

MusicChannel::MusicChannel(SynthHost::Loader loader, Start start)
    : host_(std::move(loader), start),
      sequencer_(host_),
      interpreter_([this](std::string_view type, MciError& error) -> std::unique_ptr<MciDevice> {
          if (type != "sequencer") {
              error = MciError::DeviceNotInstalled;
              return nullptr;
          }
          if (sequencerClaimed_) {
              error = MciError::SequencerPortInUse;
              return nullptr;
          }
          // The device says when a play starts it sounding, so the output wakes for it, and
          // when it closes, so another may open.
          SequencerDevice::Signals signals;
          signals.started = [this] {
              if (wake_)
                  wake_();
          };
          signals.closed = [this] { sequencerClaimed_ = false; };
          sequencerClaimed_ = true;
          return std::make_unique<SequencerDevice>(sequencer_, std::move(signals));
      })
{ }

MusicChannel::~MusicChannel() = default;

std::uint32_t MusicChannel::send(std::string_view command, char* reply, unsigned capacity)
{
    return interpreter_.send(command, reply, capacity);
}

void MusicChannel::render(float* out, int frames)
{
    sequencer_.render(out, frames);
}

bool MusicChannel::active() const
{
    return sequencer_.playing() || sequencer_.sounding();
}

void MusicChannel::setWakeCallback(std::function<void()> wake)
{
    wake_ = std::move(wake);
}

bool MusicChannel::waitUntilReady(std::chrono::milliseconds timeout)
{
    return host_.waitUntilIdle(timeout);
}

} // namespace sound
