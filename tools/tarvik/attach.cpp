// tarvik --attach PID|PATH COMMAND: the commands that act on a running application's board
// through the socket its board listens on (VBOARD_LISTEN), instead of on a board of the tool's
// own. The board commands send their directives; the streaming commands (gpio monitor, can dump,
// uart read, trace -f) watch the board's events until Ctrl-C, a closed pipe, a count reached or
// the application's end.
#include <signal.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>

#include "attach_client.h"
#include "tool.h"

namespace tarvik_tool {
namespace {

volatile sig_atomic_t stopRequested = 0;
constexpr int kStopCheckMilliseconds = 200;
void requestStop(int) { stopRequested = 1; }

// Ctrl-C, a hang-up or a kill ends a stream cleanly, with status 0: the handler only sets the
// flag, which the stream looks at between its short waits for the board's next line. A reader
// that went away (| head) is a write error on stdout, not a SIGPIPE.
void catchStopSignals() {
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
}

struct Attached {
    Attached(std::string target_, Tool& tool_) : target(std::move(target_)), tool(tool_) {}
    std::string target;
    Tool& tool;
    AttachClient link;
    bool quiet = false;

    void open(const std::string& command) {
        if (link.fd() >= 0) return;
        std::string error;
        if (!link.connect(target, error)) throw Failure(command + ": " + error);
        ask(command, "json on");
    }

    // One command, its answer as an object: {"ok":true,...}. A refusal is the board's reason;
    // a board that went away is a failure.
    Json ask(const std::string& command, const std::string& line) {
        open(command);
        const std::optional<std::string> reply = link.command(line);
        if (!reply)
            throw Failure(command + ": the application's board closed the connection (the application ended)");
        const std::string& answer = *reply;
        Json object = Json::parse(answer, nullptr, false);
        if (object.is_object() && object.contains("ok")) {
            if (object["ok"] == true) return object;
            throw UsageError(command + ": " + object.value("error", std::string("refused")));
        }
        // A text answer (before json on took effect): "ok ..." or "error: ...".
        if (answer.rfind("ok", 0) == 0) return Json{{"ok", true}};
        throw UsageError(command + ": " + (answer.rfind("error: ", 0) == 0 ? answer.substr(7) : answer));
    }

    // Watches `kinds` and hands each event to `onEvent` until it answers false, the user stops
    // the tool, stdout's reader goes away or the board does. Exit status 0 in each case.
    int stream(const std::string& command, const std::vector<std::string>& kinds,
               const std::function<bool(const Json&)>& onEvent) {
        catchStopSignals();
        for (const std::string& kind : kinds) ask(command, "watch " + kind);
        // Said once the board streams, so that a person (or a script) knows from when on
        // nothing is missed.
        if (!quiet) std::cerr << "tarvik: " << command << ": watching " << target << " (Ctrl-C ends)" << std::endl;
        while (!stopRequested) {
            // A short wait, so that Ctrl-C is seen soon whatever the board does.
            const std::optional<std::string> line = link.readLine(kStopCheckMilliseconds);
            if (!line && link.fd() >= 0) continue;
            if (!line) {
                std::cout.flush();
                std::cerr << "tarvik: " << command << ": the application's board closed the connection "
                          << "(the application ended)\n";
                return kExitOk;
            }
            const Json event = Json::parse(*line, nullptr, false);
            if (!event.is_object() || !event.contains("event")) continue;
            if (event["event"] == "dropped") {
                std::cout.flush();
                std::cerr << "tarvik: " << command << ": the board dropped " << event.value("count", 0)
                          << " events this reader was too slow to take\n";
                continue;
            }
            if (!onEvent(event)) break;
            std::cout.flush();
            if (!std::cout) break;  // the reader of stdout went away
        }
        std::cout.flush();
        return kExitOk;
    }
};

// The board's clock in seconds with microseconds, from an event's "t" (microseconds).
std::string seconds(const Json& event) {
    const auto t = event.value("t", static_cast<uint64_t>(0));
    char text[32];
    std::snprintf(text, sizeof text, "%llu.%06llu", static_cast<unsigned long long>(t / 1000000),
                  static_cast<unsigned long long>(t % 1000000));
    return text;
}

// A serial port as the protocol names it: 1, 2, COM1 or COM2.
std::string portName(const std::string& text, const std::string& command) {
    std::string digits = text;
    if (digits.size() > 3 && (digits.compare(0, 3, "COM") == 0 || digits.compare(0, 3, "com") == 0))
        digits = digits.substr(3);
    if (digits != "1" && digits != "2")
        throw UsageError(command + ": PORT '" + text + "' is not 1, 2, COM1 or COM2");
    return "COM" + digits;
}

// The bytes of TEXT (escapes \r \n \t \\ \xHH), as the wire's escapes: everything but letters
// and digits goes as \xHH, so that blanks, '#' and quotes reach the port as they are.
std::string wireText(const std::string& text, const std::string& command) {
    std::string wire;
    const auto put = [&wire](unsigned char c) {
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\x%02x", c);
        wire += std::isalnum(c) ? std::string(1, static_cast<char>(c)) : std::string(escape);
    };
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            put(static_cast<unsigned char>(text[i]));
            continue;
        }
        const char c = text[++i];
        if (c == 'r' || c == 'n' || c == 't' || c == '\\')
            put(c == 'r' ? '\r' : c == 'n' ? '\n' : c == 't' ? '\t' : '\\');
        else if (c == 'x' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
                 std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            put(static_cast<unsigned char>(std::stoul(text.substr(i + 1, 2), nullptr, 16)));
            i += 2;
        } else
            throw UsageError(command + ": TEXT has an unknown escape '\\" + std::string(1, c) +
                             "' (known: \\r \\n \\t \\\\ \\xHH)");
    }
    if (wire.empty()) throw UsageError(command + ": TEXT is empty");
    return wire;
}

