// The libFuzzer target: each input is decoded into a sequence of export calls with arbitrary
// arguments (indices, ports and buses out of range, null buffers, huge and negative lengths, flag
// bytes other than 0 and 1), interleaved with what the outside world does to the board (pads
// driven, frames and bytes arriving) and with failures of the platform calls. Buffers are the
// harness's own and the library is told their true size; a null pointer is passed as null.
//
// Every input starts from a power-on board and a library as loading leaves it. After the calls,
// with the faults cleared and every close export called, no driver handle may be left open and
// no closed or foreign handle may have been used; sanitizers catch the rest.
#include <fuzzer/FuzzedDataProvider.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "Tarvik.h"
#include "fresh_library.h"
#include "vboard/vboard.h"

namespace {

// Buffers above this many bytes are not allocated: a larger length comes with a null pointer.
constexpr uint32_t kLargestBuffer = 4096;

// Numbers that find the edges: small ones (indices, ports, buses), the signed and unsigned
// extremes, or anything.
uint32_t number(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0: return in.ConsumeIntegralInRange<uint32_t>(0, 40);
    case 1: {
        static constexpr uint32_t edges[] = {0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu, 0x100u, 0xFFu,
                                             0x10000u, 4096, 4097};
        return in.PickValueInArray(edges);
    }
    default: return in.ConsumeIntegral<uint32_t>();
    }
}
int32_t signedNumber(FuzzedDataProvider& in) { return static_cast<int32_t>(number(in)); }
uint8_t flag(FuzzedDataProvider& in) { return in.ConsumeIntegral<uint8_t>(); }

// A buffer of exactly `size` bytes, or none (null) when the input says so or it would be too big.
struct Buffer {
    std::vector<uint8_t> bytes;
    bool null = false;
    uint8_t* data() { return null ? nullptr : bytes.data(); }
};
Buffer buffer(FuzzedDataProvider& in, uint64_t size) {
    Buffer b;
    b.null = size > kLargestBuffer || in.ConsumeBool();
    if (!b.null) {
        b.bytes = in.ConsumeBytes<uint8_t>(static_cast<size_t>(size));
        b.bytes.resize(size ? static_cast<size_t>(size) : 1);  // a zero-byte buffer still has an address
    }
    return b;
}

// The events the application hands GPIOSetInterrupt: two of its own, or INVALID_HANDLE_VALUE.
HANDLE gEvents[2];
HANDLE event(FuzzedDataProvider& in) {
    const int which = in.ConsumeIntegralInRange<int>(0, 2);
    return which < 2 ? gEvents[which] : INVALID_HANDLE_VALUE;
}

// The platform calls a fault may fail. Releasing calls (CloseHandle, RegCloseKey, FindClose) are
// left out: one that fails leaves its handle open whatever the library does.
const char* const kFaultable[] = {
    "CreateFileW",      "DeviceIoControl", "ReadFile",       "WriteFile",       "CreateEventW",
    "EventModify",      "WaitForSingleObject", "RegOpenKeyExW", "RegQueryValueExW", "RegSetValueExW",
    "RegDeleteValueW",  "RegFlushKey",     "RegSaveKeyW",    "RegReplaceKeyW",  "CopyFileW",
    "DeleteFileW",      "FindFirstFileW",  "SetFileAttributesW", "KernelIoControl", "TouchCalibrate",
    "SetCurrentUser",   "GetCommState",    "SetCommState",   "GetCommTimeouts", "SetCommTimeouts",
    "PurgeComm",        "SetCommMask",     "WaitCommEvent",
};

// UARTRead waits for bytes that arrive after it has started waiting: the outside world sends
// them once the read blocks on the port.
uint8_t readWithPeer(uint32_t port, uint32_t size, uint8_t* data) {
    const std::string name = port == 1 ? "COM1" : port == 2 ? "COM2" : "";
    if (name.empty()) return UARTRead(port, size, data);
    std::atomic<bool> done{false};
    std::thread peer([&] {
        while (!done)
            if (vboard::serial().awaitBlocked(name, 1)) {
                vboard::serial().receive(name, {'a', 'b', 'c', 'd'});
                return;
            }
    });
    const uint8_t result = UARTRead(port, size, data);
    done = true;
    peer.join();
    return result;
}

