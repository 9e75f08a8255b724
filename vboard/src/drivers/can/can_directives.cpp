// The CAN directive of a board configuration: "can inject 123#DEADBEEF", "can clock <hz>",
// "can rx-wait <ms>", "can log <file>|off", "can bus <name>|off", "can reset".
#include <cerrno>
#include <cstring>

#include "drivers/can/can_controller.h"

namespace vboard {

std::string canDirective(CanController& can, const std::vector<std::string>& words) {
    const std::string usage =
        "expected: can inject <frame> | can clock <hz> | can rx-wait <ms> | can log <file>|off | "
        "can bus <name>|off | can reset";
    const std::string sub = words.size() > 1 ? words[1] : "";
    if (sub == "reset" && words.size() == 2) {
        can.reset();
        return "";
    }
    if (words.size() != 3) return usage;
    if (sub == "bus") {
        if (words[2] == "off") {
            can.leaveBus();
            return "";
        }
        return can.joinBus(words[2]);
    }
    if (sub == "inject") {
        auto frame = parseCanFrame(words[2]);
        if (!frame) return "not a CAN frame: '" + words[2] + "' (expected e.g. 123#DEADBEEF)";
        can.inject(*frame);
        return "";
    }
    if (sub == "clock") {
        uint32_t hz = 0;
        if (!parseDword(words[2], hz) || hz == 0) return "expected: can clock <hz>, above 0";
        can.setBaseClock(hz);
        return "";
    }
    if (sub == "rx-wait") {
        uint64_t ms = 0;
        if (!parseUnsigned(words[2], kCanMaxReceiveWait, ms))
            return "expected: can rx-wait <ms>, at most " + std::to_string(kCanMaxReceiveWait);
        can.setReceiveWait(static_cast<DWORD>(ms));
        return "";
    }
    if (sub == "log") {
        const std::string path = words[2] == "off" ? "" : words[2];
        if (!can.logTo(path)) return "can't open " + path + ": " + std::strerror(errno);
        return "";
    }
    return usage;
}

}  // namespace vboard
