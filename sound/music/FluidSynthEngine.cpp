// SPDX-License-Identifier: GPL-3.0-or-later

#include "FluidSynthEngine.h"

#include "FileDescriptor.h"

#include <glib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <utility>

namespace sound {

namespace {

constexpr int kChannels = 16;
constexpr int kDrumBank = 128;
constexpr int kDrumChannel = 9;
constexpr int kReverbSend = 91;
constexpr int kChorusSend = 93;

// A GS reset addressed to every device: FluidSynth's own reset of every channel, and of the
// bank-select rules a GM or XG reset may have changed, to what a new synthesiser has.
constexpr std::array<std::uint8_t, 9> kGsReset{0x41, 0x7F, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41};

// While the synthesiser resets, the font's banks are moved out of reach, so that the reset
// chooses no instrument: with dynamic sample loading each choice reads the instrument's samples
// (the piano and the drum kit are 16 MB of FluidR3_GM), whether the tune plays them or not.
constexpr int kOutOfReach = 0x10000;

// How many errors FluidSynth has logged so far, by any synthesiser: its log names none.
std::atomic<unsigned> errorsLogged{0};

// FluidSynth writes its messages to the terminal unless told otherwise, and asks libinstpatch
// about any file it cannot read itself, which reports what it dislikes through glib's log. The
// game prints nothing, and counts FluidSynth's errors.
void quietenLogs()
{
    static const bool done = [] {
        for (int level = FLUID_PANIC; level < LAST_LOG_LEVEL; ++level)
            fluid_set_log_function(
                level,
                level <= FLUID_ERR
                    ? [](int, const char*, void*) { errorsLogged.fetch_add(1, std::memory_order_relaxed); }
                    : [](int, const char*, void*) {},
                nullptr);
        g_log_set_default_handler([](const gchar*, GLogLevelFlags, const gchar*, gpointer) { }, nullptr);
        return true;
    }();
    (void)done;
}

} // namespace

std::unique_ptr<FluidSynthEngine> FluidSynthEngine::create(const std::string& path)
{
    quietenLogs();
    std::optional<SoundFontDirectory> directory = SoundFontDirectory::read(path);
    std::unique_ptr<FluidSynthEngine> engine = directory ? load(path, Samples::OnDemand) : nullptr;
    if (!engine)
        return nullptr;
    // FluidSynth opens fonts by name; the chooser's lives in memory.
    const std::vector<std::uint8_t> presets = directory->presetsOnly();
    const ombura::FileDescriptor memory(memfd_create("ombura-presets", MFD_CLOEXEC));
    if (::write(memory.get(), presets.data(), presets.size()) != static_cast<ssize_t>(presets.size()))
        return nullptr;
    engine->chooser_ = load("/proc/self/fd/" + std::to_string(memory.get()), Samples::None);
    engine->directory_ = std::move(directory);
    return engine->chooser_ ? std::move(engine) : nullptr;
}

std::unique_ptr<FluidSynthEngine> FluidSynthEngine::load(const std::string& path, Samples samples)
{
    std::unique_ptr<FluidSynthEngine> engine(new FluidSynthEngine(samples));
    // The whole font, with no instrument chosen on any channel yet (see reset()).
    engine->font_ = engine->synth_ ? fluid_synth_sfload(engine->synth_, path.c_str(), 0) : FLUID_FAILED;
    if (engine->font_ == FLUID_FAILED)
        return nullptr;
    engine->reset();
    return engine;
}

FluidSynthEngine::FluidSynthEngine(Samples samples) : settings_(new_fluid_settings())
{
    fluid_settings_setnum(settings_, "synth.sample-rate", static_cast<double>(kSequenceRate));
    fluid_settings_setint(settings_, "synth.midi-channels", kChannels);
    // Reverb and chorus cost CPU even in silence, and the tunes are written dry.
    fluid_settings_setint(settings_, "synth.reverb.active", 0);
    fluid_settings_setint(settings_, "synth.chorus.active", 0);
    // Only the instruments in use are kept in memory: the full GM font is ~150 MB. A font without
    // samples is read whole: there is nothing to keep.
    fluid_settings_setint(settings_, "synth.dynamic-sample-loading", samples == Samples::OnDemand ? 1 : 0);
    fluid_settings_setint(settings_, "synth.lock-memory", 0);
    if (samples == Samples::None)
        fluid_settings_setint(settings_, "synth.polyphony", 1);
    synth_ = new_fluid_synth(settings_);
}

FluidSynthEngine::~FluidSynthEngine()
{
    delete_fluid_synth(synth_);
    delete_fluid_settings(settings_);
}

void FluidSynthEngine::channelMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2)
{
    const int channel = status & 0x0F;
    const int kind = status & 0xF0;
    // A channel's instrument is chosen by a program change, or else at its first note.
    if (kind == 0xC0)
        chosen_ |= 1u << channel;
    else if (kind == 0x90 && data2 > 0)
        choosePowerOnInstrument(channel);
    if (kind == 0x80)
        fluid_synth_noteoff(synth_, channel, data1);
    else if (kind == 0x90 && playable_)
        fluid_synth_noteon(synth_, channel, data1, data2);
    else if (kind == 0xA0)
        fluid_synth_key_pressure(synth_, channel, data1, data2);
    // With reverb and chorus off, FluidSynth still mixes every voice into their send buffers by
    // these two controllers, about 7 % of the work on a tune: they are left out.
    else if (kind == 0xB0 && data1 != kReverbSend && data1 != kChorusSend)
        fluid_synth_cc(synth_, channel, data1, data2);
    else if (kind == 0xC0)
        fluid_synth_program_change(synth_, channel, data1);
    else if (kind == 0xD0)
        fluid_synth_channel_pressure(synth_, channel, data1);
    else if (kind == 0xE0)
        fluid_synth_pitch_bend(synth_, channel, data1 | (data2 << 7));
}

