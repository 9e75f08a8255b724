// The cases: each export's success path and its floor. A floor makes exactly the platform calls
// the export makes (the board's trace and debug lines show it; `export_bench --check` compares
// them), with the same arguments, but holds its handles and records in plain variables of its
// own and prints its lines straight away. What is left between the two is the library's work.
#include "export_cases.h"

#include <string.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "Tarvik.h"
#include "can/can_records.h"
#include "gpio/gpio_records.h"
#include "i2c/i2c_records.h"
#include "spi/spi_records.h"
#include "system/backlight_records.h"
#include "system/kitl_records.h"
#include "system/physical_access_records.h"
#include "uart/uart_records.h"
#include "vboard/vboard.h"

// The records and request codes are the library's own declarations; the floors fill them themselves.
using namespace tarvik;

namespace {

constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;

HANDLE openDevice(const WCHAR* name, DWORD flags) {
    return CreateFileW(name, kReadWrite, kShareReadWrite, nullptr, OPEN_EXISTING, flags, nullptr);
}

void nothing() {}

// What the floors keep between calls, as the library keeps it in its slots and records.
struct FloorState {
    HANDLE device = nullptr;
    HANDLE event = nullptr;
    SpiBusConfig spiConfig{};
    SpiExchangeRecord spiExchange{};
    COMMTIMEOUTS timeouts{};
    struct {
        HANDLE handle;
        CanMessageRecord receiveRecord;
        CanMessageRecord transmitRecord;
        CanTransferRequest transferRequest;
        uint32_t receiveStatus;
        uint32_t transmitStatus;
    } can{};
    uint32_t filterHandle = 0;
};
FloorState floorState;
// The caller's event of the GPIO interrupt cases.
HANDLE callerEvent = nullptr;

// ---- Versions ----

uint32_t floorIdent(const WCHAR* valueName) {
    HKEY key = nullptr;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Ident", 0, KEY_ALL_ACCESS, &key);
    DWORD number = 0;
    DWORD size = sizeof number;
    RegQueryValueExW(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(&number), &size);
    RegCloseKey(key);
    return number;
}

// ---- GPIO: module index 1 is bank 0, pin 2 ----

constexpr uint32_t kGpioIndex = 1;
constexpr int32_t kBank = 0;
constexpr int32_t kPin = 2;

HANDLE floorOpenGpio() { return openDevice(L"GIO1:", FILE_FLAG_RANDOM_ACCESS); }

BOOL floorGpioRequest(HANDLE handle, DWORD code, void* record, DWORD size) {
    return DeviceIoControl(handle, code, record, size, nullptr, 0, nullptr, nullptr);
}

void floorGpioSetPinRequest(HANDLE handle, uint32_t level) {
    GpioLevelRecord record = {kBank, kPin, level};
    const BOOL result = floorGpioRequest(handle, IOCTL_GPIO_SET_PIN, &record, sizeof record);
    NKDbgPrintfW(L"VELNA set gpio %d pin %d - Rout %d\r\n", kBank, kPin, result);
}

void floorGpioSetDirection() {
    HANDLE handle = floorOpenGpio();
    GpioDirectionRecord record = {kBank, kPin, 1, kGpioNoInterruptMode};
    const BOOL result = floorGpioRequest(handle, IOCTL_GPIO_SET_DIRECTION, &record, sizeof record);
    NKDbgPrintfW(L"VELNA set direction gpio %d pin %d direction %d - Rout %d\r\n", kBank, kPin,
                 static_cast<int>(record.pinDirection), result);
    floorGpioSetPinRequest(handle, 1);
    CloseHandle(handle);
}

void floorGpioSetPin() {
    HANDLE handle = floorOpenGpio();
    floorGpioSetPinRequest(handle, 1);
    NKDbgPrintfW(L"VELNA gpio operate successful\r\n");
    CloseHandle(handle);
}

void floorGpioGetPin() {
    HANDLE handle = floorOpenGpio();
    GpioLevelRecord record = {kBank, kPin, 1};
    const BOOL result = floorGpioRequest(handle, IOCTL_GPIO_GET_PIN, &record, sizeof record);
    NKDbgPrintfW(L"VELNA get gpio %d pin %d data %d - Rout %d\r\n", kBank, kPin,
                 static_cast<int>(record.level), result);
    CloseHandle(handle);
}

void floorGpioSetInterrupt() {
    floorState.device = floorOpenGpio();
    ResetEvent(callerEvent);
    GpioDirectionRecord direction = {kBank, kPin, 0, TARVIK_GPIO_RISING_EDGE};
    BOOL result =
        floorGpioRequest(floorState.device, IOCTL_GPIO_SET_DIRECTION, &direction, sizeof direction);
    NKDbgPrintfW(L"VELNA set direction gpio %d pin %d direction %d - Rout %d\r\n", kBank, kPin,
                 static_cast<int>(direction.pinDirection), result);
    GpioEventRecord event = {kBank, kPin, callerEvent};
    result = floorGpioRequest(floorState.device, IOCTL_GPIO_SET_EVENT, &event, sizeof event);
    NKDbgPrintfW(L"VELNA event on gpio %d pin %d data %d - Rout %d\r\n", kBank, kPin, 0, result);
}

void floorGpioClearInterrupt() {
    GpioPinRecord record = {kBank, kPin};
    const BOOL result =
        floorGpioRequest(floorState.device, IOCTL_GPIO_CLEAR_EVENT, &record, sizeof record);
    NKDbgPrintfW(L"VELNA event on gpio %d pin %d clear- Rout %d\r\n", kBank, kPin, result);
    NKDbgPrintfW(L"VELNA gpio clear interrupt operate successful\r\n");
    CloseHandle(floorState.device);
    floorState.device = nullptr;
}

void exportGpioSetInterrupt() { GPIOSetInterrupt(kGpioIndex, TARVIK_GPIO_RISING_EDGE, callerEvent); }
void exportGpioClearInterrupt() { GPIOClearInterrupt(kGpioIndex); }
void createCallerEvent() { callerEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr); }
void setUpClearedInterrupt() {
    createCallerEvent();
    exportGpioSetInterrupt();
}
void setUpFloorClearedInterrupt() {
    createCallerEvent();
    floorGpioSetInterrupt();
}

