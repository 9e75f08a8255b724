// I2cBusDevice: the only code that talks to the board's I2C bus drivers, "I2C1:" to "I2C3:".
#pragma once

#include <stdint.h>

#include "tarvik_platform.h"

namespace tarvik {

// The device name of a module bus number, or null for a bus the module does not have.
const WCHAR* i2cBusDeviceName(uint32_t bus);

// Stateless: every operation works on the handle slot it is given. A slot holds 0 (no handle),
// INVALID_HANDLE_VALUE (a failed open) or an open handle. openBus is the only operation that
// stores a handle; the others leave the slot at 0 when they close it, so a slot never holds a
// closed handle.
class I2cBusDevice {
public:
    // Opens the bus's driver into the slot and makes the controller master at `frequencyHz`.
    // The frequency code is carried for the caller's sake and not used. When a configuration
    // step fails the handle stays open in the slot for the caller to close.
    bool openBus(HANDLE* slot, uint32_t bus, uint32_t frequencyCode, uint32_t frequencyHz) const;
    // False when the slot is empty; otherwise releases the slot's handle and empties it.
    bool closeBus(HANDLE* slot) const;
    // Writes {registerNumber, 0x00, data[0 .. length)} to the device in one packet, then closes
    // the slot's handle whatever the outcome. True at once, sending nothing, on an empty slot.
    bool writeBusData(HANDLE* slot, uint8_t deviceAddress, uint8_t registerNumber,
                      const uint8_t* data, uint8_t length) const;
    // Writes {registerNumber, 0x00} and reads `length` bytes into `destination`, in one transfer,
    // then closes the slot's handle whatever the outcome. True at once on an empty slot.
    bool readBusData(HANDLE* slot, uint8_t deviceAddress, uint8_t registerNumber,
                     uint8_t* destination, uint8_t length) const;
};

}  // namespace tarvik