void call(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange<int>(0, 51)) {
    // Versions
    case 0: TarvikGetVersion(); break;
    case 1: BSPGetVersion(); break;
    case 2: WinCEImageGetVersion(); break;
    // GPIO
    case 3: { const uint32_t i = number(in); const uint8_t d = flag(in); GPIOSetDirection(i, d, flag(in)); break; }
    case 4: { const uint32_t i = number(in); GPIOSetPin(i, flag(in)); break; }
    case 5: GPIOGetPin(number(in)); break;
    case 6: { const uint32_t i = number(in); const uint32_t m = number(in); GPIOSetInterrupt(i, m, event(in)); break; }
    case 7: GPIOClearInterrupt(number(in)); break;
    // I2C
    case 8: { const uint32_t b = number(in); I2COpen(b, number(in)); break; }
    case 9: I2CClose(number(in)); break;
    case 10: {
        const uint32_t b = number(in), f = number(in);
        const uint8_t a = flag(in), r = flag(in);
        Buffer value = buffer(in, 1);
        I2CRead(b, f, a, r, value.data());
        break;
    }
    case 11: {
        const uint32_t b = number(in), f = number(in);
        const uint8_t a = flag(in), r = flag(in), n = flag(in);
        Buffer data = buffer(in, n);
        I2CReadMultipleBytes(b, f, a, r, n, data.data());
        break;
    }
    case 12: {
        const uint32_t b = number(in), f = number(in);
        const uint8_t a = flag(in), r = flag(in);
        I2CWrite(b, f, a, r, flag(in));
        break;
    }
    case 13: {
        const uint32_t b = number(in), f = number(in);
        const uint8_t a = flag(in), r = flag(in), n = flag(in);
        Buffer data = buffer(in, n);
        I2CWriteMultipleBytes(b, f, a, r, n, data.data());
        break;
    }
    // SPI: the buffers hold the bits rounded up to whole bytes; a negative length is passed on
    // with the buffers the caller has.
    case 14: SPIOpen(number(in)); break;
    case 15: SPIClose(number(in)); break;
    case 16: {
        const uint32_t p = number(in), m = number(in), f = number(in);
        SPIConfigure(p, m, f, number(in));
        break;
    }
    case 17: {
        const uint32_t p = number(in);
        const int32_t bits = in.ConsumeBool() ? in.ConsumeIntegralInRange<int32_t>(-64, 8 * 64)
                                              : signedNumber(in);
        const uint64_t bytes = bits > 0 ? (static_cast<uint64_t>(bits) + 7) / 8 : 4;
        Buffer tx = buffer(in, bytes), rx = buffer(in, bytes);
        SPIExchange(p, bits, tx.data(), rx.data());
        break;
    }
    // UART
    case 18: { const uint32_t p = number(in); const int32_t f = signedNumber(in); UARTOpen(p, f, signedNumber(in)); break; }
    case 19: UARTClose(number(in)); break;
    case 20: {
        const uint32_t p = number(in);
        const int32_t f = signedNumber(in), pa = signedNumber(in), s = signedNumber(in), b = signedNumber(in);
        UARTConfigure(p, f, pa, s, b, signedNumber(in));
        break;
    }
    case 21: {
        const uint32_t p = number(in);
        Buffer dcb = buffer(in, sizeof(DCB));
        UARTConfigureStructure(p, reinterpret_cast<const DCB*>(dcb.data()));
        break;
    }
    case 22: { const uint32_t p = number(in); const uint32_t a = number(in); UARTConfigureTimeout(p, a, number(in)); break; }
    case 23: UARTClearBuffer(number(in)); break;
    case 24: {
        const uint32_t p = number(in);
        const uint32_t size = in.ConsumeBool() ? in.ConsumeIntegralInRange<uint32_t>(0, 8) : number(in);
        Buffer data = buffer(in, size);
        readWithPeer(p, size, data.data());
        break;
    }
    case 25: {
        const uint32_t p = number(in);
        if (in.ConsumeBool()) {
            UARTWrite(p, nullptr);
        } else {
            const std::string text = in.ConsumeRandomLengthString(64);
            UARTWrite(p, text.c_str());
        }
        break;
    }
    // CAN
    case 26: CANOpen(number(in)); break;
    case 27: CANClose(number(in)); break;
    case 28: {
        const uint32_t p = number(in), x = number(in), r = number(in);
        const uint8_t t = flag(in);
        CANConfigureMode(p, x, r, t, flag(in));
        break;
    }
    case 29: {
        const uint32_t p = number(in), a = number(in), b = number(in), c = number(in), d = number(in);
        CANConfigureTiming(p, a, b, c, d, number(in));
        break;
    }
    case 30: {
        const uint32_t p = number(in);
        const int32_t id = signedNumber(in);
        const uint32_t mask = number(in);
        const uint8_t f = flag(in);
        CANConfigureFilter(p, id, mask, f, flag(in));
        break;
    }
    case 31: CANResetFilter(number(in)); break;
    case 32: {
        const uint32_t p = number(in), f = number(in), id = number(in);
        const uint8_t aux = flag(in);
        const uint32_t v = number(in);
        CANConfigureMessage(p, f, id, aux, v, flag(in));
        break;
    }
    case 33: {
        const uint32_t p = number(in);
        Buffer id = buffer(in, 4), length = buffer(in, 4), frame = buffer(in, 4), aux = buffer(in, 1),
               value = buffer(in, 4), transmit = buffer(in, 4);
        CANGetMessageParameter(p, reinterpret_cast<uint32_t*>(id.data()),
                               reinterpret_cast<uint32_t*>(length.data()),
                               reinterpret_cast<uint32_t*>(frame.data()), aux.data(),
                               reinterpret_cast<uint32_t*>(value.data()),
                               reinterpret_cast<uint32_t*>(transmit.data()), flag(in));
        break;
    }
    case 34:
    case 35: {
        const uint32_t p = number(in);
        const int32_t length = in.ConsumeBool() ? in.ConsumeIntegralInRange<int32_t>(-2, 16)
                                                : signedNumber(in);
        Buffer data = buffer(in, length > 0 ? static_cast<uint64_t>(length) : 0);
        Buffer status = buffer(in, 4);
        auto* s = reinterpret_cast<uint32_t*>(status.data());
        if (in.ConsumeBool())
            CANRead(p, data.data(), length, s);
        else
            CANWrite(p, data.data(), length, s);
        break;
    }
    // System services
    case 36: { const uint8_t d = flag(in); const uint32_t a = number(in); ReadPhysicalAddress(d, a, flag(in)); break; }
    case 37: {
        const uint8_t d = flag(in);
        const uint32_t a = number(in);
        const uint8_t w = flag(in);
        const uint32_t v = number(in);
        WritePhysicalAddress(d, a, w, v, flag(in));
        break;
    }
    case 38: SetBacklightLevel(number(in)); break;
    case 39: { const uint32_t t = number(in); SetBacklightSuspend(t, flag(in)); break; }
    case 40: CalibrateTouch(); break;
    case 41: ClearTouchCalibrationData(); break;
    case 42: SaveRegistry(); break;
    case 43: CreateRegistryBackup(); break;
    case 44: RestoreRegistryBackup(); break;
    case 45: ControlPowerKITL(flag(in)); break;
    case 46: RestartPowerKITL(); break;
    case 47: SoftReset(); break;
    // The outside world and the platform
    case 48: {
        const int bank = in.ConsumeIntegralInRange<int>(0, 6);
        const int pin = in.ConsumeIntegralInRange<int>(0, 31);
        vboard::gpio().driveInput(bank, pin, in.ConsumeBool());
        break;
    }
    case 49: {
        vboard::CanFrame frame;
        frame.id = in.ConsumeIntegralInRange<uint32_t>(0, 0x7FF);
        frame.data = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 8));
        vboard::can().inject(frame);
        break;
    }
    case 50: {
        vboard::Fault fault;
        fault.function = in.PickValueInArray(kFaultable);
        fault.occurrence = in.ConsumeIntegralInRange<unsigned>(0, 3);
        static constexpr DWORD errors[] = {2, 5, 6, 8, 21, 31, 50, 87, 112, 1167};
        fault.error = in.PickValueInArray(errors);
        vboard::armFault(fault);
        break;
    }
    default: vboard::clearFaults(); break;
    }
}

