#include "FluidSynthEngine.h"

#include "FileDescriptor.h"
#include "SharedLibrary.h"
#include "SoundFontView.h"

#include <fcntl.h>
#include <fluidsynth.h>

#include <algorithm>
#include <array>
#include <map>
#include <mutex>
#include <optional>
#include <string_view>
#include <utility>

namespace sound {

namespace {

constexpr int kChannels = 16;
constexpr int kDrumBank = 128;
constexpr int kDrumChannel = 9;
constexpr int kScratchFrames = 512;
constexpr int kReverbSend = 91;
constexpr int kChorusSend = 93;

// What FluidSynth's system reset leaves in the controllers that "reset all controllers" (121)
// keeps: bank, volume, balance, pan, sound and effect controllers; fine and coarse tuning
// centred through their registered parameters, which are then deselected. Checked against
// fluid_synth_system_reset controller by controller.
constexpr std::array<std::pair<int, int>, 33> kPowerOnControls{{
    {0, 0},   {32, 0},  {7, 100}, {39, 0},  {8, 64},  {40, 0},  {10, 64}, {42, 0}, {70, 64},   {71, 64},   {72, 64},
    {73, 64}, {74, 64}, {75, 64}, {76, 64}, {77, 64}, {78, 64}, {79, 64}, {91, 0}, {92, 0},    {93, 0},    {94, 0},
    {95, 0},  {101, 0}, {100, 1}, {6, 64},  {38, 0},  {100, 2}, {6, 64},  {38, 0}, {101, 127}, {100, 127}, {6, 0},
}};

// Every FluidSynth function the engine calls. The header gives their types; the library itself
// is opened only when the first synthesiser is made.
#define OMBURA_FLUID_FUNCTIONS(X)                                                                                      \
    X(new_fluid_settings)                                                                                              \
    X(delete_fluid_settings)                                                                                           \
    X(fluid_settings_setint)                                                                                           \
    X(fluid_settings_setnum)                                                                                           \
    X(fluid_set_log_function)                                                                                          \
    X(new_fluid_synth)                                                                                                 \
    X(delete_fluid_synth)                                                                                              \
    X(fluid_synth_sfload)                                                                                              \
    X(fluid_synth_sfunload)                                                                                            \
    X(new_fluid_defsfloader)                                                                                           \
    X(fluid_sfloader_set_callbacks)                                                                                    \
    X(fluid_synth_add_sfloader)                                                                                        \
    X(fluid_synth_get_sfont_by_id)                                                                                     \
    X(fluid_sfont_get_preset)                                                                                          \
    X(fluid_synth_pin_preset)                                                                                          \
    X(fluid_synth_unpin_preset)                                                                                        \
    X(fluid_synth_noteoff)                                                                                             \
    X(fluid_synth_noteon)                                                                                              \
    X(fluid_synth_key_pressure)                                                                                        \
    X(fluid_synth_cc)                                                                                                  \
    X(fluid_synth_program_change)                                                                                      \
    X(fluid_synth_program_select)                                                                                      \
    X(fluid_synth_unset_program)                                                                                       \
    X(fluid_synth_pitch_wheel_sens)                                                                                    \
    X(fluid_synth_channel_pressure)                                                                                    \
    X(fluid_synth_pitch_bend)                                                                                          \
    X(fluid_synth_sysex)                                                                                               \
    X(fluid_synth_all_sounds_off)                                                                                      \
    X(fluid_synth_all_notes_off)                                                                                       \
    X(fluid_synth_get_active_voice_count)                                                                              \
    X(fluid_synth_get_internal_bufsize)                                                                                \
    X(fluid_synth_write_float)

OMBURA_SYMBOL_TABLE(Fluid, OMBURA_FLUID_FUNCTIONS)

void ignoreLog(int, const char*, void*)
{ }

// Opening FluidSynth drags in a long chain of its own dependencies (sound servers, sample file
// readers) and runs their constructors: about half of what a bare Qt window costs to start.
// The first caller is the SoundFont loader thread, so the window never pays for it. Null when
// the library is missing or lacks a function; the game is then silent.
const Fluid* fluid()
{
    static const Fluid* const loaded = []() -> const Fluid* {
        static Fluid table;
        ombura::SharedLibrary library("libfluidsynth.so.3");
        if (!table.bind(library))
            return nullptr;
        // FluidSynth writes its messages to the terminal unless told otherwise; the game is silent.
        for (int level = FLUID_PANIC; level < LAST_LOG_LEVEL; ++level)
            table.fluid_set_log_function(level, ignoreLog, nullptr);
        return &table;
    }();
    return loaded;
}

// FluidSynth reads a font through the file functions of the loader that loaded it, both when
// it loads it and each time it reads an instrument's samples later, and names the file only.
// A view is loaded under a name of its own, which these functions look up.
constexpr std::string_view kViewName = "ombura-soundfont-view:";

struct ViewRegistry {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<const SoundFontView>, std::less<>> views;
    std::uint64_t made = 0;
};

ViewRegistry& viewRegistry()
{
    static ViewRegistry* registry = new ViewRegistry;
    return *registry;
}

std::string registerView(std::shared_ptr<const SoundFontView> view)
{
    ViewRegistry& r = viewRegistry();
    std::lock_guard lock(r.mutex);
    std::string name = std::string(kViewName) + std::to_string(++r.made);
    r.views.emplace(name, std::move(view));
    return name;
}

void forgetView(const std::string& name)
{
    ViewRegistry& r = viewRegistry();
    std::lock_guard lock(r.mutex);
    r.views.erase(name);
}

struct OpenView {
    std::shared_ptr<const SoundFontView> view;
    ombura::FileDescriptor file;
    std::uint64_t position = 0;
};

void* openView(const char* name)
{
    std::shared_ptr<const SoundFontView> view;
    {
        ViewRegistry& r = viewRegistry();
        std::lock_guard lock(r.mutex);
        const auto it = r.views.find(std::string_view(name));
        if (it == r.views.end())
            return nullptr;
        view = it->second;
    }
    auto open = new OpenView{view, ombura::FileDescriptor(::open(view->path().c_str(), O_RDONLY | O_CLOEXEC)), 0};
    if (open->file.get() < 0) {
        delete open;
        return nullptr;
    }
    return open;
}

int readView(void* buffer, fluid_long_long_t count, void* handle)
{
    auto* open = static_cast<OpenView*>(handle);
    if (count < 0 || !open->view->read(open->file.get(), open->position, static_cast<std::uint8_t*>(buffer),
                                       static_cast<std::size_t>(count)))
        return FLUID_FAILED;
    open->position += static_cast<std::uint64_t>(count);
    return FLUID_OK;
}

int seekView(void* handle, fluid_long_long_t offset, int origin)
{
    auto* open = static_cast<OpenView*>(handle);
    const auto size = static_cast<fluid_long_long_t>(open->view->size());
    fluid_long_long_t base = 0;
    if (origin == SEEK_CUR)
        base = static_cast<fluid_long_long_t>(open->position);
    else if (origin == SEEK_END)
        base = size;
    else if (origin != SEEK_SET)
        return FLUID_FAILED;
    if (offset < -base || offset > size - base)
        return FLUID_FAILED;
    open->position = static_cast<std::uint64_t>(base + offset);
    return FLUID_OK;
}

fluid_long_long_t tellView(void* handle)
{
    return static_cast<fluid_long_long_t>(static_cast<OpenView*>(handle)->position);
}

int closeView(void* handle)
{
    delete static_cast<OpenView*>(handle);
    return FLUID_OK;
}

class FluidSynthEngine final : public SynthEngine {
public:
    static FluidSynthEngine* create(const std::string& path)
    {
        const Fluid* api = fluid();
        if (!api)
            return nullptr;
        const Fluid& fl = *api;
        fluid_settings_t* settings = fl.new_fluid_settings();
        if (!settings)
            return nullptr;
        fl.fluid_settings_setnum(settings, "synth.sample-rate", static_cast<double>(kSequenceRate));
        // More than 16 channels reaches a heap overflow in this version.
        fl.fluid_settings_setint(settings, "synth.midi-channels", kChannels);
        // Reverb and chorus cost CPU even in silence, and the tunes are written dry.
        fl.fluid_settings_setint(settings, "synth.reverb.active", 0);
        fl.fluid_settings_setint(settings, "synth.chorus.active", 0);
        // Only the instruments in use are kept in memory: the full GM font is ~150 MB.
        fl.fluid_settings_setint(settings, "synth.dynamic-sample-loading", 1);
        fl.fluid_settings_setint(settings, "synth.lock-memory", 0);

        fluid_synth_t* synth = fl.new_fluid_synth(settings);
        if (!synth) {
            fl.delete_fluid_settings(settings);
            return nullptr;
        }
        // No instrument on any channel yet: choosing the power-on piano and drum kit would read
        // their samples (about 16 MB of FluidR3_GM) for tunes that mostly never play them. A
        // tune's own program changes choose its instruments, and a channel that plays before
        // any program change gets its power-on instrument then (see channelMessage).
        auto* engine = new FluidSynthEngine(fl, path, settings, synth);
        // A font whose directory we can read is loaded as a view holding no preset yet, which
        // FluidSynth still checks whole; prepare() shows it the tune's. Any other is left to
        // FluidSynth as it is.
        engine->file_ = SoundFontFile::open(path);
        if (engine->file_) {
            fluid_sfloader_t* loader = fl.new_fluid_defsfloader(settings);
            if (loader && fl.fluid_sfloader_set_callbacks(loader, openView, readView, seekView, tellView, closeView) ==
                              FLUID_OK) {
                fl.fluid_synth_add_sfloader(synth, loader);
                if (engine->loadView({}))
                    return engine;
            }
            engine->file_.reset();
        }
        engine->font_ = fl.fluid_synth_sfload(synth, path.c_str(), 0);
        if (engine->font_ == FLUID_FAILED) {
            delete engine;
            return nullptr;
        }
        return engine;
    }

