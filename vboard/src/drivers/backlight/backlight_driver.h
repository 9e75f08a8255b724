// The backlight driver "BKL1:" as a model: a level request (level, 1, level, any word) sets the
// level to apply, and the follow-up request applies it to the display.
#pragma once

#include <cstring>
#include <mutex>

#include "os/host.h"
#include "vboard/system.h"

namespace vboard {

constexpr DWORD kBacklightSetLevel = 0x0113040C;
constexpr DWORD kBacklightFollowUp = 0x01130410;

// The level request's record: level, 1, level, a word the driver does not read.
constexpr size_t kLevelRecordSize = 16;

inline uint32_t wordAt(const uint8_t* bytes, size_t index) {
    uint32_t value;
    std::memcpy(&value, bytes + 4 * index, sizeof value);
    return value;
}

class BacklightDriver : public StreamDriver {
public:
    DWORD ioControl(IoRequest& request) override;
    std::optional<std::string> decode(const TraceEntry& entry) const override;
    BacklightState state() const;
    void powerOn();

private:
    mutable std::mutex lock_;
    BacklightState state_;
};

void installBacklight(Host& host);

}  // namespace vboard
