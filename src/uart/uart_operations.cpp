// The exported UART operations. Each port keeps its handle and its records in a UartPort from
// UARTOpen to UARTClose; every platform call goes through SerialPortDevice.
#include "uart/uart_operations.h"

#include "platform/request_lines.h"
#include "uart/serial_port_device.h"
#include "uart/uart_records.h"
#include "uart/uart_state.h"

namespace tarvik {

SerialPortDevice serialPortDevice;

namespace {

constexpr uint32_t kMaxReadSize = 4;
// What a read and a write leave in the port's time-outs: a read waits up to 30 s between two
// bytes and has no total limit; a write may take 30 s in all.
constexpr DWORD kReadIntervalTimeout = 30000;
constexpr DWORD kWriteTotalTimeout = 30000;

// The port's record, or null after the refusal line.
UartPort* selectPort(uint32_t port) {
    if (port >= 1 && port <= kUartPortCount) return &uartState.ports[port - 1];
    NKDbgPrintfW(L"Can't select Uart Port\r\n");
    return nullptr;
}

bool isOpen(const UartPort& record) { return record.handle != nullptr; }

// The read pause in milliseconds for `size` bytes at the port's recorded rate (0: none).
int32_t uartReadPause(int32_t baudRate, uint32_t size) {
    // Eight bits a byte, a thousand milliseconds a second; below 8000 baud there is less than one
    // byte a millisecond and no pause is taken (never configured ports included).
    const int32_t bytesPerMillisecond = baudRate / 8000;
    if (bytesPerMillisecond == 0) return 0;
    const int32_t q = static_cast<int32_t>(size) / bytesPerMillisecond;
    return q > 0 ? q + 1 : 0;
}

}  // namespace

uint8_t UARTOpen(uint32_t port, int32_t flowControl, int32_t baudRate) {
    UartPort* record = selectPort(port);
    if (record == nullptr) return 0;
    if (record->handle == INVALID_HANDLE_VALUE) return refuse(L"Can't Open Uart Port\r\n");
    // Opening a port that is open gives up the old handle first, rather than losing it.
    if (isOpen(*record)) serialPortDevice.closePort(&record->handle);
    if (!serialPortDevice.openPort(&record->handle, port)) return 0;
    if (!serialPortDevice.setWaitEvents(&record->handle)) return 0;
    // Eight data bits, no parity, one stop bit.
    if (!serialPortDevice.configureMode(&record->handle, &record->dcb, flowControl, NOPARITY,
                                        ONESTOPBIT, 8, baudRate))
        return refuse(L"Can't Open Uart Port\r\n");
    return 1;
}

void UARTClose(uint32_t port) {
    UartPort* record = selectPort(port);
    if (record == nullptr) return;
    if (!isOpen(*record)) {
        NKDbgPrintfW(L"Can't Close Uart Port\r\n");
        return;
    }
    serialPortDevice.closePort(&record->handle);
}

uint8_t UARTConfigure(uint32_t port, int32_t flowControl, int32_t parity, int32_t stopBits,
                      int32_t byteSize, int32_t baudRate) {
    UartPort* record = selectPort(port);
    if (record == nullptr) return 0;
    // The rate is remembered for the read pause even when the port is not open.
    record->baudRate = baudRate;
    if (!isOpen(*record) ||
        !serialPortDevice.configureMode(&record->handle, &record->dcb, flowControl, parity,
                                        stopBits, byteSize, baudRate))
        return refuse(L"Can't configure Uart Port mode\r\n");
    return 1;
}

uint8_t UARTConfigureStructure(uint32_t port, const DCB* dcb) {
    UartPort* record = selectPort(port);
    if (record == nullptr) return 0;
    if (dcb == nullptr || !isOpen(*record) ||
        !serialPortDevice.configureStructure(&record->handle, &record->dcb, dcb))
        return refuse(L"Can't configure Uart Port structure\r\n");
    return 1;
}

uint8_t UARTConfigureTimeout(uint32_t port, uint32_t, uint32_t) {
    UartPort* record = selectPort(port);
    if (record == nullptr) return 0;
    if (!isOpen(*record) || !serialPortDevice.setTimeouts(&record->handle, &record->timeouts))
        return refuse(L"Can't select Uart Port timeouts\r\n");
    return 1;
}

uint8_t UARTClearBuffer(uint32_t port) {
    UartPort* record = selectPort(port);
    if (record == nullptr) return 0;
    if (!isOpen(*record)) return refuse(L"Can't clear Uart Port buffers\r\n");
    if (!serialPortDevice.clearReceiveBuffer(&record->handle))
        return refuse(L"Can't clear Uart Port Receive (RX) buffer\r\n");
    if (!serialPortDevice.clearSendBuffer(&record->handle))
        return refuse(L"Can't clear Uart Port Send (TX) buffer\r\n");
    return 1;
}

uint8_t UARTRead(uint32_t port, uint32_t size, uint8_t* buffer) {
    if (buffer == nullptr) return refuse(L"Invalid receive data buffer\r\n");
    if (size > kMaxReadSize) return refuse(L"Invalid receive data buffer size\r\n");
    UartPort* record = selectPort(port);
    if (record == nullptr) return 0;
    const int32_t pause = uartReadPause(record->baudRate, size);
    if (!isOpen(*record)) return refuse(L"Can't receive from Uart Port device\r\n");
    if (!serialPortDevice.getTimeouts(&record->handle, &record->timeouts))
        return refuse(L"Can't get comm timeout\r\n");
    record->timeouts.ReadIntervalTimeout = kReadIntervalTimeout;
    record->timeouts.ReadTotalTimeoutConstant = 0;
    record->timeouts.ReadTotalTimeoutMultiplier = 0;
    if (!serialPortDevice.setTimeouts(&record->handle, &record->timeouts))
        return refuse(L"Can't get comm timeout\r\n");
    if (!serialPortDevice.setWaitEvents(&record->handle)) return refuse(L"Can't set comm events\r\n");
    // Both buffers were flushed above: only bytes that arrive from here on end the wait.
    if (!serialPortDevice.waitEvent(&record->handle, kSerialReadWaitWord))
        return refuse(L"Can't read from RX data buffer\r\n");
    // Time for the rest of the bytes to follow the first.
    if (pause > 0) Sleep(static_cast<DWORD>(pause));
    if (!serialPortDevice.readData(&record->handle, buffer, size))
        return refuse(L"Can't receive from Uart Port device\r\n");
    return 1;
}

uint8_t UARTWrite(uint32_t port, const char* data) {
    if (data == nullptr) return refuse(L"Invalid send data buffer\r\n");
    UartPort* record = selectPort(port);
    if (record == nullptr) return 0;
    if (!isOpen(*record)) return refuse(L"Can't write to Uart Port device\r\n");
    if (!serialPortDevice.getTimeouts(&record->handle, &record->timeouts))
        return refuse(L"Can't get comm timeout\r\n");
    record->timeouts.WriteTotalTimeoutConstant = kWriteTotalTimeout;
    record->timeouts.WriteTotalTimeoutMultiplier = 0;
    if (!serialPortDevice.setTimeouts(&record->handle, &record->timeouts))
        return refuse(L"Can't get comm timeout\r\n");
    if (!serialPortDevice.setWaitEvents(&record->handle)) return refuse(L"Can't set comm events\r\n");
    if (!serialPortDevice.writeData(&record->handle, data, 0))
        return refuse(L"Can't write to TX data buffer\r\n");
    if (!serialPortDevice.waitEvent(&record->handle, kSerialWriteWaitWord))
        return refuse(L"Can't write to Uart Port device\r\n");
    return 1;
}

}  // namespace tarvik
