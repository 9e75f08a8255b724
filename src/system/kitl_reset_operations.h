// The debug link's power and the module's software reset.
#pragma once

#include <stdint.h>

namespace tarvik {

// 1 when the kernel accepted the request; the link is powered on only for an argument of 1.
uint8_t ControlPowerKITL(uint8_t on);
// Off, then on again; 1 when the kernel accepted both, and no power-on after a refused power-off.
uint8_t RestartPowerKITL();
// Asks "IOC1:" to reset the module. When the reset is carried out the caller may never get
// control back; when it is refused the call returns without a report.
void SoftReset();

}  // namespace tarvik
