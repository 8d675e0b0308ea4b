// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "Form.h"
#include "Shell.h"
#include "SoundPlatform.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace testing_support {

// Records every command and effect request; answers the mode query with `mode`.
class RecordingPlatform : public sound::SoundPlatform {
public:
    struct Effect {
        std::string path;
        std::uint32_t flags;
    };

    std::uint32_t mciSendString(std::string_view command, char* reply, unsigned capacity) override
    {
        commands.emplace_back(command);
        if (command == "status midifile mode" && !mode.empty() && reply && capacity > 0) {
            std::string text = mode.substr(0, capacity - 1);
            std::copy(text.begin(), text.end(), reply);
            reply[text.size()] = '\0';
            return 0;
        }
        return 0;
    }

    bool sndPlaySound(const std::string& path, std::uint32_t flags) override
    {
        effects.push_back({path, flags});
        return true;
    }

    std::vector<std::string> takeCommands() { return std::exchange(commands, {}); }
    std::vector<Effect> takeEffects() { return std::exchange(effects, {}); }

    std::vector<std::string> commands;
    std::vector<Effect> effects;
    std::string mode; // what "status midifile mode" answers; empty answers nothing
};

// The desktop in a test: the message box runs `whileBoxOpen` and returns, as if the player had
// closed it then.
class FakeShell : public form::Shell {
public:
    void showForm(form::Form& form) override { shown.push_back(&form); }
    void discardForm(std::unique_ptr<form::Form> form) override
    {
        discarded.push_back(form.get());
        form.reset();
    }
    void messageBox(const std::string& prompt, const std::string& title) override
    {
        boxes.push_back({prompt, title});
        ++openBoxes;
        if (whileBoxOpen)
            whileBoxOpen();
        --openBoxes;
    }
    std::string programDirectory() const override { return directory; }
    void endProgram() override { ++endCalls; }

    struct Box {
        std::string prompt;
        std::string title;
    };
    std::string directory = "/opt/ombura";
    std::vector<form::Form*> shown;
    std::vector<form::Form*> discarded;
    std::vector<Box> boxes;
    std::function<void()> whileBoxOpen;
    int openBoxes = 0;
    int endCalls = 0;
};

} // namespace testing_support
