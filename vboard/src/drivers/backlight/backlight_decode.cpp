// The backlight requests as the trace shows them: "BKL1: SET_LEVEL 80", "BKL1: FOLLOW_UP".
#include "drivers/backlight/backlight_driver.h"

namespace vboard {

std::optional<std::string> BacklightDriver::decode(const TraceEntry& e) const {
    if (e.function != "DeviceIoControl") return std::nullopt;
    if (e.code == kBacklightFollowUp) return std::string("FOLLOW_UP");
    if (e.code != kBacklightSetLevel) return std::nullopt;
    if (e.in.size() != kLevelRecordSize) return "SET_LEVEL malformed [" + hexBytes(e.in) + "]";
    std::string text = "SET_LEVEL " + std::to_string(wordAt(e.in.data(), 0));
    // The record's other words are shown only when they are not what the driver expects.
    if (wordAt(e.in.data(), 1) != 1 || wordAt(e.in.data(), 2) != wordAt(e.in.data(), 0))
        text += " [" + hexBytes(e.in) + "]";
    return text;
}

}  // namespace vboard