// ---- SPI: port 0 ("SPI1:", chip select 2), mode 0 at 1 MHz ----

constexpr uint32_t kSpiFrequency = 1000000;
uint8_t spiTx[4] = {0x9F, 0, 0, 0};
uint8_t spiRx[4];

void floorSpiOpen() {
    floorState.spiConfig.chipSelect = 2;
    floorState.spiExchange.busConfig = &floorState.spiConfig;
    floorState.device = openDevice(L"SPI1:", FILE_FLAG_RANDOM_ACCESS);
}

void floorSpiClose() {
    CloseHandle(floorState.device);
    if (floorState.event != nullptr) CloseHandle(floorState.event);
    floorState.event = nullptr;
    floorState.device = nullptr;
}

void floorSpiConfigure() {
    floorState.spiConfig.frequency = kSpiFrequency;
    HANDLE created = CreateEventW(nullptr, FALSE, FALSE, kSpiEventName);
    const DWORD lastError = GetLastError();
    if (floorState.event != nullptr) CloseHandle(floorState.event);
    floorState.event = created;
    floorState.spiExchange.eventName = kSpiEventName;
    floorState.spiExchange.eventNameTag = kSpiEventNameTag;
    NKDbgPrintfW(L"VELNA spi init operate successful - Rout %d\r\n", static_cast<int>(lastError));
}

void floorSpiExchange() {
    SYSTEMTIME now;
    GetSystemTime(&now);
    NKDbgPrintfW(L"WMin %d %d %d\r\n", now.wHour + 1, static_cast<int>(now.wMinute),
                 static_cast<int>(now.wSecond));
    floorState.spiConfig.bitCount = 32;
    floorState.spiExchange.wordCount = 1;
    floorState.spiExchange.txBuffer = spiTx;
    floorState.spiExchange.rxBuffer = spiRx;
    DeviceIoControl(floorState.device, IOCTL_SPI_EXCHANGE, &floorState.spiExchange,
                    sizeof floorState.spiExchange, nullptr, 0, nullptr, nullptr);
    WaitForSingleObject(floorState.event, INFINITE);
    NKDbgPrintfW(L"VELNA spi exchange data operate successful - Rout %d\r\n",
                 static_cast<int>(GetLastError()));
    NKDbgPrintfW(L"SPI Exchange operate successful - Wout\r\n");
}

void exportSpiSetUp() {
    SPIOpen(0);
    SPIConfigure(0, 0, kSpiFrequency, 0);
}
void floorSpiSetUp() {
    floorSpiOpen();
    floorSpiConfigure();
}
void exportSpiTearDown() { SPIClose(0); }

// ---- I2C: bus 0 ("I2C2:"), the EEPROM at 0x50 ----

