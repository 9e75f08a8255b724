// The backlight driver: the level record is read from the input buffer; the follow-up has no
// buffers. A level is applied only by its follow-up, so a display never shows half a request.
#include "drivers/backlight/backlight_driver.h"

#include "os/text.h"

namespace vboard {

DWORD BacklightDriver::ioControl(IoRequest& request) {
    if (request.code == kBacklightSetLevel) {
        if (request.in == nullptr || request.inSize != kLevelRecordSize)
            return static_cast<DWORD>(ERROR_INVALID_PARAMETER);
        const uint32_t level = wordAt(request.in, 0);
        // Word 1 must be 1 and word 2 the level again; word 3 is not read.
        if (wordAt(request.in, 1) != 1 || wordAt(request.in, 2) != level ||
            level > kBacklightMaxLevel)
            return static_cast<DWORD>(ERROR_INVALID_PARAMETER);
        std::lock_guard<std::mutex> hold(lock_);
        state_.pending = true;
        state_.pendingLevel = level;
        ++state_.levelRequests;
        return ERROR_SUCCESS;
    }
    if (request.code == kBacklightFollowUp) {
        if (request.inSize != 0 || request.outSize != 0)
            return static_cast<DWORD>(ERROR_INVALID_PARAMETER);
        std::lock_guard<std::mutex> hold(lock_);
        // A follow-up with no level waiting changes nothing and is harmless.
        if (state_.pending) state_.level = state_.pendingLevel;
        state_.pending = false;
        ++state_.followUps;
        return ERROR_SUCCESS;
    }
    return static_cast<DWORD>(ERROR_NOT_SUPPORTED);
}

BacklightState BacklightDriver::state() const {
    std::lock_guard<std::mutex> hold(lock_);
    return state_;
}

void BacklightDriver::powerOn() {
    std::lock_guard<std::mutex> hold(lock_);
    state_ = BacklightState{};
}

}  // namespace vboard
