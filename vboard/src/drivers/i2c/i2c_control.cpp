// The I2C buses' control side: their installation on the board, and i2cBus().
#include <stdexcept>

#include "drivers/i2c/i2c_bus_controller.h"

namespace vboard {
namespace {

// The controllers installed on this process's board, by module bus number. Like the board they
// are never destroyed: tests may still reach a bus from their own static destructors.
Installed<I2cBusController> installed[kI2cBuses];

}  // namespace

void installI2c(Host& host) {
    for (int bus = 0; bus < kI2cBuses; ++bus) {
        auto controller = std::make_shared<I2cBusController>(bus);
        host.installModel(installed[bus], controller, {{controller->device(), controller}});
    }
    // Each bus's EEPROMs find their images once the storage has chosen the board folder.
    host.onBoardFolder([] {
        for (int bus = 0; bus < kI2cBuses; ++bus) installed[bus].kept().keepInFolder();
    });
    host.addDirective(Directive{
        "i2c", kI2cUsage,
        [](const std::vector<std::string>& words, const std::string&) { return i2cDirective(words); }});
    host.nameRequests("I2C", {{"SET_MASTER_MODE", kI2cSetMasterMode},
                              {"SET_FREQUENCY", kI2cSetFrequency},
                              {"CONFIRM", kI2cConfirm},
                              {"TRANSFER", kI2cTransfer}});
}

I2cBusControl& i2cBus(int bus) {
    startBoard();
    if (bus < 0 || bus >= kI2cBuses) throw std::out_of_range("no I2C bus " + std::to_string(bus));
    return installed[bus].get();
}

I2cBusController& i2cController(int bus) {
    i2cBus(bus);
    return installed[bus].get();
}

}  // namespace vboard