constexpr uint8_t kEeprom = 0x50;
constexpr uint8_t kRegister = 0x10;
uint8_t i2cData[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
uint8_t i2cReceived[16];

BOOL floorI2cRequest(HANDLE handle, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize) {
    return DeviceIoControl(handle, code, in, inSize, out, outSize, nullptr, nullptr);
}

// Opens the bus, makes it master at 100 kHz and asks for the confirmation, as every transfer does.
HANDLE floorI2cOpenBus() {
    HANDLE handle = openDevice(L"I2C2:", 0);
    BOOL result = floorI2cRequest(handle, IOCTL_I2C_SET_MASTER_MODE, nullptr, 0, nullptr, 0);
    NKDbgPrintfW(L"VELNA i2c master mode operate successful - Rout %d\r\n", result);
    DWORD frequency = 100000;
    result = floorI2cRequest(handle, IOCTL_I2C_SET_FREQUENCY, &frequency, sizeof frequency, nullptr, 0);
    NKDbgPrintfW(L"VELNA i2c set frequency operate successful - Rout %d\r\n", result);
    DWORD confirmation = 0;
    floorI2cRequest(handle, IOCTL_I2C_CONFIRM, nullptr, 0, &confirmation, sizeof confirmation);
    return handle;
}

void floorI2cTime(const WCHAR* line) {
    SYSTEMTIME now;
    GetSystemTime(&now);
    NKDbgPrintfW(line, now.wHour + 1, static_cast<int>(now.wMinute), static_cast<int>(now.wSecond));
}

void floorI2cRead(const WCHAR* timeLine, uint8_t* destination, uint8_t length) {
    floorI2cTime(timeLine);
    HANDLE handle = floorI2cOpenBus();
    uint8_t prefix[2] = {kRegister, 0x00};
    int32_t resultWord = 0;
    I2cPacket packets[2] = {
        {kEeprom, I2C_DIRECTION_WRITE, prefix, sizeof prefix, &resultWord},
        {kEeprom, I2C_DIRECTION_READ, destination, length, &resultWord},
    };
    I2cTransferBlock block = {packets, 2};
    const BOOL result = floorI2cRequest(handle, IOCTL_I2C_TRANSFER, &block, sizeof block, nullptr, 0);
    CloseHandle(handle);
    NKDbgPrintfW(L"VELNA i2c read data operate successful - Rout %d\r\n", result);
    NKDbgPrintfW(L"RMout\r\n");
}

void floorI2cWrite(const WCHAR* timeLine, const uint8_t* data, uint8_t length) {
    floorI2cTime(timeLine);
    HANDLE handle = floorI2cOpenBus();
    // The register, the zero byte and the data in one packet; the library builds it on the heap.
    uint8_t buffer[2 + 255];
    buffer[0] = kRegister;
    buffer[1] = 0x00;
    memcpy(buffer + 2, data, length);
    int32_t resultWord = 0;
    I2cPacket packet = {kEeprom, I2C_DIRECTION_WRITE, buffer, static_cast<uint16_t>(length + 2),
                        &resultWord};
    I2cTransferBlock block = {&packet, 1};
    const BOOL result = floorI2cRequest(handle, IOCTL_I2C_TRANSFER, &block, sizeof block, nullptr, 0);
    CloseHandle(handle);
    NKDbgPrintfW(L"VELNA i2c write data operate successful - Rout %d\r\n", result);
    NKDbgPrintfW(L"Wout\r\n");
}

// ---- UART: port 1 ("COM1:"), unplugged so that writes go nowhere ----

const char kUartText[] = "hello, board";
uint8_t uartReceived[4];

void floorUartReport(const WCHAR* line) { NKDbgPrintfW(line, static_cast<int>(GetLastError())); }

void floorUartPurge(DWORD flags) {
    PurgeComm(floorState.device, flags);
    floorUartReport(L"VELNA uart clear receive buffer operate successful - Rout %d\r\n");
}

void floorUartGetTimeouts() {
    floorUartPurge(PURGE_TXCLEAR);
    floorUartPurge(PURGE_RXCLEAR);
    GetCommTimeouts(floorState.device, &floorState.timeouts);
    floorUartReport(L"VELNA uart set timeouts operate successful - Rout %d\r\n");
}

void floorUartSetTimeouts() {
    floorUartPurge(PURGE_TXCLEAR);
    floorUartPurge(PURGE_RXCLEAR);
    SetCommTimeouts(floorState.device, &floorState.timeouts);
    floorUartReport(L"VELNA uart set timeouts operate successful - Rout %d\r\n");
}

void floorUartWrite() {
    floorUartGetTimeouts();
    floorState.timeouts.WriteTotalTimeoutConstant = 30000;
    floorState.timeouts.WriteTotalTimeoutMultiplier = 0;
    floorUartSetTimeouts();
    SetCommMask(floorState.device, kSerialAllEvents);
    const size_t count = strlen(kUartText);
    NKDbgPrintfW(L"VELNA uart data buffer length - Rout %d\r\n", static_cast<int>(count));
    DWORD written = 0;
    WriteFile(floorState.device, kUartText, static_cast<DWORD>(count), &written, nullptr);
    floorUartReport(L"VELNA uart write data buffer operate successful - Rout %d\r\n");
    DWORD word = kSerialWriteWaitWord;
    WaitCommEvent(floorState.device, &word, nullptr);
}

void floorUartRead() {
    floorUartGetTimeouts();
    floorState.timeouts.ReadIntervalTimeout = 30000;
    floorState.timeouts.ReadTotalTimeoutConstant = 0;
    floorState.timeouts.ReadTotalTimeoutMultiplier = 0;
    floorUartSetTimeouts();
    SetCommMask(floorState.device, kSerialAllEvents);
    DWORD word = kSerialReadWaitWord;
    WaitCommEvent(floorState.device, &word, nullptr);
    NKDbgPrintfW(L"VELNA uart read data buffer size %d\r\n", static_cast<int>(sizeof uartReceived));
    DWORD received = 0;
    ReadFile(floorState.device, uartReceived, sizeof uartReceived, &received, nullptr);
    floorUartReport(L"VELNA uart read data buffer operate successful - Rout %d\r\n");
}

void floorUartConfigure(const WCHAR* succeeded, void (*change)(DCB&)) {
    DCB dcb;
    GetCommState(floorState.device, &dcb);
    change(dcb);
    SetCommState(floorState.device, &dcb);
    const int error = static_cast<int>(GetLastError());
    Sleep(1);
    NKDbgPrintfW(succeeded, error);
}

// The line settings UARTOpen(1, 0, 115200) and UARTConfigure(1, 0, 0, 0, 8, 115200) make.
void plainLine(DCB& dcb) {
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.BaudRate = 115200;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.ByteSize = 8;
}

DCB callerDcb;
void callerLine(DCB& dcb) {
    memcpy(&dcb, &callerDcb, sizeof dcb);
    dcb.DCBlength = sizeof(DCB);
}

void floorUartOpen() {
    floorState.device = openDevice(L"COM1:", FILE_FLAG_RANDOM_ACCESS);
    SetCommMask(floorState.device, kSerialAllEvents);
    floorUartConfigure(L"VELNA uart mode config operate successful - Rout %d\r\n", plainLine);
}

void floorUartClose() {
    CloseHandle(floorState.device);
    floorState.device = nullptr;
}

void exportUartSetUp() {
    vboard::serial().unplug("COM1");
    UARTOpen(1, 0, 115200);
    callerDcb = vboard::serial().state("COM1")->dcb;
}
void floorUartSetUp() {
    vboard::serial().unplug("COM1");
    floorUartOpen();
    callerDcb = vboard::serial().state("COM1")->dcb;
}
void exportUartTearDown() { UARTClose(1); }
void unplugUart() { vboard::serial().unplug("COM1"); }

// A reader needs bytes that arrive after it has flushed the port and started waiting: another
// node on the line sends four bytes whenever a call on COM1 blocks.
std::atomic<bool> senderRunning{false};
std::thread sender;
void startSender() {
    senderRunning = true;
    sender = std::thread([] {
        while (senderRunning)
            if (vboard::serial().awaitBlocked("COM1", 20)) {
                vboard::serial().receive("COM1", {'p', 'i', 'n', 'g'});
                // Until the reader has woken; it may be waiting again already, for its next read.
                const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1);
                while (vboard::serial().state("COM1")->blocked > 0 &&
                       std::chrono::steady_clock::now() < until)
                    std::this_thread::yield();
            }
    });
}
void stopSender() {
    senderRunning = false;
    if (sender.joinable()) sender.join();
}

