// tarvik can: frames in cansend's syntax out, candump's lines in, on the module's one CAN
// controller (port 1). The controller stays open and configured for the rest of a session.
#include <cctype>
#include <chrono>
#include <cstdio>
#include <memory>

#include "Tarvik.h"
#include "tool.h"

namespace tarvik_tool {
namespace {

constexpr uint32_t kPort = 1;
constexpr uint32_t kDefaultBitrate = 500000;
constexpr uint32_t kStandardIdMax = 0x7FF;
constexpr uint32_t kExtendedIdMax = 0x1FFFFFFF;
constexpr uint64_t kMaxTimeoutSeconds = 86400;
// How often a receive looks again when the controller has nothing waiting.
constexpr DWORD kPollMilliseconds = 50;
// The status word of a receive that found no frame waiting.
constexpr uint32_t kNoMessage = 1;

struct CanArgs {
    std::string frame, bitrate, filter, count = "1", timeout = "10";
    bool loopback = false;
    bool log = false;
};

bool isHex(const std::string& text) {
    if (text.empty()) return false;
    for (unsigned char c : text)
        if (!std::isxdigit(c)) return false;
    return true;
}

// Opens the controller once per session, and sets its mode when asked for other settings than
// those it has (CANConfigureMode clears the message records, so not on every command).
void prepare(Tool& tool, const CanArgs& a, CLI::App* sub, const std::string& command,
             std::optional<bool> extended) {
    SessionState::Can& can = tool.state.can;
    const uint32_t bitrate = !a.bitrate.empty() ? number(a.bitrate, command + ": --bitrate")
                             : can.configured   ? can.bitrate
                                                : kDefaultBitrate;
    if (bitrate == 0) throw UsageError(command + ": --bitrate must not be 0");
    const bool loopback = sub->count("--loopback") + sub->count("--no-loopback") > 0 ? a.loopback
                                                                                     : can.loopback;
    const bool wantExtended = extended.value_or(can.extended);
    uint32_t filterId = 0, filterMask = 0;
    if (!a.filter.empty()) {
        const size_t colon = a.filter.find(':');
        if (colon == std::string::npos || !isHex(a.filter.substr(0, colon)) ||
            !isHex(a.filter.substr(colon + 1)))
            throw UsageError(command + ": --filter '" + a.filter + "' is not ID:MASK in hex (123:7FF)");
        filterId = number("0x" + a.filter.substr(0, colon), command + ": --filter ID", kExtendedIdMax);
        filterMask = number("0x" + a.filter.substr(colon + 1), command + ": --filter MASK");
    }
    if (!can.open) {
        // A failed open is refused again until CANClose: close it for the next command.
        if (CANOpen(kPort) != 1) {
            CANClose(kPort);
            throw Failure(command + ": the CAN controller did not open");
        }
        can.open = true;
        can.configured = false;
    }
    if (!can.configured || bitrate != can.bitrate || loopback != can.loopback ||
        wantExtended != can.extended) {
        can.configured = false;
        Tool::check(CANConfigureMode(kPort, wantExtended ? 1 : 0, bitrate, 0, loopback ? 1 : 0) == 1,
                    command, "the controller refused " + std::to_string(bitrate) + " bit/s");
        can = {true, true, wantExtended, bitrate, loopback};
    }
    if (!a.filter.empty())
        Tool::check(CANConfigureFilter(kPort, static_cast<int32_t>(filterId), filterMask, 1, 0) == 1,
                    command, "the controller refused the filter " + a.filter);
}

void addSettings(CLI::App* sub, CanArgs& a) {
    sub->add_option("--bitrate", a.bitrate, "bits per second (default 500000)");
    sub->add_flag("--loopback,!--no-loopback", a.loopback, "receive the controller's own frames");
    sub->add_option("--filter", a.filter, "accept only identifiers that match ID under MASK (hex)")
        ->type_name("ID:MASK");
}

}  // namespace

CanFrameText parseCanFrameText(const std::string& text) {
    const auto bad = [&text](const std::string& why) {
        return UsageError("CAN frame '" + text + "' " + why +
                          " (cansend syntax: 123#DEADBEEF, 12345678#01, 123#R)");
    };
    const size_t hash = text.find('#');
    if (hash == std::string::npos) throw bad("has no '#'");
    const std::string id = text.substr(0, hash), data = text.substr(hash + 1);
    if ((id.size() != 3 && id.size() != 8) || !isHex(id))
        throw bad("needs 3 hex digits (11-bit) or 8 (29-bit) before '#'");
    CanFrameText frame;
    frame.extended = id.size() == 8;
    frame.id = static_cast<uint32_t>(std::stoul(id, nullptr, 16));
    if (frame.id > (frame.extended ? kExtendedIdMax : kStandardIdMax))
        throw bad(frame.extended ? "has an identifier above 1FFFFFFF" : "has an identifier above 7FF");
    if (!data.empty() && (data[0] == 'R' || data[0] == 'r')) {
        frame.remote = true;
        if (data.size() > 2 || (data.size() == 2 && (data[1] < '0' || data[1] > '8')))
            throw bad("has a remote length other than 0 to 8");
        frame.remoteLength = data.size() == 2 ? static_cast<uint8_t>(data[1] - '0') : 0;
        return frame;
    }
    std::string digits;
    for (char c : data)
        if (c != '.') digits += c;
    if (!digits.empty() && !isHex(digits)) throw bad("has data that is not hex");
    if (digits.size() % 2 != 0) throw bad("has an odd number of data digits");
    if (digits.size() > 16) throw bad("has more than 8 data bytes");
    for (size_t i = 0; i < digits.size(); i += 2)
        frame.data.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return frame;
}

std::string candumpLine(const CanFrameText& f, bool log) {
    if (log) {
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
        char stamp[48];
        std::snprintf(stamp, sizeof stamp, "(%lld.%06lld) can1 ", static_cast<long long>(micros / 1000000),
                      static_cast<long long>(micros % 1000000));
        return stamp + formatCanFrameText(f);
    }
    char head[48];
    std::snprintf(head, sizeof head, f.extended ? "  can1  %08X   [%u] " : "  can1  %03X   [%u] ",
                  static_cast<unsigned>(f.id),
                  static_cast<unsigned>(f.remote ? f.remoteLength : f.data.size()));
    std::string line = head;
    if (f.remote) return line + " remote request";
    for (uint8_t b : f.data) {
        char byte[4];
        std::snprintf(byte, sizeof byte, " %02X", b);
        line += byte;
    }
    return line;
}

std::string formatCanFrameText(const CanFrameText& f) {
    char id[16];
    std::snprintf(id, sizeof id, f.extended ? "%08X#" : "%03X#", static_cast<unsigned>(f.id));
    std::string text = id;
    if (f.remote) return text + "R" + (f.remoteLength ? std::to_string(f.remoteLength) : "");
    for (uint8_t b : f.data) {
        char byte[4];
        std::snprintf(byte, sizeof byte, "%02X", b);
        text += byte;
    }
    return text;
}

void addCanCommands(CLI::App& app, Tool& tool) {
    auto* can = app.add_subcommand("can", "the CAN controller (port 1)");
    can->require_subcommand(1);
    auto a = std::make_shared<CanArgs>();

    auto* send = can->add_subcommand("send", "send one frame, ID#DATA as cansend writes it");
    send->add_option("FRAME", a->frame, "123#DEADBEEF, 12345678#01 (29-bit), 123#R2 (remote)")->required();
    addSettings(send, *a);
    send->callback([&tool, a, send] {
        const CanFrameText frame = parseCanFrameText(a->frame);
        prepare(tool, *a, send, "can send", frame.extended);
        Tool::check(CANConfigureMessage(kPort, frame.remote ? 1 : 0, frame.id, 0, 0, 1) == 1, "can send",
                    "the controller refused the message record");
        // A remote frame carries its length but no data: the buffer is only there to be pointed at.
        const std::vector<uint8_t> payload =
            frame.remote ? std::vector<uint8_t>(frame.remoteLength + 1u, 0) : frame.data;
        const auto length = static_cast<int32_t>(frame.remote ? frame.remoteLength : frame.data.size());
        uint32_t status = 0;
        Tool::check(CANWrite(kPort, payload.data(), length, &status) == 1, "can send",
                    "the library refused to send");
        Tool::check(status == 0, "can send", "the controller did not send it (status " +
                                                 std::to_string(status) + ")");
        tool.emit("can send", "", {{"frame", formatCanFrameText(frame)}, {"status", status}});
    });

    auto* recv = can->add_subcommand("recv", "print received frames as candump does");
    recv->add_option("--count", a->count, "frames to wait for")->capture_default_str();
    recv->add_option("--timeout", a->timeout, "give up after S seconds (0: never)")
        ->type_name("S")
        ->capture_default_str();
    recv->add_flag("-L,--log", a->log, "candump's log form: (time) can1 123#112233");
    addSettings(recv, *a);
    recv->callback([&tool, a, recv] {
        const uint32_t count = number(a->count, "can recv: --count", 1000000);
        if (count == 0) throw UsageError("can recv: --count must be at least 1");
        const uint32_t seconds = number(a->timeout, "can recv: --timeout", kMaxTimeoutSeconds);
        prepare(tool, *a, recv, "can recv", std::nullopt);
        Tool::check(CANConfigureMessage(kPort, 0, 0, 0, 0, 0) == 1, "can recv",
                    "the controller refused the receive record");
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        uint32_t received = 0;
        while (received < count) {
            uint8_t data[8] = {0};
            uint32_t status = 0;
            // CANRead answers 0 also when nothing was waiting: the status word tells which.
            const bool ok = CANRead(kPort, data, sizeof data, &status) == 1;
            Tool::check(ok || status == kNoMessage, "can recv",
                        "the controller could not receive (status " + std::to_string(status) + ")");
            if (ok) {
                uint32_t id = 0, length = 0, remote = 0;
                Tool::check(CANGetMessageParameter(kPort, &id, &length, &remote, nullptr, nullptr,
                                                   nullptr, 0) == 1,
                            "can recv", "the receive record could not be read back");
                CanFrameText frame;
                frame.id = id;
                // The record does not say which format the frame came in; an identifier beyond
                // 11 bits can only be an extended one.
                frame.extended = id > kStandardIdMax;
                frame.remote = remote != 0;
                if (length > sizeof data) length = sizeof data;
                if (frame.remote)
                    frame.remoteLength = static_cast<uint8_t>(length);
                else
                    frame.data.assign(data, data + length);
                ++received;
                const std::string text = formatCanFrameText(frame);
                tool.emit("can recv", candumpLine(frame, a->log),
                          {{"frame", text}, {"id", id}, {"extended", frame.extended},
                           {"remote", frame.remote}, {"data", byteArray(frame.data)}});
                continue;
            }
            if (seconds != 0 && std::chrono::steady_clock::now() >= deadline)
                throw Failure("can recv: " + std::to_string(received) + " of " + std::to_string(count) +
                              " frames within " + std::to_string(seconds) + " s");
            Sleep(kPollMilliseconds);
        }
    });

    auto* close = can->add_subcommand("close", "close the controller");
    close->callback([&tool] {
        CANClose(kPort);
        tool.state.can.open = false;
        tool.state.can.configured = false;
        tool.emit("can close", "");
    });
}

}  // namespace tarvik_tool
