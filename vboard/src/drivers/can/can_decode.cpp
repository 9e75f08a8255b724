// The CAN requests as the trace shows them: "CAN1: SET_TIMING prescaler 4 segments ...".
#include <cstddef>

#include "drivers/can/can_controller.h"

namespace vboard {
namespace {

uint32_t word(const Bytes& bytes, size_t offset) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) value |= static_cast<uint32_t>(bytes[offset + i]) << (8 * i);
    return value;
}

std::string timingText(const Bytes& record) {
    return "prescaler " + std::to_string(record[4] | (record[5] << 8)) + " segments " +
           std::to_string(record[6]) + " " + std::to_string(record[7]) + " " +
           std::to_string(record[8]) + " aux " + std::to_string(record[9]);
}

}  // namespace

std::optional<std::string> CanController::decode(const TraceEntry& entry) const {
    return decodeCanRequest(entry);
}

std::optional<std::string> decodeCanRequest(const TraceEntry& e) {
    if (e.function != "DeviceIoControl") return std::nullopt;
    switch (e.code) {
        case kCanTlprioOn: return std::string("TLPRIO on");
        case kCanTlprioOff: return std::string("TLPRIO off");
        case kCanLoopbackOn: return std::string("LOOPBACK on");
        case kCanLoopbackOff: return std::string("LOOPBACK off");
        case kCanGetTiming:
            // The timing is the driver's answer, so there is one only when the call succeeded.
            if (!e.ok || e.out.size() < sizeof(CanTimingRecord)) return std::string("GET_TIMING");
            return "GET_TIMING baseclock " + std::to_string(word(e.out, 0)) + " " +
                   timingText(e.out);
        case kCanSetTiming:
            if (e.in.size() != sizeof(CanTimingRecord))
                return "SET_TIMING malformed [" + hexBytes(e.in) + "]";
            return "SET_TIMING " + timingText(e.in);
        case kCanAddFilter: {
            if (e.in.size() != sizeof(CanFilterRecord))
                return "ADD_FILTER malformed [" + hexBytes(e.in) + "]";
            std::string text = "ADD_FILTER id " + hex(word(e.in, 8)) + " mask " +
                               hex(word(e.in, 12)) + " flag " + std::to_string(word(e.in, 20)) +
                               " set " + std::to_string(word(e.in, 24)) + " option " +
                               std::to_string(word(e.in, 28));
            if (e.ok && e.out.size() >= 4) text += " handle " + std::to_string(word(e.out, 0));
            return text;
        }
        case kCanRemoveFilter:
            if (e.in.size() != 4) return "REMOVE_FILTER malformed [" + hexBytes(e.in) + "]";
            return "REMOVE_FILTER handle " + std::to_string(word(e.in, 0));
        case kCanTransfer:
            // The driver's note of the frame; without one (a refused request), what the request
            // says apart from its pointer, which would differ from run to run.
            if (!e.detail.empty()) return e.detailText();
            if (e.in.size() != sizeof(CanTransferRequest))
                return "TRANSFER malformed [" + hexBytes(e.in) + "]";
            return "TRANSFER count " + std::to_string(word(e.in, offsetof(CanTransferRequest, count)));
        default:
            return std::nullopt;
    }
}

}  // namespace vboard
