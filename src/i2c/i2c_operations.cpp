// The exported I2C operations. I2COpen and I2CClose prepare and release a bus and keep its
// handle in the bus's slot; the four transfers do not depend on them: each one opens its bus
// afresh, makes it master at 100 kHz, moves its bytes and closes the bus again.
#include "i2c/i2c_operations.h"

#include "i2c/i2c_bus_device.h"
#include "i2c/i2c_state.h"
#include "platform/handle_slot.h"
#include "platform/request_lines.h"
#include "tarvik_platform.h"

namespace tarvik {

I2cBusDevice i2cBusDevice;

namespace {

// Every transfer runs at standard mode, whatever I2COpen chose.
constexpr uint32_t kTransferFrequencyHz = 100000;

HANDLE* busSlot(uint32_t bus) { return bus < kI2cBusCount ? &i2cState.busSlots[bus] : nullptr; }

// The frequencies I2COpen offers, by code; 0 marks a code it refuses.
constexpr uint32_t kFrequencies[] = {100000, 400000, 0, 1600000, 2400000, 3600000};

uint32_t frequencyOf(uint32_t code) {
    return code < sizeof kFrequencies / sizeof kFrequencies[0] ? kFrequencies[code] : 0;
}

// What distinguishes the four transfers: direction and lines. Their lines differ in small ways
// that people grepping the debug output know, so each one keeps its own.
struct Transfer {
    bool reads;
    const WCHAR* timeLine;      // hour + 1, minute, second
    const WCHAR* slotEmpty;
    const WCHAR* invalidHandle;
    const WCHAR* configurationFailed;  // null: a failed configuration does not stop the transfer
    const WCHAR* failed;
    const WCHAR* done;
};

constexpr Transfer kRead = {true,
                            L"Rin %d %d %d\r\n",
                            L"Handle invalid err\r\n",
                            L"Handle invalid err\r\n",
                            L"Handle invalid err\r\n",
                            L"Rerr\r\n",
                            L"RMout\r\n"};
constexpr Transfer kReadMultiple = {true,
                                    L"RMin %d %d %d\r\n",
                                    L"Handle invalid err\r\n",
                                    L"I2C Open Handle Error err\r\n",
                                    nullptr,
                                    L"Rerr\r\n",
                                    L"RMout\r\n"};
constexpr Transfer kWrite = {false,
                             L"Win %d %d %d\r\n",
                             L"Handle invalid err\r\n",
                             L"Handle invalid err\r\n",
                             L"I2C Open Handle Error err\r\n",
                             L"Werr\r\n",
                             L"Wout\r\n"};
constexpr Transfer kWriteMultiple = {false,
                                     L"WMin %d %d %d\r\n",
                                     L"Handle err\r\n",
                                     L"Handle invalid err\r\n",
                                     L"I2C Open Handle Error err\r\n",
                                     L"Werr\r\n",
                                     L"Wout\r\n"};

// The one sequence of the four transfers: a write sends `length` bytes from `source`, a read
// receives them into `destination`.
uint8_t transfer(const Transfer& kind, uint32_t bus, uint32_t frequencyCode, uint8_t address,
                 uint8_t registerNumber, const uint8_t* source, uint8_t* destination,
                 uint8_t length) {
    SYSTEMTIME now;
    GetSystemTime(&now);
    // The hour is printed one higher than the clock's; logs in the field are read that way.
    NKDbgPrintfW(kind.timeLine, now.wHour + 1, static_cast<int>(now.wMinute),
                 static_cast<int>(now.wSecond));
    HANDLE* slot = busSlot(bus);
    if (slot == nullptr) return 0;
    // Bytes cannot come from or go to nowhere; the bus is left as it is.
    if ((kind.reads ? destination == nullptr : source == nullptr) && length > 0)
        return refuse(kind.failed);
    // A handle I2COpen kept is closed before the transfer opens its own, so none is lost.
    i2cBusDevice.closeBus(slot);

    const bool configured = i2cBusDevice.openBus(slot, bus, frequencyCode, kTransferFrequencyHz);
    if (*slot == nullptr) {
        NKDbgPrintfW(kind.slotEmpty);
        return configured ? 1 : 0;
    }
    if (*slot == INVALID_HANDLE_VALUE) return refuse(kind.invalidHandle);
    if (!configured && kind.configurationFailed != nullptr) {
        NKDbgPrintfW(kind.configurationFailed);
        i2cBusDevice.closeBus(slot);
        return 0;
    }
    const bool moved =
        kind.reads ? i2cBusDevice.readBusData(slot, address, registerNumber, destination, length)
                   : i2cBusDevice.writeBusData(slot, address, registerNumber, source, length);
    NKDbgPrintfW(moved ? kind.done : kind.failed);
    // The transfer has closed the handle already; this only makes sure of it.
    i2cBusDevice.closeBus(slot);
    return moved ? 1 : 0;
}

}  // namespace

uint8_t I2COpen(uint32_t bus, uint32_t frequencyCode) {
    const uint32_t frequency = frequencyOf(frequencyCode);
    if (frequency == 0) return refuse(L"VELNA i2c freq not supported\r\n");
    HANDLE* slot = busSlot(bus);
    if (slot == nullptr) return refuse(L"Can't Open I2c Port\r\n");
    // A bus already open stays as it is. A failed open left no handle, so it is tried again
    // rather than reported as open.
    if (holdsHandle(*slot)) return 1;
    return i2cBusDevice.openBus(slot, bus, frequencyCode, frequency) ? 1 : 0;
}

void I2CClose(uint32_t bus) {
    HANDLE* slot = busSlot(bus);
    if (slot == nullptr) {
        NKDbgPrintfW(L"Can't Close I2c Port\r\n");
        return;
    }
    i2cBusDevice.closeBus(slot);
}

uint8_t I2CRead(uint32_t bus, uint32_t frequencyCode, uint8_t slaveAddress,
                uint8_t registerAddress, uint8_t* value) {
    return transfer(kRead, bus, frequencyCode, slaveAddress, registerAddress, nullptr, value, 1);
}

uint8_t I2CReadMultipleBytes(uint32_t bus, uint32_t frequencyCode, uint8_t slaveAddress,
                             uint8_t registerAddress, uint8_t length, uint8_t* data) {
    return transfer(kReadMultiple, bus, frequencyCode, slaveAddress, registerAddress, nullptr,
                    data, length);
}

uint8_t I2CWrite(uint32_t bus, uint32_t frequencyCode, uint8_t slaveAddress,
                 uint8_t registerAddress, uint8_t value) {
    return transfer(kWrite, bus, frequencyCode, slaveAddress, registerAddress, &value, nullptr, 1);
}

uint8_t I2CWriteMultipleBytes(uint32_t bus, uint32_t frequencyCode, uint8_t slaveAddress,
                              uint8_t registerAddress, uint8_t length, const uint8_t* data) {
    return transfer(kWriteMultiple, bus, frequencyCode, slaveAddress, registerAddress, data,
                    nullptr, length);
}

}  // namespace tarvik
