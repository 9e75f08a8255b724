// The library's internals that its tests reach, reached in the DLL through its map file: each is
// a plain function (a member function takes `this` first), which the DLL and Linux call the same
// way. The decorated names are the DLL compiler's; the map lists them. Each is looked up at every
// call, since a test's fresh library is a fresh copy of the DLL.
#include "can/can_controller_device.h"
#include "gpio/gpio_pin_map.h"
#include "loaded_dll.h"
#include "uart/serial_port_device.h"

namespace tarvik {

int32_t lookupModuleGpio(uint32_t moduleIndex, uint32_t queryKind) {
    return tarvik_dll::internal<int32_t (*)(uint32_t, uint32_t)>(
        "?lookupModuleGpio@tarvik@@YAHII@Z")(moduleIndex, queryKind);
}

uint16_t nearestPrescaler(uint32_t baseclock, uint32_t bitrate, uint32_t quanta) {
    return tarvik_dll::internal<uint16_t (*)(uint32_t, uint32_t, uint32_t)>(
        "?nearestPrescaler@tarvik@@YAGIII@Z")(baseclock, bitrate, quanta);
}

bool SerialPortDevice::writeData(HANDLE* slot, const char* data, int32_t length) const {
    return tarvik_dll::internal<bool (*)(const SerialPortDevice*, HANDLE*, const char*, int32_t)>(
        "?writeData@SerialPortDevice@tarvik@@QBA_NPAPAXPBDH@Z")(this, slot, data, length);
}

}  // namespace tarvik
