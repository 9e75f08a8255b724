// tarvik uart: text out of and into the serial ports COM1 and COM2. The port stays open for the
// rest of a session with the settings it was opened with; giving --baud, --flow or --format
// opens it again with those.
#include <cctype>
#include <chrono>
#include <cstdio>
#include <future>
#include <memory>
#include <thread>

#include "Tarvik.h"
#include "tool.h"

namespace tarvik_tool {
namespace {

constexpr uint64_t kMaxTimeoutSeconds = 86400;

struct UartArgs {
    std::string port, text, count = "4", baud = "115200", flow = "none", format = "8N1",
                        timeout = "10";
};

struct Format {
    int32_t byteSize, parity, stopBits;
};

// "8N1": data bits 5 to 8, parity N/O/E/M/S, stop bits 1 or 2, in the DCB's numbering.
Format parseFormat(const std::string& text) {
    static const std::string kParities = "NOEMS";
    if (text.size() != 3 || text[0] < '5' || text[0] > '8' ||
        kParities.find(static_cast<char>(std::toupper(static_cast<unsigned char>(text[1])))) ==
            std::string::npos ||
        (text[2] != '1' && text[2] != '2'))
        throw UsageError("uart: --format '" + text +
                         "' is not data bits, parity and stop bits like 8N1 (5-8, N/O/E/M/S, 1 or 2)");
    return {text[0] - '0',
            static_cast<int32_t>(kParities.find(static_cast<char>(std::toupper(static_cast<unsigned char>(text[1]))))),
            text[2] == '1' ? ONESTOPBIT : TWOSTOPBITS};
}

// C escapes in the text to send: \r \n \t \\ \xHH. The library sends a zero-terminated string,
// so a zero byte cannot be sent.
std::string unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        if (c == 'r') out += '\r';
        else if (c == 'n') out += '\n';
        else if (c == 't') out += '\t';
        else if (c == '\\') out += '\\';
        else if (c == 'x' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
                 std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            const auto value = static_cast<char>(std::stoul(text.substr(i + 1, 2), nullptr, 16));
            if (value == 0) throw UsageError("uart send: TEXT cannot hold a zero byte (\\x00)");
            out += value;
            i += 2;
        } else
            throw UsageError(std::string("uart send: TEXT has an unknown escape '\\") + c +
                             "' (known: \\r \\n \\t \\\\ \\xHH)");
    }
    return out;
}

std::string printable(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        char esc[8];
        if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else if (c == '\\') out += "\\\\";
        else if (std::isprint(c)) out += static_cast<char>(c);
        else {
            std::snprintf(esc, sizeof esc, "\\x%02x", c);
            out += esc;
        }
    }
    return out;
}

uint32_t portNumber(const std::string& text, const std::string& command) {
    const uint32_t port = number(text, command + ": PORT", 3);
    if (port == 0) throw UsageError(command + ": PORT must be 1, 2 or 3");
    return port;
}

// Opens the port when the session has not, or when settings were given.
void ensureOpen(Tool& tool, const UartArgs& a, CLI::App* sub, uint32_t port, const std::string& command) {
    const bool settings = sub->count("--baud") + sub->count("--flow") + sub->count("--format") > 0;
    const int32_t flow = static_cast<int32_t>(choice(a.flow, command + ": --flow", {"none", "hw", "sw"}));
    const uint32_t baud = number(a.baud, command + ": --baud", INT32_MAX);
    if (baud == 0) throw UsageError(command + ": --baud must not be 0");
    const Format f = parseFormat(a.format);
    if (tool.state.uartOpen[port] && !settings) return;
    const std::string name = "COM" + std::to_string(port);
    tool.state.uartOpen[port] = false;
    // A port that failed to open, or to take its settings, stays refused until UARTClose.
    if (UARTOpen(port, flow, static_cast<int32_t>(baud)) != 1) {
        UARTClose(port);
        throw Failure(command + ": " + name + " did not open");
    }
    // UARTRead paces itself by the rate of the last UARTConfigure, so the port is always
    // configured once opened.
    if (UARTConfigure(port, flow, f.parity, f.stopBits, f.byteSize, static_cast<int32_t>(baud)) != 1) {
        UARTClose(port);
        throw Failure(command + ": " + name + " refused the settings");
    }
    tool.state.uartOpen[port] = true;
}

