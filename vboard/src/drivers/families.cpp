// The driver families of the virtual board: the one list a new family is added to. Each family's
// folder installs its models through the Host it is given (os/host.h). The order is the order of
// the power-on steps and of the request names a fault is checked against.
#include "os/host.h"

namespace vboard {

void installGpio(Host& host);
void installI2c(Host& host);
void installSpi(Host& host);
void installUart(Host& host);
void installCan(Host& host);
void installBacklight(Host& host);
void installPhy(Host& host);
void installReset(Host& host);

void installFamilies(Host& host) {
    installGpio(host);
    installI2c(host);
    installSpi(host);
    installUart(host);
    installCan(host);
    installBacklight(host);
    installPhy(host);
    installReset(host);
}

}  // namespace vboard
