// The board's system-service state, its control API and its "on-reset" directive.
#include "os/system_services.h"

namespace vboard {
namespace {
SystemServices* installed = nullptr;
}  // namespace

void SystemServices::powerOn(bool isRestart) {
    std::lock_guard<std::mutex> hold(lock_);
    kitl_ = true;
    kitlSwitches_.clear();
    calibrations_ = 0;
    // The count of restarts and the process's fate are the bench's, not the module's: a restart
    // keeps them, a reset from the control API clears them.
    if (!isRestart) {
        restarts_ = 0;
        endProcess_ = false;
    }
}

void SystemServices::switchKitl(bool on) {
    std::lock_guard<std::mutex> hold(lock_);
    kitl_ = on;
    kitlSwitches_.push(bool{on}, kDefaultRecordLimit);
}

bool SystemServices::kitlPowered() const {
    std::lock_guard<std::mutex> hold(lock_);
    return kitl_;
}

std::vector<bool> SystemServices::kitlSwitches() const {
    std::lock_guard<std::mutex> hold(lock_);
    return kitlSwitches_.items();
}

void SystemServices::noteCalibration() {
    std::lock_guard<std::mutex> hold(lock_);
    ++calibrations_;
}

uint64_t SystemServices::calibrations() const {
    std::lock_guard<std::mutex> hold(lock_);
    return calibrations_;
}

void SystemServices::noteRestart() {
    std::lock_guard<std::mutex> hold(lock_);
    ++restarts_;
}

uint64_t SystemServices::restarts() const {
    std::lock_guard<std::mutex> hold(lock_);
    return restarts_;
}

void SystemServices::setEndProcess(bool on) {
    std::lock_guard<std::mutex> hold(lock_);
    endProcess_ = on;
}

bool SystemServices::endProcess() const {
    std::lock_guard<std::mutex> hold(lock_);
    return endProcess_;
}

SystemServices& systemServices() {
    board();
    return *installed;
}

SystemServices& installSystemServices(Board& board) {
    installed = new SystemServices();  // like the board, never destroyed
    SystemServices* services = installed;
    board.powerOnSteps.push_back(
        [services](Host&) { services->powerOn(services->restarting.load()); });
    board.addDirective(Directive{
        "on-reset", "on-reset end-process|go-on",
        [services](const std::vector<std::string>& words, const std::string&) -> std::string {
            if (words.size() != 2 || (words[1] != "end-process" && words[1] != "go-on"))
                return "expected: on-reset end-process|go-on";
            services->setEndProcess(words[1] == "end-process");
            return "";
        }});
    return *services;
}

// ---- Control API ----

bool kitlPowered() { return systemServices().kitlPowered(); }
std::vector<bool> kitlSwitches() { return systemServices().kitlSwitches(); }
uint64_t touchCalibrations() { return systemServices().calibrations(); }
uint64_t restarts() { return systemServices().restarts(); }
void setEndProcessOnReset(bool on) { systemServices().setEndProcess(on); }
bool endProcessOnReset() { return systemServices().endProcess(); }

}  // namespace vboard
