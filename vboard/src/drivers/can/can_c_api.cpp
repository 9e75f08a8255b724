// The C control API of the CAN controller: thin wrappers over vboard/can.h.
#include <string>

#include "control/c_api.h"
#include "vboard/vboard.h"
#include "vboard/vboard_c.h"

// The bodies of the C entry points, exported below behind a guard.
namespace vboard::capi {

int vboard_can_inject(const char* frame) {
    if (frame == nullptr) return 0;
    auto parsed = vboard::parseCanFrame(frame);
    return parsed && vboard::can().inject(*parsed) ? 1 : 0;
}

char* vboard_can_sent_text(void) {
    std::vector<std::string> lines;
    for (const vboard::CanFrame& frame : vboard::can().sent())
        lines.push_back(vboard::formatCanFrame(frame));
    return giveLines(lines, false);
}

size_t vboard_can_pending(void) { return vboard::can().pending(); }

int vboard_can_log(const char* path) { return vboard::can().logTo(path ? path : "") ? 1 : 0; }

}  // namespace vboard::capi

using namespace vboard;

extern "C" {

// ---- CAN ----

int vboard_can_inject(const char* frame) {
    return guardControl(__func__, 0, [&] { return capi::vboard_can_inject(frame); });
}
char* vboard_can_sent_text(void) {
    return guardControl(__func__, kNoText, [] { return capi::vboard_can_sent_text(); });
}
size_t vboard_can_pending(void) {
    return guardControl(__func__, size_t{0}, [] { return capi::vboard_can_pending(); });
}
int vboard_can_log(const char* path) {
    return guardControl(__func__, 0, [&] { return capi::vboard_can_log(path); });
}

}  // extern "C"
