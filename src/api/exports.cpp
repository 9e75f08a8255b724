// The exported entries. Each one hands its arguments, untouched, to the family operation of the
// same name; checks, messages and results all belong to the family.
#include "Tarvik.h"

#include "can/can_operations.h"
#include "gpio/gpio_operations.h"
#include "versions.h"

extern "C" {

uint32_t TarvikGetVersion(void) { return tarvik::TarvikGetVersion(); }
uint32_t BSPGetVersion(void) { return tarvik::BSPGetVersion(); }
uint32_t WinCEImageGetVersion(void) { return tarvik::WinCEImageGetVersion(); }

uint8_t GPIOSetDirection(uint32_t index, uint8_t input, uint8_t level) {
    return tarvik::GPIOSetDirection(index, input, level);
}
void GPIOSetPin(uint32_t index, uint8_t level) { tarvik::GPIOSetPin(index, level); }
uint8_t GPIOGetPin(uint32_t index) { return tarvik::GPIOGetPin(index); }
uint8_t GPIOSetInterrupt(uint32_t index, uint32_t mode, HANDLE event) {
    return tarvik::GPIOSetInterrupt(index, mode, event);
}
uint8_t GPIOClearInterrupt(uint32_t index) { return tarvik::GPIOClearInterrupt(index); }

uint8_t CANOpen(uint32_t port) { return tarvik::CANOpen(port); }
void CANClose(uint32_t port) { tarvik::CANClose(port); }
uint8_t CANConfigureMode(uint32_t port, uint32_t extendedId, uint32_t bitrate, uint8_t tlprio,
                         uint8_t loopback) {
    return tarvik::CANConfigureMode(port, extendedId, bitrate, tlprio, loopback);
}
uint8_t CANConfigureTiming(uint32_t port, uint32_t prescaler, uint32_t propseg,
                           uint32_t phase1seg, uint32_t phase2seg, uint32_t auxTiming) {
    return tarvik::CANConfigureTiming(port, prescaler, propseg, phase1seg, phase2seg, auxTiming);
}
uint8_t CANConfigureFilter(uint32_t port, int32_t filterId, uint32_t filterMask,
                           uint8_t filterFlag, uint8_t filterOption) {
    return tarvik::CANConfigureFilter(port, filterId, filterMask, filterFlag, filterOption);
}
uint8_t CANResetFilter(uint32_t port) { return tarvik::CANResetFilter(port); }
uint8_t CANConfigureMessage(uint32_t port, uint32_t frameFlag, uint32_t messageId,
                            uint8_t auxByte, uint32_t auxValue, uint8_t direction) {
    return tarvik::CANConfigureMessage(port, frameFlag, messageId, auxByte, auxValue, direction);
}
uint8_t CANGetMessageParameter(uint32_t port, uint32_t* messageId, uint32_t* dataLength,
                               uint32_t* frameFlag, uint8_t* auxByte, uint32_t* auxValue,
                               uint32_t* transmitFlag, uint8_t direction) {
    return tarvik::CANGetMessageParameter(port, messageId, dataLength, frameFlag, auxByte,
                                          auxValue, transmitFlag, direction);
}
uint8_t CANRead(uint32_t port, uint8_t* buffer, int32_t length, uint32_t* status) {
    return tarvik::CANRead(port, buffer, length, status);
}
uint8_t CANWrite(uint32_t port, const uint8_t* data, int32_t length, uint32_t* status) {
    return tarvik::CANWrite(port, data, length, status);
}

}  // extern "C"
