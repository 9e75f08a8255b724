// tarvik tour: the board tour of examples/board_tour, made with the tool's own commands in one
// session, each shown before its output. Some steps are refused on purpose.
#include <iostream>

#include "tool.h"

namespace tarvik_tool {
namespace {

struct Step {
    const char* line;     // a command, or "== heading"
    bool refused = false; // the library is expected to refuse it
};

const Step kTour[] = {
    {"== versions"},
    {"version"},
    {"== GPIO: module index 1 is i.MX6 bank 0, pin 2"},
    {"gpio dir 1 out 1"},
    {"gpio get 1"},
    {"gpio set 1 0"},
    {"gpio get 1"},
    {"gpio dir 25 in", true},  // a serial port's RTS line, wired as an output
    {"gpio dir 30 out", true}, // no GPIO behind index 30
    {"== SPI: the serial flash on port 0, a loopback on port 1"},
    {"spi xfer 0 9f000000"},
    {"spi xfer 1 a53c --mode 3 --hz 4000000"},
    {"== I2C: the EEPROM on bus 0 at 0x50"},
    {"i2c set 0 0x50 0x12 0xc0 0xff 0xee 0x42"},
    {"i2c get 0 0x50 0x12 4"},
    {"i2c get 1 0x50 0x00", true},  // nobody at 0x50 on bus 1
    {"== UART: COM1, null-modem cable to COM2"},
    {"uart send 1 ping --baud 115200"},
    {"uart send 3 ping", true},  // port 3 has no device
    {"== CAN: 500 kbit/s, our own frames looped back"},
    {"can send 123#DEADBEEF --loopback"},
    {"can recv"},
    {"== system services"},
    {"phy read 1 0x020C8260"},
    {"phy write 2 0x00907000 0xC0FFEE --readback"},
    {"backlight level 128"},
    {"backlight suspend 120 on"},
    {"touch calibrate"},
    {"kitl restart"},
    {"registry save"},
    {"registry backup"},
    {"registry restore"},  // ends in a reset: on the module the tour would end here
};

}  // namespace

void addTourCommand(CLI::App& app, Tool& tool) {
    app.add_subcommand("tour", "a tour of the board, command by command")->callback([&tool] {
        int unexpected = 0;
        for (const Step& step : kTour) {
            const std::string line = step.line;
            if (line.rfind("==", 0) == 0) {
                if (!tool.json) std::cout << line << "\n";
                continue;
            }
            if (!tool.json) std::cout << "tarvik> " << line << "\n" << std::flush;
            std::vector<std::string> words;
            std::string error;
            splitWords(line, words, error);
            const int status = runSessionLine(tool, words, "tour");
            if ((status != kExitOk) != step.refused) ++unexpected;
        }
        if (unexpected != 0)
            throw Failure("tour: " + std::to_string(unexpected) + " step(s) did not go as expected");
    });
}

}  // namespace tarvik_tool
