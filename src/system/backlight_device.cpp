// BacklightDevice: the level goes to "BKL1:" as a request pair; the time-outs go to the
// registry key the platform's backlight settings live in, which is opened and never created.
#include "system/backlight_device.h"

#include "platform/handle_slot.h"
#include "platform/request_lines.h"
#include "system/backlight_records.h"
#include "tarvik_platform.h"

namespace tarvik {
namespace {

// A value of the settings key and the line that reports a failed write of it.
struct SettingValue {
    const WCHAR* name;
    const WCHAR* writeFailed;
};
constexpr SettingValue kTimeouts[] = {
    {L"ACTimeout", L"ERROR: Can't write registry value ACTimeout\r\n"},
    {L"BatteryTimeout", L"ERROR: Can't write registry value BatteryTimeout\r\n"}};
constexpr SettingValue kTimeoutUse[] = {
    {L"UseExt", L"ERROR: Can't write registry value UseExt\r\n"},
    {L"UseBattery", L"ERROR: Can't write registry value UseBattery\r\n"}};

// Opens the settings key and writes the same number to both values, stopping at the first
// failure; what was written before it stays written. The open-failure line names the Ident key,
// as the platform's backlight settings have always reported it; tools match on that text.
bool writeBoth(const SettingValue (&values)[2], DWORD number) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"ControlPanel\\BackLight", 0, KEY_ALL_ACCESS, &key) !=
        ERROR_SUCCESS) {
        NKDbgPrintfW(L"ERROR: Can't open Registry Key HKEY_LOCAL_MACHINE\\Ident\r\n");
        return false;
    }
    for (const SettingValue& value : values) {
        if (RegSetValueExW(key, value.name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                           sizeof number) != ERROR_SUCCESS) {
            NKDbgPrintfW(value.writeFailed);
            RegCloseKey(key);
            return false;
        }
    }
    RegCloseKey(key);
    return true;
}

}  // namespace

bool BacklightDevice::setLevel(uint32_t level) const {
    HANDLE handle = openDriver(L"BKL1:", 0);
    if (handle == INVALID_HANDLE_VALUE) {
        reportHandleError(GetLastError());
        return false;
    }
    BacklightLevelRecord record = {level, 1, level, 0};
    DWORD returned = 0;  // the driver wants somewhere to write it; nobody reads it
    if (!DeviceIoControl(handle, IOCTL_BKL_SET_LEVEL, &record, sizeof record, nullptr, 0,
                         &returned, nullptr)) {
        CloseHandle(handle);
        return false;
    }
    const BOOL applied =
        DeviceIoControl(handle, IOCTL_BKL_FOLLOW_UP, nullptr, 0, nullptr, 0, nullptr, nullptr);
    CloseHandle(handle);
    return applied != 0;
}

bool BacklightDevice::writeTimeouts(uint32_t timeout) const { return writeBoth(kTimeouts, timeout); }

bool BacklightDevice::writeTimeoutUse(uint8_t enable) const {
    return writeBoth(kTimeoutUse, enable == 1 ? 1 : 0);
}

}  // namespace tarvik
