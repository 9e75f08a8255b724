// The CAN controller driver's requests and the records it reads and fills.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "tarvik_platform.h"

namespace tarvik {

// The board's CAN driver answers device type 0x2A, functions 0xEE1 to 0xEEB.
constexpr DWORD kCanDeviceType = 0x2A;

constexpr DWORD IOCTL_CAN_TRANSFER = CTL_CODE(kCanDeviceType, 0xEE1, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD IOCTL_CAN_TLPRIO_ON = CTL_CODE(kCanDeviceType, 0xEE3, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD IOCTL_CAN_TLPRIO_OFF = CTL_CODE(kCanDeviceType, 0xEE4, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD IOCTL_CAN_LOOPBACK_ON = CTL_CODE(kCanDeviceType, 0xEE6, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD IOCTL_CAN_LOOPBACK_OFF = CTL_CODE(kCanDeviceType, 0xEE7, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD IOCTL_CAN_SET_TIMING = CTL_CODE(kCanDeviceType, 0xEE8, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD IOCTL_CAN_GET_TIMING = CTL_CODE(kCanDeviceType, 0xEE9, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD IOCTL_CAN_ADD_FILTER = CTL_CODE(kCanDeviceType, 0xEEA, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD IOCTL_CAN_REMOVE_FILTER = CTL_CODE(kCanDeviceType, 0xEEB, METHOD_BUFFERED, FILE_ANY_ACCESS);
static_assert(IOCTL_CAN_TRANSFER == 0x2A3B84 && IOCTL_CAN_TLPRIO_ON == 0x2A3B8C &&
                  IOCTL_CAN_TLPRIO_OFF == 0x2A3B90 && IOCTL_CAN_LOOPBACK_ON == 0x2A3B98 &&
                  IOCTL_CAN_LOOPBACK_OFF == 0x2A3B9C && IOCTL_CAN_SET_TIMING == 0x2A3BA0 &&
                  IOCTL_CAN_GET_TIMING == 0x2A3BA4 && IOCTL_CAN_ADD_FILTER == 0x2A3BA8 &&
                  IOCTL_CAN_REMOVE_FILTER == 0x2A3BAC,
              "CAN request codes");

// The controller's bit timing. The driver reports its base clock; the library only ever chooses
// the prescaler (or passes the caller's five values through).
struct CanTimingRecord {
    uint32_t baseclock;  // ticks per second of the controller's clock
    uint16_t prescaler;
    uint8_t propseg;     // the three segments, in time quanta
    uint8_t phase1seg;
    uint8_t phase2seg;
    uint8_t auxTiming;   // the driver's own, passed through
    uint8_t reserved[2];
};
static_assert(sizeof(CanTimingRecord) == 12, "CanTimingRecord is 12 bytes");
static_assert(offsetof(CanTimingRecord, prescaler) == 4 && offsetof(CanTimingRecord, propseg) == 6 &&
                  offsetof(CanTimingRecord, phase1seg) == 7 &&
                  offsetof(CanTimingRecord, phase2seg) == 8 &&
                  offsetof(CanTimingRecord, auxTiming) == 9 &&
                  offsetof(CanTimingRecord, reserved) == 10,
              "CanTimingRecord layout");

// One message as the driver sends or receives it. The driver reads the data through `data` and
// writes the message's outcome through `status` (0 is success) while the transfer runs.
struct CanMessageRecord {
    uint8_t receiveFlag;  // 1 in the receive record, 0 in the transmit record
    uint8_t reserved1[3];
    uint32_t extendedId;  // 0: 11-bit identifiers; otherwise 29-bit
    uint32_t frameFlag;
    uint16_t auxWord;
    uint8_t auxByte;
    uint8_t reserved2;
    uint32_t messageId;
    uint8_t* data;
    uint16_t dataLength;
    uint8_t reserved3[2];
    uint32_t* status;
    uint32_t auxValue;
    uint32_t transmitFlag;  // 1 sends, 0 receives
};
static_assert(offsetof(CanMessageRecord, extendedId) == 4 &&
                  offsetof(CanMessageRecord, frameFlag) == 8 &&
                  offsetof(CanMessageRecord, auxWord) == 12 &&
                  offsetof(CanMessageRecord, auxByte) == 14 &&
                  offsetof(CanMessageRecord, messageId) == 16,
              "CanMessageRecord layout before the first pointer");
// With 32-bit pointers, as on the device, the record is exactly what the driver reads.
static_assert(sizeof(void*) != 4 || sizeof(CanMessageRecord) == 40, "CanMessageRecord is 40 bytes");
static_assert(sizeof(void*) != 4 ||
                  (offsetof(CanMessageRecord, data) == 20 &&
                   offsetof(CanMessageRecord, dataLength) == 24 &&
                   offsetof(CanMessageRecord, status) == 28 &&
                   offsetof(CanMessageRecord, auxValue) == 32 &&
                   offsetof(CanMessageRecord, transmitFlag) == 36),
              "CanMessageRecord layout");

struct CanTransferRequest {
    CanMessageRecord* message;
    uint32_t count;  // records at `message`; always 1 from the library
};
static_assert(sizeof(void*) != 4 || sizeof(CanTransferRequest) == 8, "CanTransferRequest is 8 bytes");
static_assert(sizeof(void*) != 4 || offsetof(CanTransferRequest, count) == 4,
              "CanTransferRequest layout");

// The receive filter: eight words, of which the first two and the fifth are the driver's own.
struct CanFilterRecord {
    uint32_t reserved0;
    uint32_t reserved1;
    uint32_t filterId;
    uint32_t filterMask;
    uint32_t reserved4;
    uint32_t filterFlag;
    uint32_t filterSet;
    uint32_t filterOption;
};
static_assert(sizeof(CanFilterRecord) == 32, "CanFilterRecord is 32 bytes");
static_assert(offsetof(CanFilterRecord, filterId) == 8 &&
                  offsetof(CanFilterRecord, filterMask) == 12 &&
                  offsetof(CanFilterRecord, filterFlag) == 20 &&
                  offsetof(CanFilterRecord, filterSet) == 24 &&
                  offsetof(CanFilterRecord, filterOption) == 28,
              "CanFilterRecord layout");

}  // namespace tarvik
