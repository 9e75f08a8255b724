// src/i2c: a whole I2C scenario against its kept trace (see golden.h): a bus opened and closed,
// bytes through the EEPROM and back, the sensor read, and a write nobody answers.
#include "Tarvik.h"
#include "golden.h"
#include "library_test.h"
#include "test_support.h"

class I2cGolden : public tarvik_test::LibraryTest {};

TEST_F(I2cGolden, EepromRoundTripSensorAndNak) {
    vboard::setSystemTime(SYSTEMTIME{2026, 12, 2, 8, 23, 5, 9, 0});
    EXPECT_EQ(I2COpen(0, 1), 1);
    const uint8_t message[3] = {0xCA, 0xFE, 0x01};
    EXPECT_EQ(I2CWriteMultipleBytes(0, 0, 0x50, 0x20, 3, message), 1);
    uint8_t back[3] = {};
    EXPECT_EQ(I2CReadMultipleBytes(0, 0, 0x50, 0x20, 3, back), 1);
    EXPECT_EQ(back[1], 0xFE);
    uint8_t temperature = 0;
    EXPECT_EQ(I2CRead(2, 0, 0x48, 0x00, &temperature), 1);
    EXPECT_EQ(temperature, 25);
    EXPECT_EQ(I2CWrite(1, 0, 0x50, 0x00, 0x01), 0);
    I2CClose(0);
    tarvik_test::expectGolden("i2c_round_trip.trace", vboard::traceLines());
    EXPECT_EQ(vboard::openDriverHandles(), 0u);
}
