// src/uart: a whole UART scenario against its kept trace: both ports opened and configured, a write
// through the null-modem cable, a read of bytes that arrive while it waits, the buffers and
// time-outs, a caller's record, and the ports closed. Any change in what the library asks of the
// system, in what order, or in what it prints, shows as a diff of
// tests/golden/uart_round_trip.trace.
#include "Tarvik.h"
#include "golden.h"
#include "library_test.h"
#include "test_support.h"
#include "uart_support.h"

class UartGolden : public tarvik_test::LibraryTest {};

TEST_F(UartGolden, OpenConfigureWriteReadAndClose) {
    vboard::setVirtualSleep(true);
    SetLastError(ERROR_SUCCESS);  // the success lines print it
    EXPECT_EQ(UARTOpen(1, 1, 115200), 1);
    EXPECT_EQ(UARTOpen(2, 0, 115200), 1);
    EXPECT_EQ(UARTConfigure(2, 2, 2, 0, 7, 9600), 1);
    EXPECT_EQ(UARTWrite(1, "hi"), 1);
    // The read runs on a thread of its own; its bytes come from the control side, which leaves
    // no trace, so the trace is the same on every run.
    uint8_t buffer[4] = {};
    EXPECT_EQ(tarvik_test::whileBlocked<uint8_t>(
                  "COM2:", [&] { return UARTRead(2, 4, buffer); },
                  [] { vboard::serial().receive("COM2:", tarvik_test::bytesOf("ok!\n")); }),
              1);
    EXPECT_EQ(UARTClearBuffer(1), 1);
    EXPECT_EQ(UARTConfigureTimeout(2, 0, 0), 1);
    DCB dcb = vboard::serial().state("COM1:")->dcb;
    dcb.DCBlength = 0;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    EXPECT_EQ(UARTConfigureStructure(1, &dcb), 1);
    UARTClose(1);
    UARTClose(2);
    UARTClose(2);
    tarvik_test::expectGolden("uart_round_trip.trace", vboard::traceLines());
    tarvik_test::expectNoMisuse();
}
