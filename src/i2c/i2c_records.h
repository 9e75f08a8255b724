// The I2C bus driver's requests and the records of a transfer.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "tarvik_platform.h"

namespace tarvik {

constexpr DWORD IOCTL_I2C_SET_MASTER_MODE =
    CTL_CODE(FILE_DEVICE_BUS_EXTENDER, 3001, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD IOCTL_I2C_CONFIRM =
    CTL_CODE(FILE_DEVICE_BUS_EXTENDER, 3002, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD IOCTL_I2C_SET_FREQUENCY =
    CTL_CODE(FILE_DEVICE_BUS_EXTENDER, 3006, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD IOCTL_I2C_TRANSFER =
    CTL_CODE(FILE_DEVICE_BUS_EXTENDER, 3009, METHOD_BUFFERED, FILE_ANY_ACCESS);
static_assert(IOCTL_I2C_SET_MASTER_MODE == 0x002A2EE4 && IOCTL_I2C_CONFIRM == 0x002A2EE8 &&
                  IOCTL_I2C_SET_FREQUENCY == 0x002A2EF8 && IOCTL_I2C_TRANSFER == 0x002A2F04,
              "I2C request codes");

constexpr uint8_t I2C_DIRECTION_WRITE = 1;
constexpr uint8_t I2C_DIRECTION_READ = 2;

// One leg of a transfer. The address goes into the packet exactly as the caller gave it, neither
// shifted nor with a direction bit: it is the 7-bit address, and the driver puts the packet's
// direction on the wire with it.
struct I2cPacket {
    uint8_t deviceAddress;
    uint8_t direction;     // I2C_DIRECTION_WRITE or I2C_DIRECTION_READ
    uint8_t* dataBuffer;   // the bytes to send, or the place for the bytes received
    uint16_t dataLength;
    int32_t* resultWord;   // the driver may report the packet's outcome here; never read
};
static_assert(offsetof(I2cPacket, deviceAddress) == 0 && offsetof(I2cPacket, direction) == 1,
              "I2cPacket address and direction");
// With 32-bit pointers, as on the device, the record is exactly what the driver reads.
static_assert(sizeof(void*) != 4 || sizeof(I2cPacket) == 16, "I2cPacket is 16 bytes");
static_assert(sizeof(void*) != 4 || (offsetof(I2cPacket, dataBuffer) == 4 &&
                                     offsetof(I2cPacket, dataLength) == 8 &&
                                     offsetof(I2cPacket, resultWord) == 12),
              "I2cPacket layout");

// The input of IOCTL_I2C_TRANSFER: the driver carries out the packets in order, as one transfer
// with repeated starts between them.
struct I2cTransferBlock {
    I2cPacket* packets;
    int32_t packetCount;
};
static_assert(sizeof(void*) != 4 || sizeof(I2cTransferBlock) == 8, "I2cTransferBlock is 8 bytes");
static_assert(sizeof(void*) != 4 || offsetof(I2cTransferBlock, packetCount) == 4,
              "I2cTransferBlock layout");

}  // namespace tarvik
