// The C control API of the serial ports: thin wrappers over vboard::serial().
#include <algorithm>

#include "control/c_api.h"
#include "vboard/vboard.h"
#include "vboard/vboard_c.h"

// The bodies of the C entry points, exported below behind a guard.
namespace vboard::capi {

char* vboard_serial_wire(const char* port, const char* wiring) {
    auto problems = vboard::applyConfigLine("serial " + orEmpty(port) + " " + orEmpty(wiring));
    return problems.empty() ? nullptr : giveText(problems.front());
}

char* vboard_serial_pty_path(const char* port) {
    const std::string path = vboard::serial().ptyPath(orEmpty(port));
    return path.empty() ? nullptr : giveText(path);
}

int vboard_serial_receive(const char* port, const void* data, size_t size) {
    if (data == nullptr && size > 0) return 0;
    const auto* bytes = static_cast<const uint8_t*>(data);
    return vboard::serial().receive(orEmpty(port), std::vector<uint8_t>(bytes, bytes + size)) ? 1 : 0;
}

size_t vboard_serial_transmitted(const char* port, void* buffer, size_t size) {
    const std::vector<uint8_t> sent = vboard::serial().transmitted(orEmpty(port));
    // The most recent bytes, when the caller's buffer holds fewer than the board keeps.
    const size_t count = buffer == nullptr ? 0 : std::min(size, sent.size());
    if (count > 0) std::memcpy(buffer, sent.data() + (sent.size() - count), count);
    return sent.size();
}

int vboard_serial_await_blocked(const char* port, unsigned milliseconds) {
    return vboard::serial().awaitBlocked(orEmpty(port), milliseconds) ? 1 : 0;
}

}  // namespace vboard::capi

using namespace vboard;

extern "C" {

// ---- Serial ports ----

char* vboard_serial_wire(const char* port, const char* wiring) {
    return guardProblem(__func__, [&] { return capi::vboard_serial_wire(port, wiring); });
}
char* vboard_serial_pty_path(const char* port) {
    return guardControl(__func__, kNoText,
                        [&] { return capi::vboard_serial_pty_path(port); });
}
int vboard_serial_receive(const char* port, const void* data, size_t size) {
    return guardControl(__func__, 0, [&] { return capi::vboard_serial_receive(port, data, size); });
}
size_t vboard_serial_transmitted(const char* port, void* buffer, size_t size) {
    return guardControl(__func__, size_t{0},
                        [&] { return capi::vboard_serial_transmitted(port, buffer, size); });
}
int vboard_serial_await_blocked(const char* port, unsigned milliseconds) {
    return guardControl(__func__, 0,
                        [&] { return capi::vboard_serial_await_blocked(port, milliseconds); });
}

}  // extern "C"
