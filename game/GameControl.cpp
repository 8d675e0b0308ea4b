// SPDX-License-Identifier: GPL-3.0-or-later

#include "Form1.h"

#include "Layouts.h"
#include "PictureTable.h"

namespace game {

using form::Event;

Form1::Form1(form::TimerHost& timers, sound::Multimedia32& sound, form::Shell& shell, TimeOfDay timeOfDay)
    : timers_(timers),
      sound_(sound),
      shell_(shell),
      timeOfDay_(std::move(timeOfDay)),
      form_(form::form1Layout(), &timers)
{
    assets::applyPictures(form_);
    connectHandlers();
}

Form1::~Form1() = default;

void Form1::connectHandlers()
{
    struct Binding {
        std::string_view element;
        Event event;
        void (Form1::*handler)();
    };
    // clang-format off
    static constexpr Binding kHandlers[] = {
        {"mnuStart",   Event::Click,     &Form1::mnuStart_Click},
        {"mnuStop",    Event::Click,     &Form1::mnuStop_Click},
        {"mnuSethu",   Event::Click,     &Form1::mnuSethu_Click},
        {"mnuExit",    Event::Click,     &Form1::mnuExit_Click},
        {"mnuAtogaki", Event::Click,     &Form1::mnuAtogaki_Click},
        {"Image3",     Event::MouseDown, &Form1::Image3_MouseDown},
        {"Image4",     Event::Click,     &Form1::Image4_Click},
        {"Command1",   Event::Click,     &Form1::Command1_Click},
        {"Command2",   Event::Click,     &Form1::Command2_Click},
        {"Timer1",     Event::Timer,     &Form1::Timer1_Timer},
        {"Timer2",     Event::Timer,     &Form1::Timer2_Timer},
        {"Timer3",     Event::Timer,     &Form1::Timer3_Timer},
        {"Timer4",     Event::Timer,     &Form1::Timer4_Timer},
        {"bgm",        Event::Timer,     &Form1::bgm_Timer},
    };
    // clang-format on
    for (const Binding& b : kHandlers)
        form_.on(b.element, b.event, [this, h = b.handler] { (this->*h)(); });
}

void Form1::Form_Load()
{
    const DataPaths paths = dataPaths(shell_.programDirectory(), '/');
    state_.musicPath = paths.music;
    state_.spinSoundPath = paths.spinSound;
    state_.warningSoundPath = paths.warningSound;
    state_.slashSoundPath = paths.slashSound;
    StopGame();
    form_.menuEntry("mnuSethu").enabled = false;
    form_.changed();
}

void Form1::StopGame()
{
    state_.level = 1;
    spinStep_ = 0;
    timer("Timer1").setEnabled(false);
    timer("Timer2").setEnabled(false);
    timer("Timer3").setEnabled(false);
    el("Image3").setEnabled(false);
    el("Image4").setEnabled(false);
    timer("bgm").setEnabled(false);
    state_.score = 0;
    sound_.OpenMusic(state_.musicPath);
    state_.idleTicks = 0;
    el("Label7").setCaption("10");
    el("Image4").takePictureOf(el("Image20"));
    el("Image15").setVisible(false);
    el("Image5").takePictureOf(el("Image24"));
    el("Image7").takePictureOf(el("Image22"));
    el("Image6").takePictureOf(el("Image21"));
    el("Image8").takePictureOf(el("Image23"));
}

void Form1::mnuStart_Click()
{
    // Start does not end a running game first: the counters carry on and only the score
    // display goes back to "0", as the game has always done.
    timer("Timer1").setEnabled(false);
    timer("Timer2").setEnabled(true);
    timer("Timer3").setEnabled(true);
    el("Image3").setEnabled(true);
    el("Image4").setEnabled(false);
    sound_.RestartMusic();
    timer("bgm").setEnabled(true);
    el("Label9").setCaption("0");
}

void Form1::mnuStop_Click()
{
    StopGame();
}

void Form1::mnuExit_Click()
{
    sound_.CloseMusic();
    shell_.endProgram();
}

void Form1::bgm_Timer()
{
    // The sequence has played to its end: start it again from the top.
    if (sound_.GetMusicMode() == "STOPPED") {
        sound_.CloseMusic();
        sound_.OpenMusic(state_.musicPath);
        sound_.RestartMusic();
    }
}

} // namespace game
