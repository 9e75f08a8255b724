// The physical-access drivers' control side: their installation on the board, and
// physicalMemory().
#include "drivers/phy/physical_access_driver.h"

namespace vboard {
namespace {

Installed<PhysicalMemory> installed;

}  // namespace

void installPhy(Host& host) {
    auto memory = std::make_shared<PhysicalMemory>();
    std::vector<Plug> drivers;
    for (int n = 1; n <= kPhysicalAccessDevices; ++n)
        drivers.push_back(
            {"PHY" + std::to_string(n) + ":", std::make_shared<PhysicalAccessDriver>(n, memory)});
    host.installModel(installed, memory, std::move(drivers));
    PhysicalMemory* model = memory.get();
    host.addDirective(Directive{"phy", "phy <address> 8|16|32 <value>",
                                [model](const std::vector<std::string>& words, const std::string&) {
                                    return phyDirective(*model, words);
                                }});
    host.nameRequests("PHY", {{"READ", kPhyRead}, {"WRITE", kPhyWrite}});
}

PhysicalMemoryControl& physicalMemory() { return installed.get(); }

}  // namespace vboard
