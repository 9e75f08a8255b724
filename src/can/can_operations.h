// The ten exported CAN operations on the module's one CAN controller, port 1.
#pragma once

#include <stdint.h>

#include "tarvik_platform.h"

namespace tarvik {

uint8_t CANOpen(uint32_t port);
void CANClose(uint32_t port);
uint8_t CANConfigureMode(uint32_t port, uint32_t extendedId, uint32_t bitrate, uint8_t tlprio,
                         uint8_t loopback);
uint8_t CANConfigureTiming(uint32_t port, uint32_t prescaler, uint32_t propseg,
                           uint32_t phase1seg, uint32_t phase2seg, uint32_t auxTiming);
uint8_t CANConfigureFilter(uint32_t port, int32_t filterId, uint32_t filterMask,
                           uint8_t filterFlag, uint8_t filterOption);
uint8_t CANResetFilter(uint32_t port);
uint8_t CANConfigureMessage(uint32_t port, uint32_t frameFlag, uint32_t messageId,
                            uint8_t auxByte, uint32_t auxValue, uint8_t direction);
uint8_t CANGetMessageParameter(uint32_t port, uint32_t* messageId, uint32_t* dataLength,
                               uint32_t* frameFlag, uint8_t* auxByte, uint32_t* auxValue,
                               uint32_t* transmitFlag, uint8_t direction);
uint8_t CANRead(uint32_t port, uint8_t* buffer, int32_t length, uint32_t* status);
uint8_t CANWrite(uint32_t port, const uint8_t* data, int32_t length, uint32_t* status);

}  // namespace tarvik
