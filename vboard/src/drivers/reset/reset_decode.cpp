// The reset request as the trace shows it: "IOC1: RESET".
#include "drivers/reset/reset_driver.h"

namespace vboard {

std::optional<std::string> ResetDriver::decode(const TraceEntry& e) const {
    if (e.function != "DeviceIoControl" || e.code != kIocReset) return std::nullopt;
    return std::string("RESET");
}

}  // namespace vboard
