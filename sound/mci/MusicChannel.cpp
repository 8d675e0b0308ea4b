#include "MusicChannel.h"

#include "FluidSynthEngine.h"
#include "SequencerDevice.h"
#include "SoundFontSearch.h"

#include <memory>
#include <span>
#include <utility>

namespace sound {

namespace {

// True once there is a font among `places` and FluidSynth is open to read it. Opening the
// library holds the dynamic loader's lock, which the UI thread may want meanwhile (a plugin, or
// the unwinding of an exception), so that runs at normal priority and is over quickly; the
// font, read afterwards, only gets the CPU the window leaves over. Without a font, FluidSynth
// is not opened at all.
bool readyToLoad(std::span<const std::string_view> places)
{
    if (!findSoundFont(places) || !openFluidSynth())
        return false;
    SynthHost::yieldToOthers();
    return true;
}

} // namespace

MusicChannel::MusicChannel(Start start)
    : MusicChannel(SynthHost::Loader([]() -> std::shared_ptr<SynthEngine> {
                       if (!readyToLoad(defaultSoundFontPlaces()))
                           return nullptr;
                       // A font that is there but will not load (broken, or a dangling choice of the
                       // system's) gives way to the next one.
                       for (std::string_view place : defaultSoundFontPlaces()) {
                           const std::optional<std::string> path = findSoundFont(std::span(&place, 1));
                           if (!path)
                               continue;
                           if (std::shared_ptr<SynthEngine> engine = acquireFluidSynth(*path))
                               return engine;
                       }
                       return nullptr;
                   }),
                   start)
{ }

MusicChannel::MusicChannel(std::optional<std::string> soundFontPath, Start start)
    : MusicChannel(soundFontPath ? SynthHost::Loader([path = *soundFontPath]() -> std::shared_ptr<SynthEngine> {
                       const std::string_view place = path;
                       if (!readyToLoad(std::span(&place, 1)))
                           return nullptr;
                       return acquireFluidSynth(path);
                   })
                                 : SynthHost::Loader(),
                   start)
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
