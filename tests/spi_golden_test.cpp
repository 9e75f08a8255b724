// src/spi: a whole SPI scenario against its kept trace (see golden.h): both ports, the flash's
// identification, a loopback, a refused length, and the shared event closed with one port.
#include "Tarvik.h"
#include "golden.h"
#include "library_test.h"
#include "test_support.h"

class SpiGolden : public tarvik_test::LibraryTest {};

TEST_F(SpiGolden, BothPortsAroundTheSharedEvent) {
    vboard::setSystemTime(SYSTEMTIME{2026, 12, 2, 8, 23, 59, 30, 0});  // prints hour 24

    const uint8_t identify[4] = {0x9F, 0x00, 0x00, 0x00};
    const uint8_t hello[2] = {0xA5, 0x3C};
    uint8_t in[4] = {};
    EXPECT_EQ(SPIOpen(0), 1);
    EXPECT_EQ(SPIOpen(1), 1);
    EXPECT_EQ(SPIConfigure(0, 3, 1000000, 0), 1);
    EXPECT_EQ(SPIExchange(0, 32, identify, in), 1);
    EXPECT_EQ(SPIConfigure(1, 0, 4000000, 0x1FF), 1);
    EXPECT_EQ(SPIExchange(1, 16, hello, in), 1);
    EXPECT_EQ(SPIExchange(1, -8, hello, in), 0);
    SPIClose(0);
    EXPECT_EQ(SPIExchange(1, 16, hello, in), 1);
    SPIClose(1);
    EXPECT_EQ(SPIOpen(2), 0);
    tarvik_test::expectGolden("spi_ports.trace", vboard::traceLines());
    tarvik_test::expectNoMisuse();
}
