// The C control API: thin wrappers over the C++ one, with texts handed out in malloc'd buffers.
#include "vboard/vboard_c.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "control/config.h"
#include "control/fault_names.h"
#include "vboard/vboard.h"

namespace {

char* give(const std::string& text) {
    char* out = static_cast<char*>(std::malloc(text.size() + 1));
    if (out == nullptr) return nullptr;
    std::memcpy(out, text.c_str(), text.size() + 1);
    return out;
}

// The lines joined, each ending in "\n" unless `ended` (debug lines carry their own ending).
char* giveLines(const std::vector<std::string>& lines, bool ended) {
    if (lines.empty()) return nullptr;
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        if (!ended) text += '\n';
    }
    return give(text);
}

std::string orEmpty(const char* text) { return text ? text : ""; }

}  // namespace

// The bodies of the C entry points: c_api_entries.cpp exports them behind a guard.
namespace vboard::capi {

void vboard_reset(void) { vboard::reset(); }

char* vboard_apply(const char* line) {
    auto problems = vboard::applyConfigLine(orEmpty(line));
    return problems.empty() ? nullptr : give(problems.front());
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

int vboard_gpio_drive_input(int bank, int pin, int level) {
    return vboard::gpio().driveInput(bank, pin, level != 0) ? 1 : 0;
}

int vboard_gpio_drive_index(uint32_t index, int level) {
    return vboard::gpio().driveIndex(index, level != 0) ? 1 : 0;
}

int vboard_gpio_pad(uint32_t index, int* bank, int* pin) {
    const auto pad = vboard::gpioPadOf(index);
    if (!pad) return 0;
    if (bank != nullptr) *bank = pad->bank;
    if (pin != nullptr) *pin = pad->pin;
    return 1;
}

int vboard_gpio_pin(int bank, int pin, vboard_gpio_pin_state* state) {
    if (state == nullptr || bank < 0 || bank >= vboard::kGpioBanks || pin < 0 ||
        pin >= vboard::kGpioPinsPerBank)
        return 0;
    const vboard::GpioPinState s = vboard::gpio().pin(bank, pin);
    state->output = s.output ? 1 : 0;
    state->latch = s.latch ? 1 : 0;
    state->input = s.input ? 1 : 0;
    state->mode = s.mode;
    state->has_event = s.event != nullptr ? 1 : 0;
    return 1;
}

size_t vboard_gpio_interrupt_count(void) { return vboard::gpio().interrupts().size(); }

int vboard_vcd(const char* path) { return vboard::recordVcd(path ? path : "") ? 1 : 0; }

}  // namespace vboard::capi
