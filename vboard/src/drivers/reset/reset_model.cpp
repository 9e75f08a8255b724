// The module reset driver "IOC1:": its one request restarts the board (os/restart.cpp).
#include "drivers/reset/reset_model.h"

#include "os/text.h"

namespace vboard {

DWORD ResetDriver::ioControl(IoRequest& request) {
    if (request.code != kIocReset) return static_cast<DWORD>(ERROR_NOT_SUPPORTED);
    if (request.inSize != 0 || request.outSize != 0)
        return static_cast<DWORD>(ERROR_INVALID_PARAMETER);
    restartBoard(this, request.instance);
    return ERROR_SUCCESS;
}

std::optional<std::string> ResetDriver::decode(const TraceEntry& e) const {
    if (e.function != "DeviceIoControl" || e.code != kIocReset) return std::nullopt;
    return std::string("RESET");
}

void installReset(Host& host) {
    host.plugAtPowerOn({{"IOC1:", std::make_shared<ResetDriver>()}});
    host.nameRequests("IOC", {{"RESET", kIocReset}});
}

}  // namespace vboard