    ~FluidSynthEngine() override
    {
        fl_.delete_fluid_synth(synth_);
        fl_.delete_fluid_settings(settings_);
        if (!viewName_.empty())
            forgetView(viewName_);
    }

    const std::string& path() const { return path_; }

    void channelMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) override
    {
        const int channel = status & 0x0F;
        switch (status & 0xF0) {
        case 0x80:
            fl_.fluid_synth_noteoff(synth_, channel, data1);
            break;
        case 0x90:
            if (data2 > 0 && !(chosen_ & (1u << channel)))
                choosePowerOnInstrument(channel);
            fl_.fluid_synth_noteon(synth_, channel, data1, data2);
            break;
        case 0xA0:
            fl_.fluid_synth_key_pressure(synth_, channel, data1, data2);
            break;
        case 0xB0:
            // Reverb and chorus are off, but FluidSynth still mixes every voice into their send
            // buffers by these controllers: about 7 % of its work on the tune for no sound.
            if (data1 != kReverbSend && data1 != kChorusSend)
                fl_.fluid_synth_cc(synth_, channel, data1, data2);
            break;
        case 0xC0:
            chosen_ |= 1u << channel;
            fl_.fluid_synth_program_change(synth_, channel, data1);
            break;
        case 0xD0:
            fl_.fluid_synth_channel_pressure(synth_, channel, data1);
            break;
        case 0xE0:
            fl_.fluid_synth_pitch_bend(synth_, channel, data1 | (data2 << 7));
            break;
        default:
            break;
        }
    }

