// The system's side of the interface the driver families use (os/host.h).
#include "os/host.h"

#include "os/board.h"

namespace vboard {

void Host::onPowerOn(std::function<void(Host&)> step) {
    board_.powerOnSteps.push_back(std::move(step));
}

void Host::plugAtPowerOn(std::vector<Plug> drivers, std::function<void()> powerOn) {
    onPowerOn([drivers = std::move(drivers), powerOn = std::move(powerOn)](Host& host) {
        if (powerOn) powerOn();
        for (const Plug& plug : drivers) host.addDriver(plug.first, plug.second);
    });
}

void Host::addDirective(Directive directive) { board_.addDirective(std::move(directive)); }

void Host::nameRequests(const std::string& family, const std::vector<RequestName>& names) {
    for (const RequestName& r : names) board_.requests.push_back(NamedRequest{family, r.name, r.code});
}

void Host::onBoardFolder(std::function<void()> step) { board_.folderSteps.push_back(std::move(step)); }

const BoardClock& Host::clock() const { return board_.clock; }

void Host::addDriver(const std::string& device, std::shared_ptr<StreamDriver> driver) {
    std::lock_guard<std::mutex> hold(board_.lock);
    board_.drivers[fold(device)] = std::move(driver);
}

void Host::atStart(std::function<void()> start) { board_.startSteps.push_back(std::move(start)); }

void Host::afterReset(std::function<void()> step) { board_.resetSteps.push_back(std::move(step)); }

void startBoard() { board(); }

void recordMisuse(std::string text) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    b.addMisuse(std::move(text));
}

std::optional<SYSTEMTIME> fixedSystemTime() {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    if (!b.fixedTime) return std::nullopt;
    return b.time;
}

std::vector<NamedRequest> namedRequests() {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    return b.requests;
}

}  // namespace vboard
