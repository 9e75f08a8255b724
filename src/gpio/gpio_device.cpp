// GpioDevice: opens "GIO1:", sends the five pin requests and reports each one in the debug
// output. The value printed after "gpio" is the 0-based bank, not the GPIO number.
#include "gpio/gpio_device.h"

#include "gpio/gpio_records.h"
#include "platform/handle_slot.h"
#include "platform/request_lines.h"

namespace tarvik {
namespace {

void reportLastError() { reportHandleError(GetLastError()); }

// Every GPIO request travels in the input buffer; the driver answers a read in the same record.
BOOL send(HANDLE handle, DWORD code, void* record, DWORD size) {
    return DeviceIoControl(handle, code, record, size, nullptr, 0, nullptr, nullptr);
}

// Each request is reported by a RequestLines pair: bank, pin, a detail where the line has one,
// then the request's result.

constexpr RequestLines kDirectionLines = {
    L"VELNA set direction gpio %d pin %d direction %d - Rout %d\r\n",
    L"VELNA set direction gpio %d pin %d direction %d - Rerr %d\r\n"};
constexpr RequestLines kGetPinLines = {L"VELNA get gpio %d pin %d data %d - Rout %d\r\n",
                                       L"VELNA get gpio %d pin %d data %d - Rerr %d\r\n"};
constexpr RequestLines kSetPinLines = {L"VELNA set gpio %d pin %d - Rout %d\r\n",
                                       L"VELNA set gpio %d pin %d - Rerr %d\r\n"};
// The event lines carry a data field that is always 0.
constexpr uint32_t kEventData = 0;
constexpr RequestLines kEventLines = {L"VELNA event on gpio %d pin %d data %d - Rout %d\r\n",
                                      L"VELNA event on gpio %d pin %d data %d - Rerr %d\r\n"};
constexpr RequestLines kClearLines = {L"VELNA event on gpio %d pin %d clear- Rout %d\r\n",
                                      L"VELNA event on gpio %d pin %d clear - Rerr %d\r\n"};

// Sends a request and reports it: the accepted line, or the rejected line and the last error.
// The detail, when the lines have one, is read after the request, as the driver may answer in it.
bool sendAndReport(HANDLE handle, DWORD code, void* record, DWORD size, const RequestLines& lines,
                   int32_t bank, int32_t pin, const uint32_t* detail) {
    const BOOL result = send(handle, code, record, size);
    const WCHAR* line = result ? lines.accepted : lines.rejected;
    if (detail != nullptr)
        NKDbgPrintfW(line, bank, pin, static_cast<int>(*detail), result);
    else
        NKDbgPrintfW(line, bank, pin, result);
    if (!result) reportLastError();
    return result != 0;
}

}  // namespace

void GpioDevice::openDriver(HANDLE& slot) const {
    slot = tarvik::openDriver(L"GIO1:", FILE_FLAG_RANDOM_ACCESS);
}

void GpioDevice::closeDriver(HANDLE& slot) const { closeSlot(slot); }

bool GpioDevice::setDirection(HANDLE slot, int32_t bank, int32_t pin, uint8_t inputFlag,
                              uint32_t interruptMode) const {
    const bool input = inputFlag == 1;
    GpioDirectionRecord record = {bank, pin, input ? 0u : 1u,
                                  input ? interruptMode : kGpioNoInterruptMode};
    return sendAndReport(slot, IOCTL_GPIO_SET_DIRECTION, &record, sizeof record, kDirectionLines,
                         bank, pin, &record.pinDirection);
}

bool GpioDevice::setPin(HANDLE slot, int32_t bank, int32_t pin, uint8_t levelFlag) const {
    GpioLevelRecord record = {bank, pin, levelFlag == 1 ? 1u : 0u};
    return sendAndReport(slot, IOCTL_GPIO_SET_PIN, &record, sizeof record, kSetPinLines, bank, pin,
                         nullptr);
}

bool GpioDevice::getPin(HANDLE slot, int32_t bank, int32_t pin) const {
    if (slot == nullptr) return false;
    GpioLevelRecord record = {bank, pin, 1u};
    if (!sendAndReport(slot, IOCTL_GPIO_GET_PIN, &record, sizeof record, kGetPinLines, bank, pin,
                       &record.level))
        return false;
    // Callers rely on this reading: true means the pin is low.
    return record.level == 0;
}

bool GpioDevice::registerEvent(HANDLE slot, HANDLE event, int32_t bank, int32_t pin) const {
    if (slot == nullptr) return false;
    GpioEventRecord record = {bank, pin, event};
    return sendAndReport(slot, IOCTL_GPIO_SET_EVENT, &record, sizeof record, kEventLines, bank, pin,
                         &kEventData);
}

bool GpioDevice::clearEvent(HANDLE slot, int32_t bank, int32_t pin) const {
    GpioPinRecord record = {bank, pin};
    return sendAndReport(slot, IOCTL_GPIO_CLEAR_EVENT, &record, sizeof record, kClearLines, bank,
                         pin, nullptr);
}

}  // namespace tarvik
