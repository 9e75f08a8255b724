// The board's restart, as the module's reset driver asks for it.
//
// A reset request arrives inside DeviceIoControl, which counts the call in flight on the
// caller's open; closing that open the ordinary way would wait for the call that is doing the
// closing. So the restart takes every handle off the board and shuts the other opens down as a
// reset does, but releases the caller's own open at once: the reset driver keeps nothing per
// open, and the call in flight on it returns straight after the restart. A second reset request
// that arrives while a restart runs is accepted without a restart of its own (the module is
// already going down) and returns at once, so the restart in progress, which closes that open
// too, never waits on it for long; a request whose open the sweep missed makes the restart run
// once more.
#include <cstdio>
#include <cstdlib>

#include "os/board.h"
#include "os/system_services.h"

namespace vboard {
namespace {

// Every process on the module ends: each handle is closed and its driver sees the close. The
// caller's own open is released without waiting for the call in flight on it, its own.
void sweepHandles(Board& b, const StreamDriver* callerDriver, uint64_t callerInstance) {
    std::vector<std::shared_ptr<KernelObject>> stillOpen;
    {
        std::lock_guard<std::mutex> hold(b.lock);
        for (auto& h : b.handles) stillOpen.push_back(std::move(h.second.object));
        b.handles.clear();
        b.namedEvents.clear();
        b.drivers.clear();
    }
    for (auto& object : stillOpen) {
        auto open = std::dynamic_pointer_cast<DriverObject>(object);
        if (!open) continue;
        if (open->driver.get() == callerDriver && open->instance == callerInstance)
            open->driver->close(open->instance);
        else
            open->shutDown();
    }
}

}  // namespace

void restartBoard(const StreamDriver* callerDriver, uint64_t callerInstance) {
    Board& b = board();
    SystemServices& services = systemServices();
    // Asked before trying, so that the restart in progress sees the request when it finishes.
    services.restartAsked = true;
    for (;;) {
        std::unique_lock<std::mutex> once(services.restartLock, std::try_to_lock);
        if (!once.owns_lock()) return;  // the restart in progress carries this one out too
        services.restartAsked = false;
        sweepHandles(b, callerDriver, callerInstance);
        // The devices come up in their power-on state, the storage keeps its files and the
        // registry is loaded from its hives.
        services.restarting = true;
        Host host(b, true);
        for (const auto& step : b.powerOnSteps) step(host);
        services.restarting = false;
        services.noteRestart();
        once.unlock();
        // A request that came in while this restart ran may have an open the sweep missed.
        if (!services.restartAsked) break;
        callerDriver = nullptr;
    }

    if (services.endProcess()) {
        // As on the module, the caller never gets control back. What the process printed is
        // written out first, and a GPIO waveform still recording (the board's other files are
        // complete as they go).
        recordVcd("");
        std::fflush(nullptr);
        std::_Exit(0);
    }
}

}  // namespace vboard
