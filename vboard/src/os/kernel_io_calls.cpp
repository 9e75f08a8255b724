// The kernel calls of the system services: the debug link's power through KernelIoControl,
// and the touch calibration, which stores its result where the touch driver reads it.
#include <cstring>

#include "os/call.h"
#include "os/registry_defaults.h"
#include "os/system_services.h"

using namespace vboard;

// The bodies of the C entry points: platform_entries.cpp exports them behind a guard.
namespace vboard::calls {

BOOL KernelIoControl(DWORD code, LPVOID in, DWORD inSize, LPVOID, DWORD, LPDWORD returned) {
    Call call("KernelIoControl");
    call.entry.code = code;
    if (call.keep) {
        call.entry.in = copyBytes(in, inSize);
        call.entry.args = (code == kKitlPower ? std::string("KITL_POWER") : hex(code)) +
                          (in != nullptr ? " in [" + hexBytes(call.entry.in) + "]" : std::string());
    }
    if (returned != nullptr) *returned = 0;
    if (auto error = call.fault()) return call.fail(FALSE, *error);
    if (code != kKitlPower) return call.fail(FALSE, static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    // The kernel reads one 32-bit word: anything but 0 powers the link on.
    if (in == nullptr || inSize != sizeof(DWORD))
        return call.fail(FALSE, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    DWORD on;
    std::memcpy(&on, in, sizeof on);
    systemServices().switchKitl(on != 0);
    return call.succeed(TRUE, on != 0 ? "on" : "off");
}

// The calibration screen always completes on the board; a fault makes it fail.
BOOL TouchCalibrate(void) {
    Call call("TouchCalibrate");
    if (auto error = call.fault()) return call.fail(FALSE, *error);
    {
        Board& b = board();
        std::lock_guard<std::mutex> hold(b.lock);
        Registry::setValue(*Registry::create(b.registry.root(HKEY_LOCAL_MACHINE), kTouchKey),
                           "CalibrationData", RegValue{REG_SZ, touchCalibrationData()});
    }
    systemServices().noteCalibration();
    return call.succeed(TRUE);
}

}  // namespace vboard::calls