void FluidSynthEngine::send(const MidiSequence& tune, const MidiEvent& event)
{
    if (event.status == 0xF0)
        sysex(tune.sysex[event.sysex].data(), tune.sysex[event.sysex].size());
    else
        channelMessage(event.status, event.data1, event.data2);
}

// A message is at most as long as the file it came from (16 MiB); FluidSynth ignores an empty one.
void FluidSynthEngine::sysex(const std::uint8_t* data, std::size_t size)
{
    fluid_synth_sysex(synth_, reinterpret_cast<const char*>(data), static_cast<int>(size), nullptr, nullptr, nullptr,
                      0);
}

void FluidSynthEngine::soundOff()
{
    fluid_synth_all_sounds_off(synth_, -1); // every channel
    dropBufferedFrames();
}

void FluidSynthEngine::releaseAll()
{
    for (int channel = 0; channel < kChannels; ++channel) {
        fluid_synth_cc(synth_, channel, 64, 0); // sustain
        fluid_synth_cc(synth_, channel, 66, 0); // sostenuto
        fluid_synth_all_notes_off(synth_, channel);
    }
}

// FluidSynth's own reset, which would choose the piano and the drum kit on every channel again
// and read their samples here on the audio thread, finds no instrument to choose. A channel's
// power-on instrument is chosen at its first note instead (see channelMessage).
void FluidSynthEngine::reset()
{
    fluid_synth_set_bank_offset(synth_, font_, kOutOfReach);
    sysex(kGsReset.data(), kGsReset.size());
    fluid_synth_set_bank_offset(synth_, font_, 0);
    chosen_ = 0;
    dropBufferedFrames();
}

void FluidSynthEngine::renderAdd(float* out, int frames)
{
    for (int done = 0; done < frames; done += kScratchFrames) {
        const int n = std::min(frames - done, kScratchFrames);
        fluid_synth_write_float(synth_, n, scratch_.data(), 0, 2, scratch_.data(), 1, 2);
        rendered_ += static_cast<std::uint64_t>(n);
        for (int i = 0; i < 2 * n; ++i)
            out[2 * done + i] += scratch_[static_cast<std::size_t>(i)];
    }
}

