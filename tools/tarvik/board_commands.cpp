// The virtual board's side of the tool: the board commands (show, drive, inject-can, attach-i2c,
// fail) and the global options that set the board up. The only file of the tool that uses the
// board's control API; a build for the module leaves it out.
#include <cctype>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>

#include "global_options.h"
#include "tool.h"
#include "vboard/vboard.h"

namespace tarvik_tool {
namespace {

std::string join(const std::vector<std::string>& lines, const std::string& separator) {
    std::string text;
    for (const std::string& line : lines) text += (text.empty() ? "" : separator) + line;
    return text;
}

// A board command is one of the board's configuration directives, so the tool and a
// configuration file accept the same things with the same words.
void applyDirective(const std::string& command, const std::string& directive) {
    const std::vector<std::string> problems = vboard::applyConfigLine(directive);
    if (!problems.empty()) throw UsageError(command + ": " + join(problems, "; "));
}

std::string hex(uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, static_cast<unsigned>(value));
    return text;
}

// Pins away from their reset state (input, low, no interrupt), with the module's index.
Json pins(std::string& text) {
    Json list = Json::array();
    std::vector<std::string> moduleIndex(vboard::kGpioBanks * vboard::kGpioPinsPerBank);
    for (uint32_t index = 0; index < 64; ++index)
        if (auto pad = gpioPad(index)) moduleIndex[pad->first * vboard::kGpioPinsPerBank + pad->second] =
                                          std::to_string(index);
    text += "gpio (pins away from input, low, no interrupt):\n";
    for (int bank = 0; bank < vboard::kGpioBanks; ++bank)
        for (int pin = 0; pin < vboard::kGpioPinsPerBank; ++pin) {
            const vboard::GpioPinState s = vboard::gpio().pin(bank, pin);
            if (!s.output && !s.latch && !s.input && s.mode == vboard::kGpioNoInterrupt) continue;
            const std::string& index = moduleIndex[bank * vboard::kGpioPinsPerBank + pin];
            char line[128];
            std::snprintf(line, sizeof line, "  %d.%-2d %-9s %s level %d%s\n", bank, pin,
                          index.empty() ? "" : ("index " + index).c_str(), s.output ? "output" : "input ",
                          s.level() ? 1 : 0,
                          s.mode == vboard::kGpioNoInterrupt ? "" : (" interrupt mode " + std::to_string(s.mode)).c_str());
            text += line;
            list.push_back({{"pin", std::to_string(bank) + "." + std::to_string(pin)},
                            {"index", index.empty() ? Json(nullptr) : Json(std::stoi(index))},
                            {"direction", s.output ? "out" : "in"}, {"level", s.level() ? 1 : 0},
                            {"latch", s.latch ? 1 : 0}, {"pad", s.input ? 1 : 0},
                            {"interrupt", s.mode == vboard::kGpioNoInterrupt ? Json(nullptr) : Json(s.mode)}});
        }
    return list;
}

Json busNodes(std::string& text) {
    Json nodes;
    Json i2c = Json::array();
    for (int bus = 0; bus < vboard::kI2cBuses; ++bus) {
        vboard::I2cBusControl& control = vboard::i2cBus(bus);
        text += "i2c bus " + std::to_string(bus) + " (" + control.device() + "):";
        Json devices = Json::array();
        for (uint8_t address : control.addresses()) {
            const std::string kind = control.device(address)->kind();
            text += " " + hex(address, 2) + " " + kind;
            devices.push_back({{"address", address}, {"model", kind}});
        }
        text += devices.empty() ? " nobody\n" : "\n";
        i2c.push_back({{"bus", bus}, {"device", control.device()}, {"devices", devices}});
    }
    nodes["i2c"] = i2c;
    Json spi = Json::array();
    for (int port = 0; port < vboard::kSpiPorts; ++port) {
        const auto device = vboard::spi().device(port);
        const std::string kind = device ? device->kind() : "none";
        text += "spi port " + std::to_string(port) + ": " + kind + "\n";
        spi.push_back({{"port", port}, {"device", kind}});
    }
    nodes["spi"] = spi;
    Json serial = Json::array();
    static const char* const kWirings[] = {"unplugged", "loopback", "null-modem", "pty"};
    for (const char* port : {"COM1", "COM2"}) {
        const auto s = vboard::serial().state(port);
        if (!s) continue;
        std::string wiring = kWirings[static_cast<int>(s->wiring)];
        if (s->wiring == vboard::SerialWiring::NullModem) wiring += " " + s->peer;
        if (s->wiring == vboard::SerialWiring::Pty) wiring += " " + s->ptyPath;
        text += std::string("serial ") + port + ": " + wiring + (s->open ? ", open" : ", closed") + ", " +
                std::to_string(s->dcb.BaudRate) + " baud, " + std::to_string(s->queued) + " bytes queued\n";
        serial.push_back({{"port", port}, {"wiring", wiring}, {"open", s->open},
                          {"baud", s->dcb.BaudRate}, {"queued", s->queued}});
    }
    nodes["serial"] = serial;
    vboard::CanControl& can = vboard::can();
    text += "can1: " + std::to_string(can.timing().bitrate()) + " bit/s" +
            (can.loopback() ? ", loopback" : "") + ", " + std::to_string(can.filters().size()) +
            " filters, " + std::to_string(can.pending()) + " frames waiting, " +
            std::to_string(can.sent().size()) + " sent\n";
    nodes["can"] = {{"bitrate", can.timing().bitrate()}, {"loopback", can.loopback()},
                    {"filters", can.filters().size()}, {"pending", can.pending()},
                    {"sent", can.sent().size()}};
    return nodes;
}

Json storage(std::string& text) {
    const std::string folder = vboard::boardFolder();
    text += "storage: " + (folder.empty() ? std::string("in memory") : folder) + ", card " +
            (vboard::storageCardInserted() ? "in" : "out") + "\n";
    // Every file on the card (the registry backups among them), from the folder's entries:
    // showing a file's size never reads it.
    Json files = Json::array();
    for (const vboard::BoardFileEntry& file : vboard::listBoardFiles(std::string(vboard::kStorageCard) + "\\*")) {
        const std::string path = std::string(vboard::kStorageCard) + "\\" + file.name;
        text += "  " + path + " (" + std::to_string(file.size) + " bytes)\n";
        files.push_back({{"path", path}, {"size", file.size}});
    }
    return {{"folder", folder}, {"card", vboard::storageCardInserted()}, {"files", files}};
}

}  // namespace

