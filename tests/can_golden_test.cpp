// src/can: a whole CAN scenario against its kept trace: open, 500 kbit/s in loopback behind a
// filter, a frame sent and read back, a frame from another node, an empty queue, the filter
// removed.
#include "Tarvik.h"
#include "can_support.h"
#include "golden.h"

class CanGolden : public can_test::CanTest {};

TEST_F(CanGolden, LoopbackRoundTripBehindAFilter) {
    const uint8_t frame[4] = {0xDE, 0xAD, 0xBE, 0xEF};
    uint8_t received[8] = {};
    uint32_t status = 0;
    EXPECT_EQ(CANOpen(1), 1);
    EXPECT_EQ(CANConfigureMode(1, 0, 500000, 0, 1), 1);
    EXPECT_EQ(CANConfigureFilter(1, 0x120, 0x7F0, 0, 0), 1);
    EXPECT_EQ(CANConfigureMessage(1, 0, 0x123, 0, 0, 1), 1);
    EXPECT_EQ(CANConfigureMessage(1, 0, 0, 0, 0, 0), 1);
    EXPECT_EQ(CANWrite(1, frame, 4, &status), 1);
    EXPECT_EQ(CANRead(1, received, 8, &status), 1);
    EXPECT_TRUE(vboard::can().inject(*vboard::parseCanFrame("12A#0102")));
    EXPECT_EQ(CANRead(1, received, 8, &status), 1);
    EXPECT_EQ(CANRead(1, received, 8, &status), 0);
    EXPECT_EQ(CANResetFilter(1), 1);
    CANClose(1);
    tarvik_test::expectGolden("can_loopback.trace", vboard::traceLines());
    tarvik_test::expectNoMisuse();
}
