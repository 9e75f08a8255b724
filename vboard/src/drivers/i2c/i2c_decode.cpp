// The I2C requests as the trace shows them: "I2C2: TRANSFER [W 0x50: 00 10][R 0x50: 4 bytes]".
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "drivers/i2c/i2c_bus_controller.h"

namespace vboard {

std::string i2cAddressText(uint8_t address) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", address);
    return text;
}

namespace {

// "[W 0x50: 10 00 AB][R 0x50: 4 bytes]", or nullopt when the detail is cut short.
std::optional<std::string> packetsText(const Bytes& detail) {
    std::string text;
    size_t at = 0;
    while (at < detail.size()) {
        if (detail.size() - at < 4) return std::nullopt;
        const uint8_t address = detail[at];
        const bool write = detail[at + 1] == kI2cWrite;
        const size_t length = detail[at + 2] | static_cast<size_t>(detail[at + 3]) << 8;
        at += 4;
        text += std::string("[") + (write ? "W " : "R ") + i2cAddressText(address);
        if (write) {
            if (detail.size() - at < length) return std::nullopt;
            const Bytes data(detail.begin() + static_cast<std::ptrdiff_t>(at),
                             detail.begin() + static_cast<std::ptrdiff_t>(at + length));
            text += ":" + std::string(length ? " " : "") + hexBytes(data) + "]";
            at += length;
        } else {
            text += ": " + std::to_string(length) + (length == 1 ? " byte]" : " bytes]");
        }
    }
    return text;
}

uint32_t word(const Bytes& bytes) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) value |= static_cast<uint32_t>(bytes[i]) << (8 * i);
    return value;
}

}  // namespace

std::optional<std::string> I2cBusController::decode(const TraceEntry& e) const {
    if (e.function != "DeviceIoControl") return std::nullopt;
    switch (e.code) {
        case kI2cSetMasterMode:
            return std::string("SET_MASTER_MODE");
        case kI2cSetFrequency:
            if (e.in.size() != 4) return "SET_FREQUENCY malformed [" + hexBytes(e.in) + "]";
            return "SET_FREQUENCY " + std::to_string(word(e.in));
        case kI2cConfirm:
            // The word is the driver's answer, so there is one only when the call succeeded.
            if (e.ok && e.out.size() >= 4) return "CONFIRM word " + std::to_string(word(e.out));
            return std::string("CONFIRM");
        case kI2cTransfer: {
            if (auto packets = packetsText(e.detail); packets && !packets->empty())
                return "TRANSFER " + *packets;
            // Refused before the packets were read (a fault in front of the driver, or a block
            // it would not take): the count is all the trace can tell.
            if (e.in.size() == sizeof(I2cTransferBlock)) {
                int32_t count;
                std::memcpy(&count, e.in.data() + offsetof(I2cTransferBlock, packetCount),
                            sizeof count);
                return "TRANSFER " + std::to_string(count) + (count == 1 ? " packet" : " packets");
            }
            return "TRANSFER malformed [" + hexBytes(e.in) + "]";
        }
        default:
            return std::nullopt;
    }
}

}  // namespace vboard
