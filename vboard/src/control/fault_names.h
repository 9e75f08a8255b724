// What a fault may name: the devices on the board and the requests their drivers take, by the
// names the trace prints them under. A misspelt name would arm a fault that never fires, and the
// test relying on it would pass for the wrong reason, so a name is checked and the nearest one
// offered instead.
#pragma once

#include <string>

#include "tarvik_platform.h"

namespace vboard {

// "" when `device` may stand in a fault on `function`, or the problem. A device is checked
// against the drivers installed now when the call always concerns a driver (DeviceIoControl, the
// serial calls) or the name is shaped like a stream device's ("I2C2:", "I2C2"); other names are
// events, keys and files, which exist only while the program runs.
std::string faultDeviceProblem(const std::string& function, const std::string& device);

// Reads a fault's request code: a number, or a request's name as the trace prints it ("SET_PIN",
// "KITL_POWER"; a two-word name with '_', as "TLPRIO_ON"). The names looked in are those of
// `device`'s driver, or of every driver `function` can reach. "" when `code` was set, or the
// problem.
std::string faultCode(const std::string& text, const std::string& function,
                      const std::string& device, DWORD& code);

}  // namespace vboard
