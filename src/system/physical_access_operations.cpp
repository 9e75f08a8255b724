// The exported register accesses: each makes a PhysicalAccessDevice for the call and reports
// the outcome with its "Wout:" or "Werr:" line.
#include "system/physical_access_operations.h"

#include "system/physical_access_device.h"
#include "tarvik_platform.h"

namespace tarvik {
namespace {
constexpr uint32_t kWriteFailed = 0xFFFFFFFFu;
}  // namespace

uint32_t ReadPhysicalAddress(uint8_t device, uint32_t address, uint8_t width) {
    NKDbgPrintfW(L"Wout: Start ReadPhysicalAddress\r\n");
    const PhysicalAccessDevice phy;
    uint32_t value = 0;
    if (!phy.readRegister(device, address, width, &value)) {
        NKDbgPrintfW(L"Werr: ReadPhysicalAddress\r\n");
        return 0;
    }
    NKDbgPrintfW(L"Wout:ReadPhysicalAddress\r\n");
    return value;
}

uint32_t WritePhysicalAddress(uint8_t device, uint32_t address, uint8_t width, uint32_t value,
                              uint8_t readBack) {
    NKDbgPrintfW(L"Wout: Start WritePhysicalAddress\r\n");
    const PhysicalAccessDevice phy;
    if (!phy.writeRegister(device, address, width, value)) {
        NKDbgPrintfW(L"Werr: WritePhysicalAddress\r\n");
        return kWriteFailed;
    }
    NKDbgPrintfW(L"Wout:WritePhysicalAddress\r\n");
    if (readBack != 1) return 1;
    // A second open of the same driver. The value is not compared with the one written: a
    // register may read back differently (status bits, write-one-to-clear), and the caller knows.
    uint32_t readValue = 0;
    if (!phy.readRegister(device, address, width, &readValue)) {
        NKDbgPrintfW(L"Werr: WritePhysicalAddress Readback\r\n");
        return kWriteFailed;
    }
    NKDbgPrintfW(L"Wout:WritePhysicalAddress Readback\r\n");
    return readValue;
}

}  // namespace tarvik
