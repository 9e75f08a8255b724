// The serial ports' control side: their installation on the board, and serial().
#include "drivers/uart/serial_ports.h"

namespace vboard {
namespace {

// The ports installed on this process's board; never destroyed, like the board.
Installed<SerialPorts> installed;

}  // namespace

void installUart(Host& host) {
    auto ports = std::make_shared<SerialPorts>();
    std::vector<Plug> drivers;
    for (int i = 0; i < kSerialPorts; ++i)
        drivers.push_back({kSerialDevices[i], std::make_shared<SerialPortDriver>(ports, i)});
    host.installModel(installed, ports, std::move(drivers));
    SerialPorts* model = ports.get();
    host.addDirective(Directive{
        "serial", "serial <COM1|COM2> loopback | null-modem <COM1|COM2> | pty | unplugged",
        [model](const std::vector<std::string>& words, const std::string&) {
            return serialDirective(*model, words);
        }});
    host.nameRequests("COM", serialRequestNames());
}

SerialControl& serial() { return installed.get(); }

}  // namespace vboard