std::vector<uint8_t> bytesOfHex(const std::string& hex) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

struct StreamArgs {
    std::vector<std::string> pins;
    std::string port, text;
    uint64_t count = 0;  // events (bytes for uart read) before it ends; 0: until stopped
    bool rising = false, falling = false, log = false, raw = false, follow = false;
};

void addAttachedCommands(CLI::App& app, const std::shared_ptr<Attached>& at) {
    Tool& tool = at->tool;
    auto a = std::make_shared<StreamArgs>();
    auto boardArgs = std::make_shared<BoardArgs>();

    auto* board = app.add_subcommand("board", "the application's board");
    board->require_subcommand(1);
    board->add_subcommand("show", "pins, buses, ports, CAN, handles, faults and the board's clock")
        ->callback([&tool] { showAttachedBoard(tool); });
    addBoardArguments(board, boardArgs, [at, &tool](const std::string& command, const BoardDirective& d) {
        at->ask(command, d.directive);
        tool.emit(command, "", d.fields);
    });

    auto* gpio = app.add_subcommand("gpio", "the application's pins");
    gpio->require_subcommand(1);
    auto* monitor = gpio->add_subcommand("monitor", "print each level change of the pins, as gpiomon does");
    monitor->add_option("PIN", a->pins, "module indices (2) or bank.pin (0.4); none: every pin");
    monitor->add_flag("-r,--rising-edge", a->rising, "only rising edges");
    monitor->add_flag("-f,--falling-edge", a->falling, "only falling edges");
    monitor->add_option("-n,--num-events", a->count, "end after this many events");
    monitor->callback([at, a, &tool] {
        std::vector<std::string> pads;
        for (const std::string& pin : a->pins) pads.push_back(padOf(pin, "gpio monitor"));
        uint64_t seen = 0;
        throw SessionExit{at->stream("gpio monitor", {"gpio"}, [&](const Json& e) {
            if (e["event"] != "gpio") return true;
            const std::string pad = e.value("pad", std::string());
            const bool rising = e.value("level", 0) != 0;
            if (!pads.empty() && std::find(pads.begin(), pads.end(), pad) == pads.end()) return true;
            if ((a->rising || a->falling) && !(rising ? a->rising : a->falling)) return true;
            const Json index = e.contains("index") ? e["index"] : Json(nullptr);
            const std::string where = index.is_number() ? index.dump() : "-";
            tool.emit("gpio monitor",
                      std::string("event: ") + (rising ? " RISING EDGE" : "FALLING EDGE") + " index: " + where +
                          " pad: " + pad + " timestamp: [" + seconds(e) + "]",
                      {{"index", index}, {"pad", pad}, {"edge", rising ? "rising" : "falling"},
                       {"t", e.value("t", 0)}});
            return a->count == 0 || ++seen < a->count;
        })};
    });

    auto* can = app.add_subcommand("can", "the application's CAN bus");
    can->require_subcommand(1);
    auto* dump = can->add_subcommand("dump", "print every frame on the bus, as candump does");
    dump->add_flag("-L,--log", a->log, "candump's log form, stamped with the board's clock");
    dump->add_option("-n", a->count, "end after this many frames");
    dump->callback([at, a, &tool] {
        uint64_t seen = 0;
        throw SessionExit{at->stream("can dump", {"can"}, [&](const Json& e) {
            if (e["event"] != "can") return true;
            CanFrameText frame;
            frame.id = static_cast<uint32_t>(std::stoul(e.value("id", std::string("0")), nullptr, 16));
            frame.extended = e.value("extended", false);
            frame.remote = e.value("rtr", false);
            frame.data = bytesOfHex(e.value("data", std::string()));
            if (frame.remote) {
                frame.remoteLength = static_cast<uint8_t>(frame.data.size());
                frame.data.clear();
            }
            const std::string text = formatCanFrameText(frame);
            tool.emit("can dump",
                      a->log ? "(" + seconds(e) + ") can1 " + text : candumpLine(frame, false),
                      {{"frame", text}, {"dir", e.value("dir", std::string())}, {"t", e.value("t", 0)}});
            return a->count == 0 || ++seen < a->count;
        })};
    });
    auto* send = can->add_subcommand("send", "send a frame as another node on the application's bus");
    send->add_option("FRAME", a->text, "ID#DATA, as cansend takes it")->required();
    send->callback([at, a, &tool] {
        const std::string text = formatCanFrameText(parseCanFrameText(a->text));
        // Another node's frame reaches the application's controller through its filters, as
        // the board's own "can inject" delivers it.
        at->ask("can send", "can inject " + text);
        tool.emit("can send", "", {{"frame", text}});
    });

    auto* uart = app.add_subcommand("uart", "the far end of the application's serial line");
    uart->require_subcommand(1);
    auto* write = uart->add_subcommand("write", "type TEXT into the application's port (escapes \\r \\n \\t \\xHH)");
    write->add_option("PORT", a->port, "1, 2, COM1 or COM2")->required();
    write->add_option("TEXT", a->text, "what arrives at the port")->required();
    write->add_flag("--raw", a->raw, "send every byte at once, as a burst (the library's reads lose most)");
    write->callback([at, a, &tool] {
        const std::string port = portName(a->port, "uart write");
        at->ask("uart write", std::string(a->raw ? "serial write-raw " : "serial write ") + port + " " +
                                  wireText(a->text, "uart write"));
        tool.emit("uart write", "", {{"port", port}});
    });
    auto* read = uart->add_subcommand("read", "print what the application writes to its port");
    read->add_option("PORT", a->port, "1, 2, COM1 or COM2")->required();
    read->add_option("-n,--bytes", a->count, "end after this many bytes");
    read->callback([at, a, &tool] {
        const std::string port = portName(a->port, "uart read");
        uint64_t seen = 0;
        throw SessionExit{at->stream("uart read", {"serial " + port}, [&](const Json& e) {
            if (e["event"] != "serial" || e.value("port", std::string()) != port ||
                e.value("dir", std::string()) != "tx")
                return true;
            std::vector<uint8_t> bytes = bytesOfHex(e.value("data", std::string()));
            if (a->count != 0 && bytes.size() > a->count - seen) bytes.resize(a->count - seen);
            seen += bytes.size();
            if (tool.json)
                tool.emit("uart read", "", {{"port", port}, {"bytes", byteArray(bytes)}, {"t", e.value("t", 0)}});
            else
                std::cout.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
            return a->count == 0 || seen < a->count;
        })};
    });

    auto* trace = app.add_subcommand("trace", "the application's platform calls, decoded");
    trace->add_flag("-f,--follow", a->follow, "print each call as it is made")->required();
    trace->add_option("-n", a->count, "end after this many lines");
    trace->callback([at, a, &tool] {
        uint64_t seen = 0;
        throw SessionExit{at->stream("trace", {"trace"}, [&](const Json& e) {
            if (e["event"] != "trace") return true;
            const std::string line = e.value("line", std::string());
            tool.emit("trace", line, {{"line", line}, {"t", e.value("t", 0)}});
            return a->count == 0 || ++seen < a->count;
        })};
    });
}

}  // namespace

