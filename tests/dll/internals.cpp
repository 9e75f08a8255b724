// The library's internals that its tests reach, reached in the DLL through its map file: each is
// a plain function (a member function takes `this` first), which the DLL and Linux call the same
// way. The decorated names are the DLL compiler's; the map lists them.
#include "api/library_state.h"
#include "can/can_controller_device.h"
#include "gpio/gpio_pin_map.h"
#include "loaded_dll.h"
#include "uart/serial_port_device.h"

namespace tarvik {

void resetLibraryState() {
    static const auto reset = tarvik_dll::internal<void (*)()>("?resetLibraryState@tarvik@@YAXXZ");
    reset();
}

int32_t lookupModuleGpio(uint32_t moduleIndex, uint32_t queryKind) {
    static const auto lookup =
        tarvik_dll::internal<int32_t (*)(uint32_t, uint32_t)>("?lookupModuleGpio@tarvik@@YAHII@Z");
    return lookup(moduleIndex, queryKind);
}

uint16_t nearestPrescaler(uint32_t baseclock, uint32_t bitrate, uint32_t quanta) {
    static const auto nearest = tarvik_dll::internal<uint16_t (*)(uint32_t, uint32_t, uint32_t)>(
        "?nearestPrescaler@tarvik@@YAGIII@Z");
    return nearest(baseclock, bitrate, quanta);
}

bool SerialPortDevice::writeData(HANDLE* slot, const char* data, int32_t length) const {
    static const auto write =
        tarvik_dll::internal<bool (*)(const SerialPortDevice*, HANDLE*, const char*, int32_t)>(
            "?writeData@SerialPortDevice@tarvik@@QBA_NPAPAXPBDH@Z");
    return write(this, slot, data, length);
}

}  // namespace tarvik
