// I2cBusDevice: opens a bus driver, makes its controller master at a frequency, and moves bytes
// with the driver's transfer request. Every transfer starts by pointing the device at a
// register: the register number, then a zero byte.
#include "i2c/i2c_bus_device.h"

#include <stdlib.h>
#include <string.h>

#include "i2c/i2c_records.h"
#include "platform/handle_slot.h"
#include "platform/request_lines.h"

namespace tarvik {
namespace {

// The module's connector numbers its buses from 0, and its first two buses are the SoC's
// second and first controllers.
const WCHAR* const kBusDeviceNames[] = {L"I2C2:", L"I2C1:", L"I2C3:"};

// Each request is reported by a RequestLines pair with the request's result. The configuration
// lines have no blank before the dash of a failure; the data lines have one.

constexpr RequestLines kMasterModeLines = {
    L"VELNA i2c master mode operate successful - Rout %d\r\n",
    L"VELNA i2c master mode cannot operate successful- Rerr %d\r\n"};
constexpr RequestLines kFrequencyLines = {
    L"VELNA i2c set frequency operate successful - Rout %d\r\n",
    L"VELNA i2c set frequency cannot operate successful- Rerr %d\r\n"};
constexpr RequestLines kWriteLines = {L"VELNA i2c write data operate successful - Rout %d\r\n",
                                      L"VELNA i2c write data cannot operate successful - Rerr %d\r\n"};
constexpr RequestLines kReadLines = {L"VELNA i2c read data operate successful - Rout %d\r\n",
                                     L"VELNA i2c read data cannot operate successful - Rerr %d\r\n"};

bool report(BOOL result, const RequestLines& lines) {
    NKDbgPrintfW(result ? lines.accepted : lines.rejected, static_cast<int>(result));
    return result != 0;
}

BOOL send(HANDLE handle, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize) {
    return DeviceIoControl(handle, code, in, inSize, out, outSize, nullptr, nullptr);
}

BOOL sendTransfer(HANDLE handle, I2cPacket* packets, int32_t count) {
    I2cTransferBlock block = {packets, count};
    return send(handle, IOCTL_I2C_TRANSFER, &block, sizeof block, nullptr, 0);
}

}  // namespace

const WCHAR* i2cBusDeviceName(uint32_t bus) {
    return bus < sizeof kBusDeviceNames / sizeof kBusDeviceNames[0] ? kBusDeviceNames[bus]
                                                                    : nullptr;
}

bool I2cBusDevice::openBus(HANDLE* slot, uint32_t bus, uint32_t /*frequencyCode*/,
                           uint32_t frequencyHz) const {
    const WCHAR* name = i2cBusDeviceName(bus);
    if (slot == nullptr || name == nullptr) return false;
    *slot = openDriver(name, 0);
    if (*slot == INVALID_HANDLE_VALUE) {
        reportHandleError(GetLastError());
        return false;
    }
    if (!report(send(*slot, IOCTL_I2C_SET_MASTER_MODE, nullptr, 0, nullptr, 0), kMasterModeLines))
        return false;
    DWORD frequency = frequencyHz;
    if (!report(send(*slot, IOCTL_I2C_SET_FREQUENCY, &frequency, sizeof frequency, nullptr, 0),
                kFrequencyLines))
        return false;
    // The driver's answer is its own business; only whether it answered counts.
    DWORD confirmation = 0;
    return send(*slot, IOCTL_I2C_CONFIRM, nullptr, 0, &confirmation, sizeof confirmation) != 0;
}

bool I2cBusDevice::closeBus(HANDLE* slot) const {
    if (slot == nullptr || *slot == nullptr) return false;
    closeSlot(*slot);
    return true;
}

bool I2cBusDevice::writeBusData(HANDLE* slot, uint8_t deviceAddress, uint8_t registerNumber,
                                const uint8_t* data, uint8_t length) const {
    if (slot == nullptr) return false;
    if (*slot == nullptr) return true;
    const uint16_t size = static_cast<uint16_t>(length + 2);
    uint8_t* buffer = static_cast<uint8_t*>(malloc(size));
    if (buffer == nullptr) {
        // Nothing can be sent; the handle is given up as after any transfer.
        closeSlot(*slot);
        return report(FALSE, kWriteLines);
    }
    buffer[0] = registerNumber;
    buffer[1] = 0x00;
    if (length > 0) memcpy(buffer + 2, data, length);
    int32_t resultWord = 0;
    I2cPacket packet = {deviceAddress, I2C_DIRECTION_WRITE, buffer, size, &resultWord};
    const BOOL result = sendTransfer(*slot, &packet, 1);
    closeSlot(*slot);
    free(buffer);
    return report(result, kWriteLines);
}

bool I2cBusDevice::readBusData(HANDLE* slot, uint8_t deviceAddress, uint8_t registerNumber,
                               uint8_t* destination, uint8_t length) const {
    if (slot == nullptr) return false;
    if (*slot == nullptr) return true;
    uint8_t prefix[2] = {registerNumber, 0x00};
    int32_t resultWord = 0;
    I2cPacket packets[2] = {
        {deviceAddress, I2C_DIRECTION_WRITE, prefix, sizeof prefix, &resultWord},
        {deviceAddress, I2C_DIRECTION_READ, destination, length, &resultWord},
    };
    const BOOL result = sendTransfer(*slot, packets, 2);
    closeSlot(*slot);
    return report(result, kReadLines);
}

}  // namespace tarvik
