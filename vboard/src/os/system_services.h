// The state of the board's system services that belongs to no stream driver: the debug link's
// power, touch calibrations, restarts and what a reset request does to the calling process.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "os/board.h"

namespace vboard {

// KernelIoControl's request that powers the kernel debug link on or off.
constexpr DWORD kKitlPower = 0x01010144;  // FILE_DEVICE_HAL, function 81

class SystemServices {
public:
    // Power-on: the link powered, nothing calibrated or restarted, the process kept alive.
    void powerOn(bool restarting);

    void switchKitl(bool on);
    bool kitlPowered() const;
    std::vector<bool> kitlSwitches() const;

    void noteCalibration();
    uint64_t calibrations() const;

    void noteRestart();
    uint64_t restarts() const;
    void setEndProcess(bool on);
    bool endProcess() const;

    // True while a reset request restarts the board: the storage keeps its files then, where a
    // reset from the control API starts a memory board afresh.
    std::atomic<bool> restarting{false};
    // Held by the restart in progress; a second reset request finds it taken and leaves
    // restartAsked set for it.
    std::mutex restartLock;
    std::atomic<bool> restartAsked{false};

private:
    mutable std::mutex lock_;
    bool kitl_ = true;
    Window<bool> kitlSwitches_;
    uint64_t calibrations_ = 0;
    uint64_t restarts_ = 0;
    bool endProcess_ = false;
};

// The services of this process's board.
SystemServices& systemServices();
// Installs the services on a board under construction and answers them, for the installers
// that come after (which must not reach them through the board).
SystemServices& installSystemServices(Board& board);

}  // namespace vboard
