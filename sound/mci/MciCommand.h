// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "MciError.h"

#include <string>
#include <string_view>
#include <vector>

namespace sound {

enum class MciVerb { Open, Close, Play, Stop, Status };

// One parsed command. Words the interpreter matches (verb, alias, type, items) are lower case;
// the element of an open keeps its exact text, because it names a file.
struct MciCommand {
    MciVerb verb = MciVerb::Status;
    std::string alias;
    std::string element;
    std::string type;
    std::vector<std::string> items;
};

struct MciParse {
    MciError error = MciError::Ok;
    MciCommand command;
};

// Splits a command text into its parts. Never touches a device: whether the alias is open and
// whether the items make sense for the verb is the interpreter's and the device's business.
MciParse parseMciCommand(std::string_view text);

} // namespace sound