    void sysex(const std::uint8_t* data, std::size_t size) override
    {
        if (size == 0 || size > 0xFFFF)
            return;
        fl_.fluid_synth_sysex(synth_, reinterpret_cast<const char*>(data), static_cast<int>(size), nullptr, nullptr,
                              nullptr, 0);
    }

    void soundOff() override
    {
        for (int channel = 0; channel < kChannels; ++channel)
            fl_.fluid_synth_all_sounds_off(synth_, channel);
        dropBufferedFrames();
    }

    void releaseAll() override
    {
        for (int channel = 0; channel < kChannels; ++channel) {
            fl_.fluid_synth_cc(synth_, channel, 64, 0); // sustain
            fl_.fluid_synth_cc(synth_, channel, 66, 0); // sostenuto
            fl_.fluid_synth_all_notes_off(synth_, channel);
        }
    }

    // FluidSynth's own system reset would choose the piano and the drum kit on every channel
    // again, reading their samples here on the audio thread. This puts back the same power-on
    // controllers and leaves the instrument unchosen until the next tune asks for one.
    void reset() override
    {
        for (int channel = 0; channel < kChannels; ++channel) {
            fl_.fluid_synth_all_sounds_off(synth_, channel);
            fl_.fluid_synth_cc(synth_, channel, 121, 0); // pedals, wheels, expression, pressure
            for (const auto& [control, value] : kPowerOnControls)
                fl_.fluid_synth_cc(synth_, channel, control, value);
            fl_.fluid_synth_pitch_bend(synth_, channel, 8192);
            fl_.fluid_synth_pitch_wheel_sens(synth_, channel, 2);
            fl_.fluid_synth_unset_program(synth_, channel);
        }
        chosen_ = 0;
        dropBufferedFrames();
    }

