// SPDX-License-Identifier: GPL-3.0-or-later

#include "MciInterpreter.h"

#include "MciCommand.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <new>
#include <utility>

namespace sound {

namespace {

MciError dispatch(MciDevice& device, const MciCommand& command, std::string& answer)
{
    switch (command.verb) {
    case MciVerb::Open:
        return device.open(command, answer);
    case MciVerb::Close:
        return device.close(command, answer);
    case MciVerb::Play:
        return device.play(command, answer);
    case MciVerb::Stop:
        return device.stop(command, answer);
    case MciVerb::Status:
        return device.status(command, answer);
    }
    return MciError::UnrecognizedCommand;
}

} // namespace

MciInterpreter::MciInterpreter(DeviceFactory factory) : factory_(std::move(factory))
{ }

bool MciInterpreter::isOpen(std::string_view alias) const
{
    return aliases_.find(alias) != aliases_.end();
}

MciError MciInterpreter::openDevice(const MciCommand& command, std::string& answer)
{
    if (isOpen(command.alias))
        return MciError::DuplicateAlias;
    MciError error = MciError::DeviceNotInstalled;
    std::unique_ptr<MciDevice> device = factory_ ? factory_(command.type, error) : nullptr;
    if (!device)
        return error;
    const MciError opened = dispatch(*device, command, answer);
    if (opened == MciError::Ok)
        aliases_.emplace(command.alias, std::move(device));
    return opened;
}

std::uint32_t MciInterpreter::send(std::string_view text, char* reply, unsigned capacity)
{
    // The call reports in codes only; nothing may escape to the game's handler.
    try {
        return run(text, reply, capacity);
    } catch (const std::bad_alloc&) {
        return code(MciError::OutOfMemory);
    } catch (const std::exception&) {
        return code(MciError::Internal);
    }
}

std::uint32_t MciInterpreter::run(std::string_view text, char* reply, unsigned capacity)
{
    const MciParse parsed = parseMciCommand(text);
    if (parsed.error != MciError::Ok)
        return code(parsed.error);
    const MciCommand& command = parsed.command;

    std::string answer;
    MciError result;
    if (command.verb == MciVerb::Open) {
        result = openDevice(command, answer);
    } else {
        const auto it = aliases_.find(command.alias);
        if (it == aliases_.end())
            return code(MciError::InvalidDeviceName);
        result = dispatch(*it->second, command, answer);
        if (result == MciError::Ok && command.verb == MciVerb::Close)
            aliases_.erase(it);
    }
    if (result != MciError::Ok)
        return code(result);
    return code(writeReply(answer, reply, capacity));
}

MciError writeReply(std::string_view text, char* reply, unsigned capacity)
{
    if (!reply || capacity == 0)
        return MciError::Ok;
    const std::size_t fits = std::min<std::size_t>(text.size(), capacity - 1);
    std::memcpy(reply, text.data(), fits);
    reply[fits] = '\0';
    return fits < text.size() ? MciError::ParamOverflow : MciError::Ok;
}

} // namespace sound