// Which instrument a message chooses is FluidSynth's to say (bank-select rules change with GM,
// GS and XG resets, a GS message can make any channel a drum channel, a missing preset falls
// back to another), so it is asked: the chooser plays the tune's messages and tells every
// instrument it chose on the way. Their samples are checked against the font's
// directory before any is read, then loaded and kept (pinned) for as long as tunes need them.
bool FluidSynthEngine::prepare(const MidiSequence& tune)
{
    reset();
    std::vector<PresetNumber> wanted = chooser_->choices(tune);
    const std::optional<std::uint64_t> bytes = directory_->sampleBytes(wanted);
    // A font that would play part of the tune in silence, or hold more of it in memory than we
    // allow, plays none of it, and reads nothing for it.
    bool whole = bytes && *bytes <= kMaxTuneSampleBytes;
    if (!whole)
        wanted.clear();
    const unsigned errorsBefore = errorsLogged.load(std::memory_order_relaxed);
    for (const PresetNumber& p : wanted) {
        if (std::ranges::find(pinned_, p) == pinned_.end() &&
            fluid_synth_pin_preset(synth_, font_, p.bank, p.program) != FLUID_OK)
            whole = false;
    }
    // The new ones are in before the old ones go, so that an instrument both tunes share is
    // never dropped and read again.
    for (const PresetNumber& p : pinned_) {
        if (std::ranges::find(wanted, p) == wanted.end())
            fluid_synth_unpin_preset(synth_, font_, p.bank, p.program);
    }
    pinned_ = std::move(wanted);
    // A channel made to choose an instrument whose samples cannot be read (the file gone or
    // changed since the font was loaded) keeps it, and FluidSynth crashes rendering it; the
    // failure shows only as an error in its log. After any, the tune plays nothing.
    playable_ = whole && errorsLogged.load(std::memory_order_relaxed) == errorsBefore;
    return playable_;
}

// The instruments FluidSynth chooses for the tune, in the order it chooses them. Each is noted
// the moment it is chosen: a later choice on the same channel replaces it. The chooser's
// presets have no zones: its notes sound nothing.
std::vector<PresetNumber> FluidSynthEngine::choices(const MidiSequence& tune)
{
    reset();
    std::vector<PresetNumber> chosen;
    const auto note = [&](int channel) {
        fluid_preset_t* preset = fluid_synth_get_channel_preset(synth_, channel);
        if (!preset)
            return;
        const PresetNumber p{fluid_preset_get_banknum(preset), fluid_preset_get_num(preset)};
        if (std::ranges::find(chosen, p) == chosen.end())
            chosen.push_back(p);
    };
    for (const MidiEvent& e : tune.events) {
        send(tune, e);
        // A system-exclusive message may choose on every channel.
        const int channel = e.status & 0x0F;
        for (int c = e.status == 0xF0 ? 0 : channel; c <= (e.status == 0xF0 ? kChannels - 1 : channel); ++c)
            note(c);
    }
    reset();
    return chosen;
}

// fluid_synth_write_float() renders whole blocks of fluid_synth_get_internal_bufsize() frames and
// hands them out piecemeal: up to a block of sound from before a call that silences would still
// be heard after it, so it is rendered here and thrown away.
void FluidSynthEngine::dropBufferedFrames()
{
    const std::uint64_t block = static_cast<std::uint64_t>(std::max(1, fluid_synth_get_internal_bufsize(synth_)));
    const int waiting = static_cast<int>((block - rendered_ % block) % block);
    if (waiting > 0 && waiting <= kScratchFrames) {
        fluid_synth_write_float(synth_, waiting, scratch_.data(), 0, 2, scratch_.data(), 1, 2);
        rendered_ += static_cast<std::uint64_t>(waiting);
    }
}

// What a synthesiser plays on a channel nobody chose an instrument for since the reset: the
// piano, or the standard kit on the drum channel, if the font has it. A channel FluidSynth
// chose one for itself (a reset or a rhythm-part message in the tune) keeps it.
void FluidSynthEngine::choosePowerOnInstrument(int channel)
{
    const std::uint32_t bit = 1u << channel;
    if (chosen_ & bit)
        return;
    chosen_ |= bit;
    const int bank = channel == kDrumChannel ? kDrumBank : 0;
    fluid_sfont_t* sfont = fluid_synth_get_sfont_by_id(synth_, font_);
    if (!fluid_synth_get_channel_preset(synth_, channel) && sfont && fluid_sfont_get_preset(sfont, bank, 0))
        fluid_synth_program_select(synth_, channel, font_, bank, 0);
}

} // namespace sound
