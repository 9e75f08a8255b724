// Rendering of the trace: one stable, greppable line per platform call.
#include <cstdio>

#include "os/board.h"
#include "os/control_seam.h"

namespace vboard {
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

void publishTrace(const TraceEntry& entry, std::string rendered) {
    const bool trace = liveWatched(LiveKind::Trace);
    const std::string& d = entry.device;
    const bool onBus = d.size() == 5 && d[4] == ':' && d[3] >= '1' && d[3] <= '9';
    const bool i2c = onBus && d.compare(0, 3, "I2C") == 0 && liveWatched(LiveKind::I2c);
    const bool spi = onBus && d.compare(0, 3, "SPI") == 0 && liveWatched(LiveKind::Spi);
    if (!trace && !i2c && !spi) return;
    if (rendered.empty()) rendered = renderTrace(entry);
    // The watcher's side numbers the bus or port as the control API does (i2cBusDevice).
    if (i2c) publishLiveLine(LiveKind::I2c, d, rendered);
    if (spi) publishLiveLine(LiveKind::Spi, d, rendered);
    if (trace) publishLiveLine(LiveKind::Trace, "", std::move(rendered));
}

// ---- Control API: trace ----

std::vector<TraceEntry> trace() {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    return b.trace.items();
}

std::vector<std::string> traceLines() {
    std::vector<std::string> lines;
    for (const TraceEntry& e : trace()) lines.push_back(renderTrace(e));
    return lines;
}

bool isDriverCall(const std::string& function) {
    return function == "DeviceIoControl" || function == "CreateFileW" || function == "CloseHandle";
}

std::vector<std::string> driverTraceLines() {
    std::vector<std::string> lines;
    for (const TraceEntry& e : trace())
        if (isDriverCall(e.function)) lines.push_back(renderTrace(e));
    return lines;
}

void clearTrace() {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    b.trace.clear();
    b.nextSeq = 1;
}

bool echoTraceTo(const std::string& target) {
    board().traceEchoDriversOnly = false;
    return board().traceEcho.open(target);
}

bool openTraceEcho(const std::string& target) { return board().traceEcho.open(target); }

bool echoDriverTraceTo(const std::string& target) {
    board().traceEchoDriversOnly = true;
    return board().traceEcho.open(target);
}


}  // namespace vboard
