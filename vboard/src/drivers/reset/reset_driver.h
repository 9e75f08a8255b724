// The module reset driver "IOC1:" as a model: its one request restarts the board.
#pragma once

#include "os/host.h"

namespace vboard {

constexpr DWORD kIocReset = 0x6BBD;

class ResetDriver : public StreamDriver {
public:
    DWORD ioControl(IoRequest& request) override;
    std::optional<std::string> decode(const TraceEntry& entry) const override;
};

void installReset(Host& host);

}  // namespace vboard