void applyBoardOptions(const GlobalOptions& options) {
    if (!options.board.empty() && !vboard::setBoardFolder(options.board))
        throw UsageError("--board '" + options.board + "': " + join(vboard::storageProblems(), "; "));
    if (!options.config.empty()) {
        std::ifstream probe(options.config);
        if (!probe || std::filesystem::is_directory(options.config))
            throw UsageError("--config '" + options.config + "': cannot read the file");
        const std::vector<std::string> problems = vboard::loadConfig(options.config);
        if (!problems.empty()) throw UsageError("--config: " + join(problems, "\n  "));
    }
    // The debug lines go to stderr, so that stdout holds only the commands' output; an
    // application's VBOARD_DEBUG is left as it is.
    if (options.quiet)
        vboard::echoDebugTo("");
    else if (std::getenv("VBOARD_DEBUG") == nullptr)
        vboard::echoDebugTo("stderr");
    if (options.trace) vboard::echoDriverTraceTo("stderr");
    if (!options.listen.empty()) {
        const std::string problem = vboard::listen(options.listen);
        if (!problem.empty()) throw UsageError("--listen '" + options.listen + "': " + problem);
        std::cerr << "tarvik: the board listens on " << vboard::listeningPath() << "\n";
    }
    // The file is written when the recording stops, which the board does as the process ends.
    if (!options.vcd.empty() && !vboard::recordVcd(options.vcd))
        throw UsageError("--vcd '" + options.vcd + "': cannot record a waveform there");
}

int finishBoardOptions(const GlobalOptions& options, int status) {
    // The waveform is written whole as the run ends; one that could not be is a result lost.
    if (options.vcd.empty() || vboard::recordVcd("")) return status;
    std::cerr << "tarvik: --vcd '" << options.vcd << "': the waveform was not written: " << std::strerror(errno) << "\n";
    return status == kExitOk ? kExitFailed : status;
}

void addBoardCommands(CLI::App& app, Tool& tool) {
    auto* board = app.add_subcommand("board", "the virtual board itself (not on a module)");
    board->require_subcommand(1);
    auto a = std::make_shared<BoardArgs>();

    board->add_subcommand("show", "devices, pins, bus nodes, storage and registry")->callback([&tool] {
        if (!tool.attach.empty()) return showAttachedBoard(tool);
        std::string text = "devices: " + join(vboard::devices(), " ") + "\n";
        Json fields;
        fields["devices"] = vboard::devices();
        fields["gpio"] = pins(text);
        fields["buses"] = busNodes(text);
        text += "backlight level " + std::to_string(vboard::backlight().level) + ", debug link " +
                (vboard::kitlPowered() ? "on" : "off") + "\n";
        fields["backlight"] = vboard::backlight().level;
        fields["kitl"] = vboard::kitlPowered();
        fields["storage"] = storage(text);
        const std::string system = vboard::hiveText(HKEY_LOCAL_MACHINE);
        const std::string user = vboard::hiveText(HKEY_CURRENT_USER);
        text += "registry HKEY_LOCAL_MACHINE:\n" + system + "registry HKEY_CURRENT_USER:\n" + user;
        fields["registry"] = {{"HKLM", system}, {"HKCU", user}};
        tool.emit("board show", text, fields);
    });

    addBoardArguments(board, a, [&tool](const std::string& command, const BoardDirective& d) {
        applyDirective(command, d.directive);
        // A fault lives in the process: one armed by a command that is the whole process would
        // never meet a call.
        if (command == "board fail" && !tool.session)
            throw UsageError("board fail: a fault lasts only as long as the process, and this one "
                             "ends here; arm it before the commands it should hit, in one process: "
                             "tarvik run SCRIPT, tarvik shell, or a 'fault' line in a file given "
                             "to tarvik --config FILE COMMAND, or on a running application's board "
                             "with tarvik --attach PID board fail ...");
        tool.emit(command, "", d.fields);
    });
}

bool serialCallWaiting(uint32_t port, unsigned milliseconds) {
    return vboard::serial().awaitBlocked("COM" + std::to_string(port) + ":", milliseconds);
}

uint64_t serialBytesArrived(uint32_t port) {
    const auto state = vboard::serial().state("COM" + std::to_string(port) + ":");
    return state ? state->received : 0;
}

}  // namespace tarvik_tool
