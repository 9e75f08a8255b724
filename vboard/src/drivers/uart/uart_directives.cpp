// The serial directive of a board configuration: "serial COM1 loopback", "serial COM1 null-modem
// COM2", "serial COM1 pty", "serial COM1 unplugged".
#include "drivers/uart/serial_ports.h"

namespace vboard {

std::string serialDirective(SerialControl& ports, const std::vector<std::string>& words) {
    const std::string usage =
        "expected: serial <COM1|COM2> loopback | null-modem <COM1|COM2> | pty | unplugged";
    if (words.size() < 3) return usage;
    const std::string& port = words[1];
    const std::string& wiring = words[2];
    if (wiring == "null-modem" && words.size() == 4) return ports.nullModem(port, words[3]);
    if (words.size() != 3) return usage;
    if (wiring == "loopback") return ports.loopback(port);
    if (wiring == "pty") return ports.pty(port);
    if (wiring == "unplugged") return ports.unplug(port);
    return usage;
}

}  // namespace vboard
