// The module reset driver "IOC1:" as a model: its one request restarts the board.
#pragma once

#include "os/board.h"

namespace vboard {

constexpr DWORD kIocReset = 0x6BBD;

class ResetDriver : public StreamDriver {
public:
    DWORD ioControl(IoRequest& request) override;
    std::optional<std::string> decode(const TraceEntry& entry) const override;
};

// Restarts the board from inside a request on one of its opens, `instance` of `driver`. Every
// other open is closed as a reset closes it, waiting for its calls in flight; the calling open
// is released without that wait, since the call in flight on it is this one.
void restartBoard(Board& board, const StreamDriver* driver, uint64_t instance);

void installResetDriver(Board& board);

}  // namespace vboard