    bool sounding() override { return fl_.fluid_synth_get_active_voice_count(synth_) > 0; }

    void renderAdd(float* out, int frames) override
    {
        while (frames > 0) {
            const int n = std::min(frames, kScratchFrames);
            fl_.fluid_synth_write_float(synth_, n, scratch_.data(), 0, 2, scratch_.data(), 1, 2);
            rendered_ += static_cast<std::uint64_t>(n);
            const std::size_t samples = static_cast<std::size_t>(n) * 2;
            for (std::size_t i = 0; i < samples; ++i)
                out[i] += scratch_[i];
            out += samples;
            frames -= n;
        }
    }

    void prepare(const std::vector<MidiPreset>& presets) override
    {
        unloadRetired();
        std::vector<MidiPreset> wanted;
        for (const MidiPreset& p : presets) {
            const MidiPreset found = resolve(p);
            if (std::find(wanted.begin(), wanted.end(), found) == wanted.end())
                wanted.push_back(found);
        }
        // A tune that needs a preset the loaded view lacks gets a view of its own presets. The
        // old one goes after the new one is in; a view that fails to load leaves the old in
        // place, and the tune plays what it can.
        const auto inView = [this](const MidiPreset& p) {
            return std::find(inView_.begin(), inView_.end(), p) != inView_.end();
        };
        if (file_ && !std::all_of(wanted.begin(), wanted.end(), inView)) {
            for (const MidiPreset& p : pinned_)
                fl_.fluid_synth_unpin_preset(synth_, font_, p.bank, p.program);
            pinned_.clear();
            loadView(wanted);
        }
        // Load the new ones before letting the old ones go, so that an instrument both tunes
        // share is never dropped and read again.
        for (const MidiPreset& p : wanted) {
            if (std::find(pinned_.begin(), pinned_.end(), p) == pinned_.end())
                pin(p);
        }
        for (const MidiPreset& p : pinned_) {
            if (std::find(wanted.begin(), wanted.end(), p) == wanted.end())
                fl_.fluid_synth_unpin_preset(synth_, font_, p.bank, p.program);
        }
        pinned_ = std::move(wanted);
    }

private:
    FluidSynthEngine(const Fluid& fl, std::string path, fluid_settings_t* settings, fluid_synth_t* synth)
        : fl_(fl), path_(std::move(path)), settings_(settings), synth_(synth)
    { }

    // Loads the view holding `presets` in place of the font loaded now. False, and nothing
    // changed, when FluidSynth refuses it.
    bool loadView(const std::vector<MidiPreset>& presets)
    {
        std::string name = registerView(file_->view(presets));
        const int font = fl_.fluid_synth_sfload(synth_, name.c_str(), 0);
        if (font == FLUID_FAILED) {
            forgetView(name);
            return false;
        }
        if (font_ != FLUID_FAILED) {
            // No channel may keep a preset of the old view.
            for (int channel = 0; channel < kChannels; ++channel)
                fl_.fluid_synth_unset_program(synth_, channel);
            chosen_ = 0;
            retired_.push_back({font_, std::move(viewName_)});
        }
        font_ = font;
        viewName_ = std::move(name);
        inView_ = presets;
        unloadRetired();
        return true;
    }

    // Unloads the views replaced since, once nothing sounds. A font whose samples a voice still
    // plays is not freed by FluidSynth at once but by a timer thread of its own, later, while
    // the audio thread may be using the synthesiser: so it waits for silence here instead.
    void unloadRetired()
    {
        if (retired_.empty() || sounding())
            return;
        for (const auto& [font, name] : retired_) {
            fl_.fluid_synth_sfunload(synth_, font, 0);
            forgetView(name);
        }
        retired_.clear();
    }

