// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "MciDevice.h"
#include "MciError.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace sound {

// The command-string call: parse, find the device by alias, run the verb, copy the reply.
// Runs on the UI thread only; failures come back as codes and are never thrown.
class MciInterpreter {
public:
    // Makes an unopened device of a type (already lower case), or says why it cannot.
    using DeviceFactory = std::function<std::unique_ptr<MciDevice>(std::string_view type, MciError& error)>;

    explicit MciInterpreter(DeviceFactory factory);

    std::uint32_t send(std::string_view command, char* reply, unsigned capacity);

    bool isOpen(std::string_view alias) const;

private:
    std::uint32_t run(std::string_view command, char* reply, unsigned capacity);
    MciError openDevice(const MciCommand& command, std::string& answer);

    DeviceFactory factory_;
    std::map<std::string, std::unique_ptr<MciDevice>, std::less<>> aliases_;
};

// Copies `text` into a caller's buffer of `capacity` characters, NUL included. Nothing is
// written when there is no buffer; a reply that does not fit is cut and reported as overflow.
MciError writeReply(std::string_view text, char* reply, unsigned capacity);

} // namespace sound
