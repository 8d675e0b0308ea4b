// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "MciCommand.h"
#include "MciError.h"

#include <string>

namespace sound {

// A device behind an alias: one function per verb, all of one shape. `reply` receives the
// answer text, if the verb has one; the interpreter copies it to the caller's buffer.
class MciDevice {
public:
    virtual ~MciDevice() = default;
    virtual MciError open(const MciCommand& command, std::string& reply) = 0;
    virtual MciError close(const MciCommand& command, std::string& reply) = 0;
    virtual MciError play(const MciCommand& command, std::string& reply) = 0;
    virtual MciError stop(const MciCommand& command, std::string& reply) = 0;
    virtual MciError status(const MciCommand& command, std::string& reply) = 0;
};

} // namespace sound