    // Whether the font has the preset: the whole file's directory, not the loaded view.
    bool exists(int bank, int program) const
    {
        if (file_)
            return bank < 0x10000 && program < 128 &&
                   file_->directory().has({static_cast<std::uint16_t>(bank), static_cast<std::uint8_t>(program)});
        fluid_sfont_t* sfont = fl_.fluid_synth_get_sfont_by_id(synth_, font_);
        return sfont && fl_.fluid_sfont_get_preset(sfont, bank, program) != nullptr;
    }

    // The same substitutions the synthesiser makes when a program change names a preset
    // the font lacks.
    MidiPreset resolve(MidiPreset p) const
    {
        if (exists(p.bank, p.program))
            return p;
        if (p.bank == kDrumBank)
            return {kDrumBank, 0};
        if (exists(0, p.program))
            return {0, p.program};
        return {0, 0};
    }

    // The synthesiser computes whole blocks and hands them out piecemeal, so up to a block of
    // sound from before a silencing call is still waiting in it. Take it and throw it away.
    void dropBufferedFrames()
    {
        const std::uint64_t block =
            static_cast<std::uint64_t>(std::max(1, fl_.fluid_synth_get_internal_bufsize(synth_)));
        const int waiting = static_cast<int>((block - rendered_ % block) % block);
        if (waiting > 0 && waiting <= kScratchFrames) {
            fl_.fluid_synth_write_float(synth_, waiting, scratch_.data(), 0, 2, scratch_.data(), 1, 2);
            rendered_ += static_cast<std::uint64_t>(waiting);
        }
    }

    void pin(MidiPreset p) { fl_.fluid_synth_pin_preset(synth_, font_, p.bank, p.program); }

    // What a synthesiser plays on a channel nobody chose an instrument for: the piano, or the
    // standard kit on the drum channel. presetsOf() has them loaded for a tune that needs them.
    void choosePowerOnInstrument(int channel)
    {
        chosen_ |= 1u << channel;
        fl_.fluid_synth_program_select(synth_, channel, font_, channel == kDrumChannel ? kDrumBank : 0, 0);
    }

    const Fluid& fl_;
    std::string path_;
    fluid_settings_t* settings_; // the synth reads it for as long as it lives
    fluid_synth_t* synth_;
    int font_ = FLUID_FAILED;
    std::optional<SoundFontFile> file_; // null when the font is loaded whole
    std::string viewName_;
    std::vector<MidiPreset> inView_;
    std::vector<std::pair<int, std::string>> retired_; // views replaced while something sounded
    std::vector<MidiPreset> pinned_;
    std::uint32_t chosen_ = 0; // channels whose instrument is chosen since the last reset
    std::uint64_t rendered_ = 0;
    std::array<float, kScratchFrames * 2> scratch_{};
};

// Synthesisers are never deleted: tearing down a synth with dynamic sample loading, again and
// again, is where FluidSynth has been seen to crash. The pool hands a free one back out.
struct Pool {
    std::mutex mutex;
    std::vector<FluidSynthEngine*> free;
};

Pool& pool()
{
    static Pool* instance = new Pool;
    return *instance;
}

void giveBack(FluidSynthEngine* engine)
{
    {
        std::lock_guard lock(engine->mutex());
        // Silent, not merely released: the next owner's first block must not hear this one's
        // last notes ringing out.
        engine->reset();
        engine->soundOff();
        engine->prepare({});
    }
    std::lock_guard lock(pool().mutex);
    pool().free.push_back(engine);
}

} // namespace

bool openFluidSynth()
{
    return fluid() != nullptr;
}

std::shared_ptr<SynthEngine> acquireFluidSynth(const std::string& soundFontPath)
{
    FluidSynthEngine* engine = nullptr;
    {
        std::lock_guard lock(pool().mutex);
        auto& free = pool().free;
        const auto it = std::find_if(free.begin(), free.end(),
                                     [&](const FluidSynthEngine* e) { return e->path() == soundFontPath; });
        if (it != free.end()) {
            engine = *it;
            free.erase(it);
        }
    }
    if (!engine)
        engine = FluidSynthEngine::create(soundFontPath);
    if (!engine)
        return nullptr;
    return std::shared_ptr<SynthEngine>(engine, [](SynthEngine* e) { giveBack(static_cast<FluidSynthEngine*>(e)); });
}

} // namespace sound
