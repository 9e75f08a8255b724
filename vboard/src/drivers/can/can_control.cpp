// The CAN controller's control side: its installation on the board, and can().
#include "drivers/can/can_controller.h"

namespace vboard {
namespace {

// The controller installed on this process's board. Like the board it is never destroyed.
Installed<CanController> installed;

}  // namespace

void installCan(Host& host) {
    auto controller = std::make_shared<CanController>();
    // At power-on the controller runs at its reset timing, without filters or frames, and
    // "CAN1:" is on the board.
    host.installModel(installed, controller, {{kCanDevice, controller}});
    CanController* model = controller.get();
    // The module's own reset keeps it on its bus; a board built afresh (a reset from the control
    // API) is on the bus its configuration joins, which is applied again after this.
    host.onPowerOn([model](Host& on) {
        if (!on.restarting()) model->leaveBus();
    });
    host.addDirective(Directive{
        "can",
        "can inject <frame> | can clock <hz> | can rx-wait <ms> | can log <file>|off | "
        "can bus <name>|off | can reset",
        [model](const std::vector<std::string>& words, const std::string&) {
            return canDirective(*model, words);
        }});
    host.nameRequests("CAN", {{"TRANSFER", kCanTransfer},
                              {"TLPRIO_ON", kCanTlprioOn},
                              {"TLPRIO_OFF", kCanTlprioOff},
                              {"LOOPBACK_ON", kCanLoopbackOn},
                              {"LOOPBACK_OFF", kCanLoopbackOff},
                              {"SET_TIMING", kCanSetTiming},
                              {"GET_TIMING", kCanGetTiming},
                              {"ADD_FILTER", kCanAddFilter},
                              {"REMOVE_FILTER", kCanRemoveFilter}});
}

CanControl& can() { return installed.get(); }

std::string joinCanBus(const std::string& name) {
    CanController& controller = installed.get();
    if (name.empty() || name == "off") {
        controller.leaveBus();
        return "";
    }
    return controller.joinBus(name);
}

std::string canBus() { return installed.get().bus(); }

}  // namespace vboard
