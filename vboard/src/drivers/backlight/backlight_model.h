// The backlight driver "BKL1:" as a model: a level request (level, 1, level, any word) sets the
// level to apply, and the follow-up request applies it to the display.
#pragma once

#include <mutex>

#include "os/host.h"
#include "vboard/system.h"

namespace vboard {

constexpr DWORD kBacklightSetLevel = 0x0113040C;
constexpr DWORD kBacklightFollowUp = 0x01130410;

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