// ---- CAN: port 1 ("CAN1:") at 250 kbit/s, 11-bit identifiers, message 0x123 ----

constexpr uint32_t kBitrate = 250000;
uint8_t canData[8] = {0xDE, 0xAD, 0xBE, 0xEF, 1, 2, 3, 4};
uint8_t canReceived[8];
uint32_t canStatus;

void floorCanReport(const WCHAR* line) { NKDbgPrintfW(line, static_cast<int>(GetLastError())); }

BOOL floorCanRequest(DWORD code, void* in, DWORD inSize, void* out, DWORD outSize) {
    return DeviceIoControl(floorState.can.handle, code, in, inSize, out, outSize, nullptr, nullptr);
}

void floorCanOpen() {
    floorState.can.handle = openDevice(L"CAN1:", 0);
    floorCanReport(L"VELNA open handle operate successful - Rout %d\r\n");
}

void floorCanClose() {
    CloseHandle(floorState.can.handle);
    floorCanReport(L"VELNA can close port operate successful - Rout %d\r\n");
    floorState.can.handle = nullptr;
}

void floorCanConfigureMode() {
    CanTimingRecord timing = {};
    floorCanRequest(IOCTL_CAN_GET_TIMING, nullptr, 0, &timing, sizeof timing);
    GetLastError();
    // 30 MHz over 250 kbit/s and the power-on 8 quanta a bit.
    timing.prescaler = 15;
    NKDbgPrintfW(L"VELNA can baseclock: %d\r\n", static_cast<int>(timing.baseclock));
    NKDbgPrintfW(L"VELNA can bitrate: %d\r\n", static_cast<int>(kBitrate));
    NKDbgPrintfW(L"VELNA can propseg: %d\r\n", static_cast<int>(timing.propseg));
    NKDbgPrintfW(L"VELNA can phase1seg: %d\r\n", static_cast<int>(timing.phase1seg));
    NKDbgPrintfW(L"VELNA can phase2seg: %d\r\n", static_cast<int>(timing.phase2seg));
    NKDbgPrintfW(L"VELNA can prescaler: %d\r\n", static_cast<int>(timing.prescaler));
    floorCanRequest(IOCTL_CAN_SET_TIMING, &timing, sizeof timing, nullptr, 0);
    floorCanReport(L"VELNA can set bitrate operate successful - Rout %d\r\n");
    floorCanRequest(IOCTL_CAN_TLPRIO_OFF, nullptr, 0, nullptr, 0);
    floorCanReport(L"VELNA can set TLPRIO operate successful - Rout %d\r\n");
    floorCanRequest(IOCTL_CAN_LOOPBACK_OFF, nullptr, 0, nullptr, 0);
    floorCanReport(L"VELNA can set Loopback operate successful - Rout %d\r\n");
}

void floorCanConfigureTiming() {
    CanTimingRecord timing = {};
    timing.prescaler = 15;
    timing.propseg = 2;
    timing.phase1seg = 3;
    timing.phase2seg = 2;
    floorCanRequest(IOCTL_CAN_SET_TIMING, &timing, sizeof timing, nullptr, 0);
    floorCanReport(L"VELNA can set timing operate successful - Rout %d\r\n");
}

