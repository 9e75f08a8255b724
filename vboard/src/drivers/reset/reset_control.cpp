// The reset driver's control side: its installation on the board. What a restart did is the
// system's to tell (restarts(), vboard/system.h).
#include "drivers/reset/reset_driver.h"

namespace vboard {

void installReset(Host& host) {
    host.plugAtPowerOn({{"IOC1:", std::make_shared<ResetDriver>()}});
    host.nameRequests("IOC", {{"RESET", kIocReset}});
}

}  // namespace vboard
