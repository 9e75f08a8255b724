// tarvik uart: text out of and into the serial ports COM1 and COM2. The port stays open for the
// rest of a session with the settings it was opened with; giving --baud, --flow or --format
// opens it again with those.
#include <cctype>
#include <chrono>
#include <cstdio>
#include <functional>
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
                        timeout = "10", on;
};

// The library's read gives up on the rest of its bytes 30 s after the last one came.
constexpr int kLibraryByteGapSeconds = 30;

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

// The text to send, its C escapes read. The library sends a zero-terminated string, so a zero
// byte cannot be sent.
std::string unescape(const std::string& text) {
    std::string bytes, problem;
    if (!unescapeText(text, bytes, problem)) throw UsageError("uart send: TEXT has an " + problem);
    if (bytes.find('\0') != std::string::npos)
        throw UsageError("uart send: TEXT cannot hold a zero byte (\\x00)");
    return bytes;
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

// Reads up to `count` bytes on `port` with UARTRead, which flushes the port, waits for bytes to
// arrive and reads what came. `send` (if any) runs once the read waits, so that an answer to it
// cannot be flushed. `seconds` (0: no limit) bounds the wait for the first byte; once bytes have
// arrived the read is let finish, which the library does when `count` came or 30 s after the
// last one. A read given up is ended by closing the port, which is what makes UARTRead return.
std::string readAnswer(Tool& tool, uint32_t port, uint32_t count, uint32_t seconds,
                       const std::string& command, const std::function<void()>& send) {
    const std::string name = "COM" + std::to_string(port);
    uint8_t buffer[5] = {0};
    auto read = std::async(std::launch::async, [port, count, &buffer] {
        return UARTRead(port, count, buffer) == 1;
    });
    auto done = [&read](std::chrono::milliseconds wait) {
        return read.wait_for(wait) == std::future_status::ready;
    };
    auto cancel = [&] {
        UARTClose(port);
        tool.state.uartOpen[port] = false;
        read.get();
    };
    // The read flushes the port before it waits: nothing is sent until it waits.
    const auto startBy = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    bool waiting = false;
    while (!done(std::chrono::milliseconds(0)) && !(waiting = serialCallWaiting(port, 10))) {
        if (std::chrono::steady_clock::now() > startBy) {
            cancel();
            throw Failure(command + ": the read on " + name + " did not start");
        }
    }
    const uint64_t before = serialBytesArrived(port);
    if (send) {
        try {
            send();
        } catch (...) {
            cancel();
            throw;
        }
    }
    const auto firstBy = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    bool arrived = false;
    while (!done(std::chrono::milliseconds(10))) {
        if (serialBytesArrived(port) != before) {
            arrived = true;
            break;
        }
        if (seconds != 0 && std::chrono::steady_clock::now() > firstBy) {
            cancel();
            throw Failure(command + ": nothing arrived on " + name + " within " +
                          std::to_string(seconds) + " s (the port was closed)");
        }
    }
    if (arrived) {
        const auto lastChance = std::chrono::seconds(kLibraryByteGapSeconds * count + 5);
        if (!done(lastChance)) {
            cancel();
            throw Failure(command + ": bytes arrived on " + name + ", but the read did not end within " +
                          std::to_string(lastChance.count()) + " s; the port was closed and they are lost");
        }
    }
    Tool::check(read.get(), command, name + " could not be read");
    return std::string(reinterpret_cast<const char*>(buffer));
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

    auto* recv = uart->add_subcommand(
        "recv",
        "wait for bytes to arrive, then read up to N (1 to 4). The read starts afresh: bytes that "
        "came before it are dropped. Once bytes come, it ends when N have come or 30 s after the "
        "last one (the library's limit), so ask for as many as you expect");
    recv->add_option("PORT", a->port, "port 1 or 2")->required();
    recv->add_option("N", a->count, "bytes to read, 1 to 4")->capture_default_str();
    recv->add_option("--timeout", a->timeout, "give up when nothing arrived within S seconds (0: never)")
        ->type_name("S")
        ->capture_default_str();
    addSettings(recv, *a);
    recv->callback([&tool, a, recv] {
        const uint32_t port = portNumber(a->port, "uart recv");
        const uint32_t count = number(a->count, "uart recv: N", 4);
        if (count == 0) throw UsageError("uart recv: N must be 1 to 4");
        const uint32_t seconds = number(a->timeout, "uart recv: --timeout", kMaxTimeoutSeconds);
        ensureOpen(tool, *a, recv, port, "uart recv");
        const std::string text = readAnswer(tool, port, count, seconds, "uart recv", nullptr);
        tool.emit("uart recv", printable(text),
                  {{"port", port}, {"text", printable(text)}, {"bytes", byteArray({text.begin(), text.end()})}});
    });

    auto* ask = uart->add_subcommand(
        "ask",
        "send TEXT on PORT and read the answer, up to N bytes (1 to 4), on PORT or the port given "
        "with --on (the other end of a cable); the read waits before the text goes out, so a quick "
        "answer is not lost. Ends as recv does");
    ask->add_option("PORT", a->port, "port 1 or 2 to send on")->required();
    ask->add_option("TEXT", a->text, "what to send (escapes \\r \\n \\t \\xHH)")->required();
    ask->add_option("N", a->count, "bytes of the answer to read, 1 to 4")->capture_default_str();
    ask->add_option("--on", a->on, "the port the answer arrives on (default: PORT)")->type_name("PORT");
    ask->add_option("--timeout", a->timeout, "give up when nothing arrived within S seconds of the send (0: never)")
        ->type_name("S")
        ->capture_default_str();
    addSettings(ask, *a);
    ask->callback([&tool, a, ask] {
        const uint32_t port = portNumber(a->port, "uart ask");
        const uint32_t on = a->on.empty() ? port : portNumber(a->on, "uart ask: --on");
        const std::string text = unescape(a->text);
        const uint32_t count = number(a->count, "uart ask: N", 4);
        if (count == 0) throw UsageError("uart ask: N must be 1 to 4");
        const uint32_t seconds = number(a->timeout, "uart ask: --timeout", kMaxTimeoutSeconds);
        ensureOpen(tool, *a, ask, port, "uart ask");
        if (on != port) ensureOpen(tool, *a, ask, on, "uart ask");
        const std::string answer = readAnswer(tool, on, count, seconds, "uart ask", [&] {
            Tool::check(UARTWrite(port, text.c_str()) == 1, "uart ask",
                        "COM" + std::to_string(port) + " did not send");
        });
        tool.emit("uart ask", printable(answer),
                  {{"port", port}, {"on", on}, {"sent", printable(text)}, {"text", printable(answer)},
                   {"bytes", byteArray({answer.begin(), answer.end()})}});
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
