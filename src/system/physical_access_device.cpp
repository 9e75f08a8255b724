// PhysicalAccessDevice: one open, one request and one close per register access, reported with
// the "Wout:" lines. Device numbers 1 to 9 select "PHY1:" to "PHY9:"; there is no device 0.
#include "system/physical_access_device.h"

#include "platform/handle_slot.h"
#include "system/physical_access_records.h"

namespace tarvik {
namespace {

// The driver of each device number; entry 0 is empty because no driver has that number.
constexpr const WCHAR* kDrivers[] = {nullptr,  L"PHY1:", L"PHY2:", L"PHY3:", L"PHY4:",
                                     L"PHY5:", L"PHY6:", L"PHY7:", L"PHY8:", L"PHY9:"};
constexpr uint8_t kDriverCount = sizeof kDrivers / sizeof kDrivers[0];

// The two lines of an access: which device it goes to, and why the driver could not be opened.
struct AccessLines {
    const WCHAR* device;
    const WCHAR* openFailed;
};
constexpr AccessLines kReadLines = {L"Wout:ReadPhysicalAddress Device: %d\r\n",
                                    L"Wout:ReadPhysicalAddress Error: %d\r\n"};
constexpr AccessLines kWriteLines = {L"Wout:WritePhysicalAddress Device: %d\r\n",
                                     L"Wout:WritePhysicalAddress Error: %d\r\n"};

// Opens the device's driver and sends one request, closing the handle again. A number without
// a driver is reported like a driver that is not there, and nothing is opened or sent.
bool access(uint8_t device, const AccessLines& lines, DWORD code, PhysicalAccessRecord* in,
            PhysicalAccessRecord* out) {
    NKDbgPrintfW(lines.device, static_cast<int>(device));
    if (device >= kDriverCount || kDrivers[device] == nullptr) {
        NKDbgPrintfW(lines.openFailed, static_cast<int>(ERROR_FILE_NOT_FOUND));
        return false;
    }
    HANDLE handle = openDriver(kDrivers[device], FILE_ATTRIBUTE_NORMAL);
    if (handle == INVALID_HANDLE_VALUE) {
        NKDbgPrintfW(lines.openFailed, static_cast<int>(GetLastError()));
        return false;
    }
    const DWORD inSize = in != nullptr ? sizeof *in : 0;
    const DWORD outSize = out != nullptr ? sizeof *out : 0;
    const BOOL accepted =
        DeviceIoControl(handle, code, in, inSize, out, outSize, nullptr, nullptr);
    CloseHandle(handle);
    return accepted != 0;
}

}  // namespace

bool PhysicalAccessDevice::readRegister(uint8_t device, uint32_t address, uint8_t width,
                                        uint32_t* value) const {
    // Every byte is set: the driver answers in this record, and a refused read hands back 0.
    PhysicalAccessRecord record = {address, 0, width, {0, 0, 0}};
    const bool accepted = access(device, kReadLines, IOCTL_PHY_READ, &record, nullptr);
    if (value != nullptr) *value = accepted ? record.value : 0;
    return accepted;
}

bool PhysicalAccessDevice::writeRegister(uint8_t device, uint32_t address, uint8_t width,
                                         uint32_t value) const {
    PhysicalAccessRecord record = {address, value, width, {0, 0, 0}};
    return access(device, kWriteLines, IOCTL_PHY_WRITE, nullptr, &record);
}

bool PhysicalAccessDevice::requestReset() const {
    HANDLE handle = openDriver(L"IOC1:", 0);
    if (handle == INVALID_HANDLE_VALUE) return false;
    if (DeviceIoControl(handle, IOCTL_IOC_RESET, nullptr, 0, nullptr, 0, nullptr, nullptr))
        return true;  // the module is restarting: the handle is never closed
    CloseHandle(handle);
    return false;
}

}  // namespace tarvik
