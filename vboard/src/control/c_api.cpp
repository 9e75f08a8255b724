// The C control API's common part: the board as a whole, what the library did, faults, time and
// pauses, as thin wrappers over the C++ one, with texts handed out in malloc'd buffers.
#include "vboard/vboard_c.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "control/c_api.h"
#include "control/config.h"
#include "control/fault_names.h"
#include "vboard/vboard.h"

namespace vboard {

char* giveText(const std::string& text) {
    char* out = static_cast<char*>(std::malloc(text.size() + 1));
    if (out == nullptr) return nullptr;
    std::memcpy(out, text.c_str(), text.size() + 1);
    return out;
}

char* giveLines(const std::vector<std::string>& lines, bool ended) {
    if (lines.empty()) return nullptr;
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        if (!ended) text += '\n';
    }
    return giveText(text);
}

}  // namespace vboard

// The bodies of the C entry points, exported below behind a guard.
namespace vboard::capi {

void vboard_reset(void) { vboard::reset(); }

char* vboard_apply(const char* line) {
    auto problems = vboard::applyConfigLine(orEmpty(line));
    return problems.empty() ? nullptr : giveText(problems.front());
}

char* vboard_listen(const char* where) {
    const std::string problem = vboard::listen(orEmpty(where));
    return problem.empty() ? nullptr : giveText(problem);
}

char* vboard_load_config(const char* path) {
    return giveLines(vboard::loadConfig(orEmpty(path)), false);
}

int vboard_record(const char* setting) {
    if (setting == nullptr) return 0;
    return vboard::applyConfigLine(std::string("record ") + setting).empty() ? 1 : 0;
}

int vboard_echo_debug(const char* target) { return vboard::echoDebugTo(orEmpty(target)) ? 1 : 0; }
int vboard_echo_trace(const char* target) { return vboard::echoTraceTo(orEmpty(target)) ? 1 : 0; }

void vboard_free(void* text) { std::free(text); }

char* vboard_debug_text(void) { return giveLines(vboard::debugLines(), true); }
uint64_t vboard_debug_count(void) { return vboard::debugTally().recorded; }
void vboard_clear_debug(void) { vboard::clearDebug(); }

char* vboard_trace_text(void) { return giveLines(vboard::traceLines(), false); }
uint64_t vboard_trace_count(void) { return vboard::traceTally().recorded; }
void vboard_clear_trace(void) { vboard::clearTrace(); }

size_t vboard_open_driver_handles(const char* device) {
    return vboard::openDriverHandles(orEmpty(device));
}
uint64_t vboard_misuse_count(void) { return vboard::misuseTally().recorded; }
char* vboard_misuses_text(void) { return giveLines(vboard::misuses(), false); }

int vboard_arm_fault(const char* function, const char* device, int match_code, uint32_t code,
                     unsigned nth, uint32_t error) {
    vboard::Fault fault;
    fault.function = orEmpty(function);
    if (!fault.function.empty()) {
        const auto& calls = vboard::platformCalls();
        if (std::find(calls.begin(), calls.end(), fault.function) == calls.end()) return 0;
    }
    fault.device = orEmpty(device);
    if (!vboard::faultDeviceProblem(fault.function, fault.device).empty()) return 0;
    if (match_code) fault.code = code;
    fault.occurrence = nth;
    fault.error = error;
    return vboard::armFault(fault);
}
int vboard_disarm_fault(int id) { return vboard::disarmFault(id) ? 1 : 0; }
void vboard_clear_faults(void) { vboard::clearFaults(); }

void vboard_virtual_sleep(int on) { vboard::setVirtualSleep(on != 0); }

uint64_t vboard_clock_ns(void) { return vboard::clockNanoseconds(); }

void vboard_advance_clock(uint64_t nanoseconds) { vboard::advanceClock(nanoseconds); }

}  // namespace vboard::capi

using namespace vboard;

extern "C" {

// ---- The board ----

void vboard_reset(void) { guardVoidControl(__func__, [] { capi::vboard_reset(); }); }
char* vboard_apply(const char* line) {
    return guardProblem(__func__, [&] { return capi::vboard_apply(line); });
}
char* vboard_listen(const char* where) {
    return guardProblem(__func__, [&] { return capi::vboard_listen(where); });
}
char* vboard_load_config(const char* path) {
    return guardProblem(__func__, [&] { return capi::vboard_load_config(path); });
}
int vboard_record(const char* setting) {
    return guardControl(__func__, 0, [&] { return capi::vboard_record(setting); });
}
int vboard_echo_debug(const char* target) {
    return guardControl(__func__, 0, [&] { return capi::vboard_echo_debug(target); });
}
int vboard_echo_trace(const char* target) {
    return guardControl(__func__, 0, [&] { return capi::vboard_echo_trace(target); });
}
void vboard_free(void* text) { capi::vboard_free(text); }

// ---- What the library did ----

char* vboard_debug_text(void) {
    return guardControl(__func__, kNoText, [] { return capi::vboard_debug_text(); });
}
uint64_t vboard_debug_count(void) {
    return guardControl(__func__, uint64_t{0}, [] { return capi::vboard_debug_count(); });
}
void vboard_clear_debug(void) { guardVoidControl(__func__, [] { capi::vboard_clear_debug(); }); }
char* vboard_trace_text(void) {
    return guardControl(__func__, kNoText, [] { return capi::vboard_trace_text(); });
}
uint64_t vboard_trace_count(void) {
    return guardControl(__func__, uint64_t{0}, [] { return capi::vboard_trace_count(); });
}
void vboard_clear_trace(void) { guardVoidControl(__func__, [] { capi::vboard_clear_trace(); }); }
size_t vboard_open_driver_handles(const char* device) {
    return guardControl(__func__, size_t{0},
                        [&] { return capi::vboard_open_driver_handles(device); });
}
uint64_t vboard_misuse_count(void) {
    return guardControl(__func__, uint64_t{0}, [] { return capi::vboard_misuse_count(); });
}
char* vboard_misuses_text(void) {
    return guardControl(__func__, kNoText, [] { return capi::vboard_misuses_text(); });
}

// ---- Faults, time and pauses ----

int vboard_arm_fault(const char* function, const char* device, int match_code, uint32_t code,
                     unsigned nth, uint32_t error) {
    return guardControl(__func__, 0, [&] {
        return capi::vboard_arm_fault(function, device, match_code, code, nth, error);
    });
}
int vboard_disarm_fault(int id) {
    return guardControl(__func__, 0, [&] { return capi::vboard_disarm_fault(id); });
}
void vboard_clear_faults(void) { guardVoidControl(__func__, [] { capi::vboard_clear_faults(); }); }
void vboard_virtual_sleep(int on) {
    guardVoidControl(__func__, [&] { capi::vboard_virtual_sleep(on); });
}
uint64_t vboard_clock_ns(void) {
    return guardControl(__func__, uint64_t{0}, [] { return capi::vboard_clock_ns(); });
}
void vboard_advance_clock(uint64_t nanoseconds) {
    guardVoidControl(__func__, [&] { capi::vboard_advance_clock(nanoseconds); });
}

}  // extern "C"
