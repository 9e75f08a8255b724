// Rendering of the trace: one stable, greppable line per platform call.
#include <cstdio>

#include "os/board.h"

namespace vboard {
std::string hexBytes(const Bytes& bytes) {
    std::string out;
    char text[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(text, sizeof text, "%02X", bytes[i]);
        if (i) out += ' ';
        out += text;
    }
    return out;
}

namespace {

std::string outcome(const TraceEntry& e) {
    std::string text = " -> ";
    if (e.ok)
        text += e.outcome.empty() ? "ok" : e.outcome;
    else
        text += "error " + std::to_string(e.error);
    if (e.injected) text += " (fault)";
    return text;
}

}  // namespace

std::string renderTrace(const TraceEntry& e) {
    // "GIO1:" reads "GIO1: SET_PIN ...", not "GIO1:: SET_PIN ...".
    std::string who = e.device;
    if (!who.empty() && who.back() == ':') who.pop_back();
    // The model the call's handle was opened on decodes it; calls it declines are shown raw.
    if (e.driver && !who.empty()) {
        if (auto text = e.driver->decode(e)) return who + ": " + *text + outcome(e);
    }
    if (e.function != "DeviceIoControl")
        return e.function + (e.args.empty() ? "" : " " + e.args) + outcome(e);

    if (who.empty())
        who = e.handle == INVALID_HANDLE_VALUE ? "INVALID_HANDLE_VALUE" : "unknown handle";
    std::string body = "IOCTL " + hex(e.code);
    if (!e.in.empty()) body += " in [" + hexBytes(e.in) + "]";
    if (e.ok && e.inAfter != e.in && !e.inAfter.empty()) body += " in-back [" + hexBytes(e.inAfter) + "]";
    if (e.ok && !e.out.empty()) body += " out [" + hexBytes(e.out) + "]";
    return who + ": " + body + outcome(e);
}

}  // namespace vboard
