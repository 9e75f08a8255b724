// The exported CAN operations. They keep all CAN state in CanState and reach the controller
// only through CanControllerDevice. The records outlive CANClose: what one export leaves in them
// is what the next one sends, across a close and a reopen.
#include "can/can_operations.h"

#include <stdlib.h>
#include <string.h>

#include "can/can_controller_device.h"
#include "can/can_state.h"
#include "platform/request_lines.h"

namespace tarvik {

CanControllerDevice canDevice;

namespace {

// The module has one CAN controller: port 1.
constexpr uint32_t kCanPortNumber = 1;

// The largest identifier of each format: 11 bits, or 29 bits.
constexpr int32_t kStandardIdLimit = 0x7FF;
constexpr int32_t kExtendedIdLimit = 0x1FFFFFFF;

// Direction 0 is the receive side; any other value the transmit side.
CanMessageRecord& recordFor(uint8_t direction) {
    return direction == 0 ? canState.receiveRecord : canState.transmitRecord;
}

// A new mode starts both records afresh in its identifier format, without data; the caller's
// message fields stay as they were.
void startRecord(CanMessageRecord& record, uint8_t receiveFlag, uint32_t extendedId) {
    record.receiveFlag = receiveFlag;
    record.extendedId = extendedId;
    record.data = nullptr;
    record.dataLength = 0;
}

// The record's length field holds the low 16 bits of the caller's count; the whole count is
// copied all the same.
uint16_t lengthField(int32_t length) {
    return static_cast<uint16_t>(static_cast<uint32_t>(length));
}

// Hands one record to the driver. The transfer succeeds when the request does and the driver
// then wrote 0 into the record's status word.
bool transferRecord(CanMessageRecord& record, const uint32_t& status) {
    canState.transferRequest.count = 1;
    canState.transferRequest.message = &record;
    return canDevice.transfer(&canState.handle, &canState.transferRequest) && status == 0;
}

}  // namespace

uint8_t CANOpen(uint32_t port) {
    if (port != kCanPortNumber) return 0;
    // A failed open leaves INVALID_HANDLE_VALUE, which only CANClose clears.
    if (canState.handle != nullptr) return refuse(L"Can't Open Can Port\r\n");
    if (!canDevice.openController(&canState.handle, L"CAN1:"))
        return refuse(L"Can't Open Can Port\r\n");
    return 1;
}

void CANClose(uint32_t port) {
    if (port != kCanPortNumber) return;
    if (canState.handle == nullptr) {
        NKDbgPrintfW(L"Can't Close Can Port\r\n");
        return;
    }
    canDevice.closeController(&canState.handle);
}

uint8_t CANConfigureMode(uint32_t port, uint32_t extendedId, uint32_t bitrate, uint8_t tlprio,
                         uint8_t loopback) {
    // Callers rely on this order: a bit rate of 0 is refused before the port is looked at.
    if (bitrate == 0) return 0;
    if (port != kCanPortNumber) return 0;
    if (canState.handle == nullptr) return refuse(L"Can't Configure Can Port\r\n");

    canState.extendedId = extendedId;
    startRecord(canState.receiveRecord, 1, extendedId);
    startRecord(canState.transmitRecord, 0, extendedId);
    if (!canDevice.setBitrate(&canState.handle, bitrate))
        return refuse(L"Can't Configure Can Bitrate Port\r\n");
    if (!canDevice.setTlprio(&canState.handle, tlprio))
        return refuse(L"Can't Configure Can Mode TLPRIO Port\r\n");
    if (!canDevice.setLoopback(&canState.handle, loopback))
        return refuse(L"Can't Configure Can Mode Loopback Port\r\n");
    return 1;
}

uint8_t CANConfigureTiming(uint32_t port, uint32_t prescaler, uint32_t propseg,
                           uint32_t phase1seg, uint32_t phase2seg, uint32_t auxTiming) {
    if (port != kCanPortNumber || canState.handle == nullptr)
        return refuse(L"Can't Configure Can Timeout Port\r\n");
    // The driver keeps its own base clock: the field and the trailing bytes go as 0.
    CanTimingRecord timing = {};
    timing.prescaler = static_cast<uint16_t>(prescaler);
    timing.propseg = static_cast<uint8_t>(propseg);
    timing.phase1seg = static_cast<uint8_t>(phase1seg);
    timing.phase2seg = static_cast<uint8_t>(phase2seg);
    timing.auxTiming = static_cast<uint8_t>(auxTiming);
    if (!canDevice.setTiming(&canState.handle, timing))
        return refuse(L"Can't Configure Can Timeout Port\r\n");
    return 1;
}

uint8_t CANConfigureFilter(uint32_t port, int32_t filterId, uint32_t filterMask,
                           uint8_t filterFlag, uint8_t filterOption) {
    if (port != kCanPortNumber) return 0;
    // The identifier format is the one the last CANConfigureMode chose. The comparison is
    // signed, so a negative identifier passes, as callers have come to expect.
    const int32_t limit = canState.extendedId == 0 ? kStandardIdLimit : kExtendedIdLimit;
    if (filterId > limit) return refuse(L"Unknown Filter ID\r\n");

    CanFilterRecord& filter = canState.filterRecord;
    filter.filterId = static_cast<uint32_t>(filterId);
    filter.filterMask = filterMask;
    filter.filterFlag = filterFlag;
    filter.filterSet = 1;
    filter.filterOption = filterOption;
    if (canState.handle == nullptr) return refuse(L"Can't Configure Can Filter Port\r\n");
    // A second filter is added beside the first, and only the last one can be removed.
    if (!canDevice.addFilter(&canState.handle, &canState.filterHandle, filter))
        return refuse(L"Can't Configure Can Filter Port\r\n");
    return 1;
}

uint8_t CANResetFilter(uint32_t port) {
    if (port != kCanPortNumber) return 0;
    CanFilterRecord& filter = canState.filterRecord;
    filter.filterId = 0;
    filter.filterMask = 0;
    filter.filterFlag = 0;
    filter.filterOption = 0;
    filter.filterSet = 1;
    if (canState.handle == nullptr) return refuse(L"Can't Remove Can Filter Port\r\n");
    if (canState.filterHandle == 0) return 0;
    // The handle is kept after the removal: a second reset asks the driver again.
    if (!canDevice.removeFilter(&canState.handle, &canState.filterHandle))
        return refuse(L"Can't Remove Can Filter Port\r\n");
    return 1;
}

uint8_t CANConfigureMessage(uint32_t port, uint32_t frameFlag, uint32_t messageId,
                            uint8_t auxByte, uint32_t auxValue, uint8_t direction) {
    if (port != kCanPortNumber) return refuse(L"Can't Configure Can Message Port\r\n");
    CanMessageRecord& record = recordFor(direction);
    record.frameFlag = frameFlag != 0 ? 1 : 0;
    record.auxWord = 0;
    record.messageId = messageId;
    record.auxByte = auxByte;
    record.auxValue = auxValue;
    record.status = direction == 0 ? &canState.receiveStatus : &canState.transmitStatus;
    record.transmitFlag = direction == 1 ? 1 : 0;
    return 1;
}

uint8_t CANGetMessageParameter(uint32_t port, uint32_t* messageId, uint32_t* dataLength,
                               uint32_t* frameFlag, uint8_t* auxByte, uint32_t* auxValue,
                               uint32_t* transmitFlag, uint8_t direction) {
    if (port != kCanPortNumber) return 0;
    // The identifier is what every caller asks for; without a place for it nothing is read.
    if (messageId == nullptr) return 0;
    const CanMessageRecord& record = recordFor(direction);
    *messageId = record.messageId;
    if (dataLength != nullptr) *dataLength = record.dataLength;
    if (frameFlag != nullptr) *frameFlag = record.frameFlag;
    if (auxByte != nullptr) *auxByte = record.auxByte;
    if (auxValue != nullptr) *auxValue = record.auxValue;
    if (transmitFlag != nullptr) *transmitFlag = record.transmitFlag;
    return 1;
}

uint8_t CANRead(uint32_t port, uint8_t* buffer, int32_t length, uint32_t* status) {
    if (port != kCanPortNumber) return 0;
    if (buffer == nullptr) return refuse(L"Can't get data buffer\r\n");
    if (length < 1) return refuse(L"Can't get data length less 1\r\n");
    if (canState.handle == nullptr) return refuse(L"Can't Read Can data\r\n");

    // Zeroed, so that a failed or short receive hands the caller zeros, never old heap data.
    uint8_t* received = static_cast<uint8_t*>(malloc(static_cast<size_t>(length)));
    if (received == nullptr) return refuse(L"Can't Read Can data\r\n");
    memset(received, 0, static_cast<size_t>(length));

    CanMessageRecord& record = canState.receiveRecord;
    record.receiveFlag = 1;
    record.dataLength = lengthField(length);
    record.transmitFlag = 0;
    record.status = &canState.receiveStatus;
    record.data = received;
    const bool ok = transferRecord(record, canState.receiveStatus);
    if (status != nullptr) *status = canState.receiveStatus;
    // The caller's buffer receives the whole length, whatever the outcome.
    memcpy(buffer, received, static_cast<size_t>(length));
    free(received);
    if (!ok) return refuse(L"Can't Read Can data\r\n");
    return 1;
}

uint8_t CANWrite(uint32_t port, const uint8_t* data, int32_t length, uint32_t* status) {
    if (port != kCanPortNumber) return 0;
    if (data == nullptr) return refuse(L"Can't get data buffer\r\n");
    if (canState.handle == nullptr) return refuse(L"Can't Write Can data\r\n");
    if (length < 0) return refuse(L"Can't Write Can data\r\n");

    // A message without data bytes is valid; at least one byte is taken, as malloc(0) may
    // answer null, which is no failure here.
    const size_t size = static_cast<size_t>(length);
    uint8_t* sent = static_cast<uint8_t*>(malloc(size > 0 ? size : 1));
    if (sent == nullptr) return refuse(L"Can't Write Can data\r\n");
    memcpy(sent, data, size);

    CanMessageRecord& record = canState.transmitRecord;
    record.receiveFlag = 0;
    record.dataLength = lengthField(length);
    record.auxWord = 0;
    record.transmitFlag = 1;
    record.status = &canState.transmitStatus;
    record.data = sent;
    const bool ok = transferRecord(record, canState.transmitStatus);
    free(sent);
    if (status != nullptr) *status = canState.transmitStatus;
    if (!ok) return refuse(L"Can't Write Can data\r\n");
    return 1;
}

}  // namespace tarvik