void floorCanConfigureFilter() {
    CanFilterRecord filter = {};
    filter.filterId = 0x123;
    filter.filterMask = 0x7FF;
    filter.filterSet = 1;
    uint32_t answer = 0;
    floorCanRequest(IOCTL_CAN_ADD_FILTER, &filter, sizeof filter, &answer, sizeof answer);
    floorCanReport(L"VELNA can set filter operate successful - Rout %d\r\n");
    floorState.filterHandle = answer;
}

void floorCanResetFilter() {
    uint32_t sent = floorState.filterHandle;
    floorCanRequest(IOCTL_CAN_REMOVE_FILTER, &sent, sizeof sent, nullptr, 0);
    floorCanReport(L"VELNA can remove filter operate successful - Rout %d\r\n");
}

// Hands one record to the driver with the caller's buffer, as CANWrite and CANRead do with theirs.
void floorCanTransfer(CanMessageRecord& record, uint8_t* data, uint16_t length,
                      const uint32_t& status) {
    record.dataLength = length;
    record.data = data;
    floorState.can.transferRequest = {&record, 1};
    floorCanRequest(IOCTL_CAN_TRANSFER, &floorState.can.transferRequest,
                    sizeof floorState.can.transferRequest, nullptr, 0);
    floorCanReport(L"VELNA can transfer operate successful - Rout %d\r\n");
    canStatus = status;
}

void floorCanWrite() {
    floorCanTransfer(floorState.can.transmitRecord, canData, sizeof canData,
                     floorState.can.transmitStatus);
}

void floorCanRead() {
    floorCanTransfer(floorState.can.receiveRecord, canReceived, sizeof canReceived,
                     floorState.can.receiveStatus);
}

void exportCanSetUp() {
    CANOpen(1);
    CANConfigureMode(1, 0, kBitrate, 0, 0);
    CANConfigureMessage(1, 0, 0x123, 0, 0, 1);
    CANConfigureMessage(1, 0, 0x123, 0, 0, 0);
}
void floorCanSetUp() {
    floorCanOpen();
    CanMessageRecord& tx = floorState.can.transmitRecord;
    tx.messageId = 0x123;
    tx.status = &floorState.can.transmitStatus;
    tx.transmitFlag = 1;
    CanMessageRecord& rx = floorState.can.receiveRecord;
    rx.receiveFlag = 1;
    rx.messageId = 0x123;
    rx.status = &floorState.can.receiveStatus;
}
void exportCanTearDown() { CANClose(1); }
void injectCanFrame() { vboard::can().inject(*vboard::parseCanFrame("123#0102030405060708")); }

// ---- System services ----

constexpr uint32_t kScratchRegister = 0x00907000;  // on-chip RAM: reads back what was written

uint32_t floorPhysicalAccess(const WCHAR* startLine, const WCHAR* deviceLine, DWORD code, bool in) {
    NKDbgPrintfW(startLine);
    NKDbgPrintfW(deviceLine, 1);
    HANDLE handle = openDevice(L"PHY1:", FILE_ATTRIBUTE_NORMAL);
    PhysicalAccessRecord record = {kScratchRegister, in ? 0u : 0x5Au, 32, {0, 0, 0}};
    DeviceIoControl(handle, code, in ? &record : nullptr, in ? sizeof record : 0,
                    in ? nullptr : &record, in ? 0 : sizeof record, nullptr, nullptr);
    CloseHandle(handle);
    return record.value;
}

void floorBacklightLevel() {
    HANDLE handle = openDevice(L"BKL1:", 0);
    BacklightLevelRecord record = {128, 1, 128, 0};
    DWORD returned = 0;
    DeviceIoControl(handle, IOCTL_BKL_SET_LEVEL, &record, sizeof record, nullptr, 0, &returned,
                    nullptr);
    DeviceIoControl(handle, IOCTL_BKL_FOLLOW_UP, nullptr, 0, nullptr, 0, nullptr, nullptr);
    CloseHandle(handle);
}