int runAttached(const std::string& target, std::vector<std::string> args) {
    Tool tool;
    // The board's own options set up a board of the tool's; the application's is already set up.
    for (const std::string& word : args) {
        if (word == "--") break;
        for (const char* option : {"--board", "--config", "--trace", "--vcd", "--listen"})
            if (word == option || word.rfind(std::string(option) + "=", 0) == 0) {
                std::cerr << "tarvik: " << option
                          << " cannot be used with --attach: the application's board is set up by the "
                             "application (its VBOARD_* variables)\n";
                return kExitUsage;
            }
    }
    CLI::App app{"tarvik --attach PID|PATH: commands on a running application's board (VBOARD_LISTEN).", "tarvik"};
    tool.attach = target;
    auto attached = std::make_shared<Attached>(target, tool);
    app.add_flag("--json", tool.json, "print one JSON object per result");
    app.add_flag("-q,--quiet", attached->quiet, "no 'watching' line when a stream starts");
    app.fallthrough();
    app.require_subcommand(1);
    if (target.empty()) {
        std::cerr << "tarvik: --attach needs a process id or a socket's path\n";
        return kExitUsage;
    }
    addAttachedCommands(app, attached);
    // The panel serves a page of the same board (tarvik panel --attach PID comes here too).
    addPanelCommand(app, tool);
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    return runParsed(app, "", [&] { app.parse(reversed); });
}

}  // namespace tarvik_tool
