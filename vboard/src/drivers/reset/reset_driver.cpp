// The module reset driver "IOC1:": its one request restarts the board (os/restart.cpp).
#include "drivers/reset/reset_driver.h"

namespace vboard {

DWORD ResetDriver::ioControl(IoRequest& request) {
    if (request.code != kIocReset) return static_cast<DWORD>(ERROR_NOT_SUPPORTED);
    if (request.inSize != 0 || request.outSize != 0)
        return static_cast<DWORD>(ERROR_INVALID_PARAMETER);
    restartBoard(this, request.instance);
    return ERROR_SUCCESS;
}

}  // namespace vboard