void check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "tarvik_fuzz: %s\n", what);
    for (const auto& h : vboard::openHandles())
        std::fprintf(stderr, "  open: %s %s %s\n", vboard::handleLabel(h.value).c_str(), h.kind.c_str(), h.name.c_str());
    for (const auto& m : vboard::misuses()) std::fprintf(stderr, "  misuse: %s\n", m.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Counts only: nothing is rendered that nobody reads. Pauses are recorded, not waited.
    setenv("VBOARD_RECORD", "off", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vboard::reset();
    tarvik_test::freshLibrary();
    vboard::setRecording({vboard::RecordMode::Off, 0});
    vboard::setVirtualSleep(true);
    vboard::can().setReceiveWait(1);
    gEvents[0] = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    gEvents[1] = CreateEventW(nullptr, TRUE, FALSE, nullptr);

    FuzzedDataProvider in(data, size);
    for (int calls = 0; calls < 64 && in.remaining_bytes() > 0; ++calls) {
        call(in);
        // A reset (SoftReset, a restore) ends the process on the module: control never comes
        // back to an application whose handles the restart closed.
        if (vboard::restarts() != 0) {
            check(vboard::misuses().empty(), "a closed or foreign handle was used");
            return 0;
        }
    }

    // Everything the library keeps is released by its close exports.
    vboard::clearFaults();
    for (uint32_t index = 0; index <= 40; ++index) GPIOClearInterrupt(index);
    for (uint32_t bus = 0; bus < 3; ++bus) I2CClose(bus);
    for (uint32_t port = 0; port < 2; ++port) SPIClose(port);
    for (uint32_t port = 1; port <= 3; ++port) UARTClose(port);
    CANClose(1);
    check(vboard::openDriverHandles() == 0, "a driver handle is left open after every close");
    check(vboard::misuses().empty(), "a closed or foreign handle was used");
    return 0;
}