void floorBacklightValues(const WCHAR* first, const WCHAR* second, DWORD number) {
    HKEY key = nullptr;
    RegOpenKeyExW(HKEY_CURRENT_USER, L"ControlPanel\\BackLight", 0, KEY_ALL_ACCESS, &key);
    RegSetValueExW(key, first, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
    RegSetValueExW(key, second, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
    RegCloseKey(key);
}

void floorKitl(DWORD on) {
    DWORD returned = 0;
    KernelIoControl(IOCTL_KITL_POWER, &on, sizeof on, nullptr, 0, &returned);
}

void floorSoftReset() {
    HANDLE handle = openDevice(L"IOC1:", 0);
    DeviceIoControl(handle, IOCTL_IOC_RESET, nullptr, 0, nullptr, 0, nullptr, nullptr);
}

void storeCalibration() {
    vboard::setRegistryValue(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\TOUCH", "CalibrationData",
                             REG_BINARY, {1, 2, 3, 4});
}

// A restart puts the board's recording back to its power-on setting.
void recordNothing() { vboard::setRecording({vboard::RecordMode::Off, 0}); }

void floorRestoreRegistryBackup() {
    WIN32_FIND_DATAW found;
    FindClose(FindFirstFileW(L"\\Storage Card\\Save_HKLM_Reg.srg", &found));
    FindClose(FindFirstFileW(L"\\Storage Card\\Save_HKCU_Reg.srg", &found));
    CopyFileW(L"\\Storage Card\\Save_HKLM_Reg.srg", L"\\Storage Card\\Copy_Save_HKLM_Reg.srg", FALSE);
    RegReplaceKeyW(HKEY_LOCAL_MACHINE, nullptr, L"\\Storage Card\\Save_HKLM_Reg.srg", nullptr);
    CopyFileW(L"\\Storage Card\\Copy_Save_HKLM_Reg.srg", L"\\Storage Card\\Save_HKLM_Reg.srg", FALSE);
    DeleteFileW(L"\\Storage Card\\Copy_Save_HKLM_Reg.srg");
    SetCurrentUser(nullptr, nullptr, 0, FALSE);
    SetFileAttributesW(L"\\NAND Flash\\User\\user.hv", FILE_ATTRIBUTE_NORMAL);
    CopyFileW(L"\\Storage Card\\Save_HKCU_Reg.srg", L"\\NAND Flash\\User\\user.hv", FALSE);
    floorSoftReset();
}

void floorCreateRegistryBackup() {
    DeleteFileW(L"\\Storage Card\\Save_HKLM_Reg.srg");
    DeleteFileW(L"\\Storage Card\\Save_HKCU_Reg.srg");
    RegSaveKeyW(HKEY_LOCAL_MACHINE, L"\\Storage Card\\Save_HKLM_Reg.srg", nullptr);
    RegSaveKeyW(HKEY_CURRENT_USER, L"\\Storage Card\\Save_HKCU_Reg.srg", nullptr);
}

void exportCreateRegistryBackup() { CreateRegistryBackup(); }

// Shorthand for a side that needs no preparation.
constexpr Side plain(void (*call)()) { return {nothing, call, nothing, nothing}; }

const ExportCase kCases[] = {
    {"BSPGetVersion", plain([] { BSPGetVersion(); }),
     plain([] { floorIdent(L"BSPVersionNumber"); }), 0, ""},
    {"CANClose", {exportCanSetUp, [] { CANClose(1); }, [] { CANOpen(1); }, exportCanTearDown},
     {floorCanSetUp, floorCanClose, floorCanOpen, nothing}, 0, "timed with CANOpen"},
    {"CANConfigureFilter",
     {exportCanSetUp, [] { CANConfigureFilter(1, 0x123, 0x7FF, 0, 0); }, [] { CANResetFilter(1); },
      exportCanTearDown},
     {floorCanSetUp, floorCanConfigureFilter, floorCanResetFilter, nothing}, 0,
     "timed with CANResetFilter"},
    {"CANConfigureMessage",
     {exportCanSetUp, [] { CANConfigureMessage(1, 0, 0x123, 0, 0, 1); }, nothing, exportCanTearDown},
     {floorCanSetUp, nothing, nothing, nothing}, 0, "no platform call"},
    {"CANConfigureMode",
     {exportCanSetUp, [] { CANConfigureMode(1, 0, kBitrate, 0, 0); }, nothing, exportCanTearDown},
     {floorCanSetUp, floorCanConfigureMode, nothing, nothing}, 0, ""},
    {"CANConfigureTiming",
     {exportCanSetUp, [] { CANConfigureTiming(1, 15, 2, 3, 2, 0); }, nothing, exportCanTearDown},
     {floorCanSetUp, floorCanConfigureTiming, nothing, nothing}, 0, ""},
    {"CANGetMessageParameter",
     {exportCanSetUp,
      [] {
          uint32_t id = 0, length = 0, frame = 0, value = 0, transmit = 0;
          uint8_t aux = 0;
          CANGetMessageParameter(1, &id, &length, &frame, &aux, &value, &transmit, 1);
      },
      nothing, exportCanTearDown},
     {floorCanSetUp, nothing, nothing, nothing}, 0, "no platform call"},
    {"CANOpen", {nothing, [] { CANOpen(1); }, [] { CANClose(1); }, nothing},
     {nothing, floorCanOpen, floorCanClose, nothing}, 0, "timed with CANClose"},
    {"CANRead",
     {[] {
          exportCanSetUp();
          injectCanFrame();
      }, [] { CANRead(1, canReceived, sizeof canReceived, &canStatus); },
      injectCanFrame, exportCanTearDown},
     {[] {
          floorCanSetUp();
          injectCanFrame();
      },
      floorCanRead, injectCanFrame, nothing},
     1,
     "timed with another node's frame arriving"},
    {"CANResetFilter",
     {[] {
          exportCanSetUp();
          CANConfigureFilter(1, 0x123, 0x7FF, 0, 0);
      },
      [] { CANResetFilter(1); }, [] { CANConfigureFilter(1, 0x123, 0x7FF, 0, 0); },
      exportCanTearDown},
     {[] {
          floorCanSetUp();
          floorCanConfigureFilter();
      },
      floorCanResetFilter, floorCanConfigureFilter, nothing},
     0, "timed with CANConfigureFilter"},
    {"CANWrite",
     {exportCanSetUp, [] { CANWrite(1, canData, sizeof canData, &canStatus); }, nothing,
      exportCanTearDown},
     {floorCanSetUp, floorCanWrite, nothing, nothing}, 1, ""},
    {"CalibrateTouch", plain([] { CalibrateTouch(); }), plain([] { TouchCalibrate(); }), 0, ""},
    {"ClearTouchCalibrationData",
     {storeCalibration, [] { ClearTouchCalibrationData(); }, storeCalibration, nothing},
     {storeCalibration,
      [] {
          HKEY key = nullptr;
          RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\TOUCH", 0, 0x0002, &key);
          RegDeleteValueW(key, L"CalibrationData");
          RegCloseKey(key);
      },
      storeCalibration, nothing},
     0, "timed with the calibration stored again"},
    {"ControlPowerKITL", plain([] { ControlPowerKITL(1); }), plain([] { floorKitl(1); }), 0, ""},
    {"CreateRegistryBackup", plain(exportCreateRegistryBackup), plain(floorCreateRegistryBackup), 0,
     ""},
    {"GPIOClearInterrupt",
     {setUpClearedInterrupt, exportGpioClearInterrupt, exportGpioSetInterrupt,
      exportGpioClearInterrupt},
     {setUpFloorClearedInterrupt, floorGpioClearInterrupt, floorGpioSetInterrupt, nothing}, 0,
     "timed with GPIOSetInterrupt"},
    {"GPIOGetPin", plain([] { GPIOGetPin(kGpioIndex); }), plain(floorGpioGetPin), 0, ""},
    {"GPIOSetDirection", plain([] { GPIOSetDirection(kGpioIndex, 0, 1); }),
     plain(floorGpioSetDirection), 0, ""},
    {"GPIOSetInterrupt",
     {createCallerEvent, exportGpioSetInterrupt, exportGpioClearInterrupt, exportGpioClearInterrupt},
     {createCallerEvent, floorGpioSetInterrupt, floorGpioClearInterrupt, nothing}, 0,
     "timed with GPIOClearInterrupt"},
    {"GPIOSetPin", plain([] { GPIOSetPin(kGpioIndex, 1); }), plain(floorGpioSetPin), 0, ""},
    {"I2CClose", {[] { I2COpen(0, 0); }, [] { I2CClose(0); }, [] { I2COpen(0, 0); }, [] { I2CClose(0); }},
     {[] { floorState.device = floorI2cOpenBus(); }, [] { CloseHandle(floorState.device); },
      [] { floorState.device = floorI2cOpenBus(); }, nothing},
     0, "timed with I2COpen"},
    {"I2COpen", {nothing, [] { I2COpen(0, 0); }, [] { I2CClose(0); }, nothing},
     {nothing, [] { floorState.device = floorI2cOpenBus(); }, [] { CloseHandle(floorState.device); },
      nothing},
     0, "timed with I2CClose"},
    {"I2CRead", plain([] { I2CRead(0, 0, kEeprom, kRegister, i2cReceived); }),
     plain([] { floorI2cRead(L"Rin %d %d %d\r\n", i2cReceived, 1); }), 0, ""},
    {"I2CReadMultipleBytes",
     plain([] { I2CReadMultipleBytes(0, 0, kEeprom, kRegister, sizeof i2cReceived, i2cReceived); }),
     plain([] { floorI2cRead(L"RMin %d %d %d\r\n", i2cReceived, sizeof i2cReceived); }), 0, ""},
    {"I2CWrite", plain([] { I2CWrite(0, 0, kEeprom, kRegister, 0xA5); }),
     plain([] {
         const uint8_t value = 0xA5;
         floorI2cWrite(L"Win %d %d %d\r\n", &value, 1);
     }),
     1, ""},
    {"I2CWriteMultipleBytes",
     plain([] { I2CWriteMultipleBytes(0, 0, kEeprom, kRegister, sizeof i2cData, i2cData); }),
     plain([] { floorI2cWrite(L"WMin %d %d %d\r\n", i2cData, sizeof i2cData); }), 1, ""},
    {"ReadPhysicalAddress", plain([] { ReadPhysicalAddress(1, kScratchRegister, 32); }),
     plain([] {
         floorPhysicalAccess(L"Wout: Start ReadPhysicalAddress\r\n",
                             L"Wout:ReadPhysicalAddress Device: %d\r\n", IOCTL_PHY_READ, true);
         NKDbgPrintfW(L"Wout:ReadPhysicalAddress\r\n");
     }),
     0, ""},
    {"RestartPowerKITL", plain([] { RestartPowerKITL(); }), plain([] {
         floorKitl(0);
         floorKitl(1);
     }),
     0, ""},
    {"RestoreRegistryBackup",
     {exportCreateRegistryBackup, [] { RestoreRegistryBackup(); }, recordNothing, nothing},
     {floorCreateRegistryBackup, floorRestoreRegistryBackup, recordNothing, nothing}, 0,
     "restarts the board"},
    {"SPIClose", {exportSpiSetUp, [] { SPIClose(0); }, exportSpiSetUp, exportSpiTearDown},
     {floorSpiSetUp, floorSpiClose, floorSpiSetUp, nothing}, 0,
     "timed with SPIOpen and SPIConfigure"},
    {"SPIConfigure",
     {exportSpiSetUp, [] { SPIConfigure(0, 0, kSpiFrequency, 0); }, nothing, exportSpiTearDown},
     {floorSpiSetUp, floorSpiConfigure, nothing, nothing}, 0, ""},
    {"SPIExchange",
     {exportSpiSetUp, [] { SPIExchange(0, 32, spiTx, spiRx); }, nothing, exportSpiTearDown},
     {floorSpiSetUp, floorSpiExchange, nothing, nothing}, 0, ""},
    {"SPIOpen", {nothing, [] { SPIOpen(0); }, [] { SPIClose(0); }, nothing},
     {nothing, floorSpiOpen, floorSpiClose, nothing}, 0, "timed with SPIClose"},
    {"SaveRegistry", plain([] { SaveRegistry(); }), plain([] {
         RegFlushKey(HKEY_CURRENT_USER);
         RegFlushKey(HKEY_LOCAL_MACHINE);
     }),
     0, ""},
    {"SetBacklightLevel", plain([] { SetBacklightLevel(128); }), plain(floorBacklightLevel), 0, ""},
    {"SetBacklightSuspend", plain([] { SetBacklightSuspend(60, 1); }), plain([] {
         floorBacklightValues(L"ACTimeout", L"BatteryTimeout", 60);
         floorBacklightValues(L"UseExt", L"UseBattery", 1);
     }),
     0, ""},
    {"SoftReset", {nothing, SoftReset, recordNothing, nothing},
     {nothing, floorSoftReset, recordNothing, nothing}, 0, "restarts the board"},
    {"TarvikGetVersion", plain([] { TarvikGetVersion(); }), plain(nothing), 0, "no platform call"},
    {"UARTClearBuffer",
     {exportUartSetUp, [] { UARTClearBuffer(1); }, nothing, exportUartTearDown},
     {floorUartSetUp,
      [] {
          floorUartPurge(PURGE_RXCLEAR);
          floorUartPurge(PURGE_TXCLEAR);
      },
      nothing, nothing},
     0, ""},
    {"UARTClose", {exportUartSetUp, [] { UARTClose(1); }, [] { UARTOpen(1, 0, 115200); }, exportUartTearDown},
     {floorUartSetUp, floorUartClose, floorUartOpen, nothing}, 0, "timed with UARTOpen"},
    {"UARTConfigure",
     {exportUartSetUp, [] { UARTConfigure(1, 0, 0, 0, 8, 115200); }, nothing, exportUartTearDown},
     {floorUartSetUp,
      [] { floorUartConfigure(L"VELNA uart mode config operate successful - Rout %d\r\n", plainLine); },
      nothing, nothing},
     0, ""},
    {"UARTConfigureStructure",
     {exportUartSetUp, [] { UARTConfigureStructure(1, &callerDcb); }, nothing, exportUartTearDown},
     {floorUartSetUp,
      [] { floorUartConfigure(L"VELNA uart config operate successful - Rout %d\r\n", callerLine); },
      nothing, nothing},
     0, ""},
    {"UARTConfigureTimeout",
     {exportUartSetUp, [] { UARTConfigureTimeout(1, 0, 0); }, nothing, exportUartTearDown},
     {floorUartSetUp, floorUartSetTimeouts, nothing, nothing}, 0, ""},
    {"UARTOpen",
     {unplugUart, [] { UARTOpen(1, 0, 115200); }, [] { UARTClose(1); }, nothing},
     {unplugUart, floorUartOpen, floorUartClose, nothing}, 0, "timed with UARTClose"},
    {"UARTRead",
     {[] {
          exportUartSetUp();
          startSender();
      },
      [] { UARTRead(1, sizeof uartReceived, uartReceived); }, nothing,
      [] {
          stopSender();
          exportUartTearDown();
      }},
     {[] {
          floorUartSetUp();
          startSender();
      },
      floorUartRead, nothing, stopSender},
     0, "another node sends while the read waits"},
    {"UARTWrite", {exportUartSetUp, [] { UARTWrite(1, kUartText); }, nothing, exportUartTearDown},
     {floorUartSetUp, floorUartWrite, nothing, nothing}, 0, ""},
    {"WinCEImageGetVersion", plain([] { WinCEImageGetVersion(); }),
     plain([] { floorIdent(L"ImageVersionNumber"); }), 0, ""},
    {"WritePhysicalAddress", plain([] { WritePhysicalAddress(1, kScratchRegister, 32, 0x5A, 0); }),
     plain([] {
         floorPhysicalAccess(L"Wout: Start WritePhysicalAddress\r\n",
                             L"Wout:WritePhysicalAddress Device: %d\r\n", IOCTL_PHY_WRITE, false);
         NKDbgPrintfW(L"Wout:WritePhysicalAddress\r\n");
     }),
     0, ""},
};

}  // namespace

const ExportCase* exportCases(size_t* count) {
    *count = sizeof kCases / sizeof kCases[0];
    return kCases;
}

void prepareBoard(bool recordAll) {
    vboard::reset();
    floorState = FloorState{};
    callerEvent = nullptr;
    vboard::echoDebugTo("");
    vboard::echoTraceTo("");
    vboard::setVirtualSleep(true);
    // A fixed clock, so that the time lines of two runs are the same whenever they run.
    SYSTEMTIME noon = {2026, 12, 2, 8, 12, 0, 0, 0};
    vboard::setSystemTime(noon);
    vboard::setRecording(recordAll ? vboard::Recording{vboard::RecordMode::All, 0}
                                   : vboard::Recording{vboard::RecordMode::Off, 0});
}