void addSettings(CLI::App* sub, UartArgs& a) {
    sub->add_option("--baud", a.baud, "baud rate")->capture_default_str();
    sub->add_option("--flow", a.flow, "none, hw (RTS/CTS) or sw (XON/XOFF)")->capture_default_str();
    sub->add_option("--format", a.format, "data bits, parity, stop bits")->capture_default_str();
}

}  // namespace

void addUartCommands(CLI::App& app, Tool& tool) {
    auto* uart = app.add_subcommand("uart", "serial ports 1 (COM1) and 2 (COM2)");
    uart->require_subcommand(1);
    auto a = std::make_shared<UartArgs>();

    auto* send = uart->add_subcommand("send", "send TEXT (escapes \\r \\n \\t \\xHH) and wait until it is out");
    send->add_option("PORT", a->port, "port 1 or 2")->required();
    send->add_option("TEXT", a->text, "what to send")->required();
    addSettings(send, *a);
    send->callback([&tool, a, send] {
        const uint32_t port = portNumber(a->port, "uart send");
        const std::string text = unescape(a->text);
        ensureOpen(tool, *a, send, port, "uart send");
        Tool::check(UARTWrite(port, text.c_str()) == 1, "uart send",
                    "COM" + std::to_string(port) + " did not send");
        tool.emit("uart send", "", {{"port", port}, {"text", printable(text)}});
    });

    auto* recv = uart->add_subcommand("recv", "wait for bytes arriving, then read up to N (1 to 4)");
    recv->add_option("PORT", a->port, "port 1 or 2")->required();
    recv->add_option("N", a->count, "bytes to read, 1 to 4")->capture_default_str();
    recv->add_option("--timeout", a->timeout, "give up after S seconds (0: never)")
        ->type_name("S")
        ->capture_default_str();
    addSettings(recv, *a);
    recv->callback([&tool, a, recv] {
        const uint32_t port = portNumber(a->port, "uart recv");
        const uint32_t count = number(a->count, "uart recv: N", 4);
        if (count == 0) throw UsageError("uart recv: N must be 1 to 4");
        const uint32_t seconds = number(a->timeout, "uart recv: --timeout", kMaxTimeoutSeconds);
        ensureOpen(tool, *a, recv, port, "uart recv");
        // UARTRead blocks until bytes arrive. It runs on a thread of its own; when the time is up
        // the port is closed, which wakes the wait and makes the read fail.
        uint8_t buffer[5] = {0};
        auto read = std::async(std::launch::async, [port, count, &buffer] {
            return UARTRead(port, count, buffer) == 1;
        });
        bool timedOut = false;
        if (seconds != 0 && read.wait_for(std::chrono::seconds(seconds)) != std::future_status::ready) {
            timedOut = true;
            UARTClose(port);
            tool.state.uartOpen[port] = false;
        }
        const bool ok = read.get();
        const std::string name = "COM" + std::to_string(port);
        if (timedOut) throw Failure("uart recv: nothing arrived on " + name + " within " +
                                    std::to_string(seconds) + " s (the port was closed)");
        Tool::check(ok, "uart recv", name + " could not be read");
        const std::string text(reinterpret_cast<const char*>(buffer));
        tool.emit("uart recv", printable(text),
                  {{"port", port}, {"text", printable(text)}, {"bytes", byteArray({buffer, buffer + text.size()})}});
    });

    auto* close = uart->add_subcommand("close", "close a port");
    close->add_option("PORT", a->port, "port 1 or 2")->required();
    close->callback([&tool, a] {
        const uint32_t port = portNumber(a->port, "uart close");
        UARTClose(port);
        tool.state.uartOpen[port] = false;
        tool.emit("uart close", "", {{"port", port}});
    });
}

}  // namespace tarvik_tool
