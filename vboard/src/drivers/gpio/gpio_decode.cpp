// The GPIO requests as the trace shows them: "GIO1: SET_PIN bank 0 pin 2 level 1 -> ok".
#include <cstddef>
#include <cstring>

#include "drivers/gpio/gpio_controller.h"

namespace vboard {
namespace {

const char* requestName(DWORD code) {
    switch (code) {
        case kGpioSetDirection: return "SET_DIRECTION";
        case kGpioSetPin: return "SET_PIN";
        case kGpioGetPin: return "GET_PIN";
        case kGpioSetEvent: return "SET_EVENT";
        case kGpioClearEvent: return "CLEAR_EVENT";
        default: return nullptr;
    }
}

size_t recordSize(DWORD code) {
    switch (code) {
        case kGpioSetDirection: return sizeof(GpioDirectionRecord);
        case kGpioSetPin:
        case kGpioGetPin: return sizeof(GpioLevelRecord);
        case kGpioSetEvent: return sizeof(GpioEventRecord);
        default: return sizeof(GpioPinRecord);
    }
}

uint32_t word(const Bytes& bytes, size_t offset) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) value |= static_cast<uint32_t>(bytes[offset + i]) << (8 * i);
    return value;
}

}  // namespace

std::optional<std::string> GpioController::decode(const TraceEntry& entry) const {
    return decodeGpioRequest(entry);
}

std::optional<std::string> decodeGpioRequest(const TraceEntry& e) {
    if (e.function != "DeviceIoControl") return std::nullopt;
    const char* name = requestName(e.code);
    if (name == nullptr) return std::nullopt;
    if (e.in.size() != recordSize(e.code))
        return std::string(name) + " malformed [" + hexBytes(e.in) + "]";

    std::string text = std::string(name) +
                       " bank " + std::to_string(static_cast<int32_t>(word(e.in, 0))) +
                       " pin " + std::to_string(static_cast<int32_t>(word(e.in, 4)));
    switch (e.code) {
        case kGpioSetDirection: {
            const uint32_t direction = word(e.in, 8);
            text += direction == 0   ? " input"
                    : direction == 1 ? " output"
                                     : " direction " + std::to_string(direction);
            text += " mode " + std::to_string(word(e.in, 12));
            break;
        }
        case kGpioSetPin:
            text += " level " + std::to_string(word(e.in, 8));
            break;
        case kGpioGetPin:
            // The level is the driver's answer, so there is one only when the call succeeded.
            if (e.ok && e.inAfter.size() == e.in.size())
                text += " level " + std::to_string(word(e.inAfter, 8));
            break;
        case kGpioSetEvent: {
            HANDLE event;
            std::memcpy(&event, e.in.data() + offsetof(GpioEventRecord, eventHandle), sizeof event);
            text += " event " + handleLabel(event);
            break;
        }
        default:
            break;
    }
    return text;
}

}  // namespace vboard
