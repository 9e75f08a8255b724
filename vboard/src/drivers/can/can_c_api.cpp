// The C control API of the CAN controller: thin wrappers over vboard/can.h.
#include <cstdlib>
#include <cstring>
#include <string>

#include "vboard/vboard.h"
#include "vboard/vboard_c.h"

// The bodies of the C entry points: c_api_entries.cpp exports them behind a guard.
namespace vboard::capi {

int vboard_can_inject(const char* frame) {
    if (frame == nullptr) return 0;
    auto parsed = vboard::parseCanFrame(frame);
    return parsed && vboard::can().inject(*parsed) ? 1 : 0;
}

char* vboard_can_sent_text(void) {
    std::string text;
    for (const vboard::CanFrame& frame : vboard::can().sent())
        text += vboard::formatCanFrame(frame) + "\n";
    if (text.empty()) return nullptr;
    char* out = static_cast<char*>(std::malloc(text.size() + 1));
    if (out != nullptr) std::memcpy(out, text.c_str(), text.size() + 1);
    return out;
}

size_t vboard_can_pending(void) { return vboard::can().pending(); }

int vboard_can_log(const char* path) { return vboard::can().logTo(path ? path : "") ? 1 : 0; }

}  // namespace vboard::capi
