// src/gpio: the module's pin map: every index, every query kind.
#include <gtest/gtest.h>

#include "gpio/gpio_pin_map.h"
#include "vboard/vboard.h"

using tarvik::lookupModuleGpio;

namespace {

struct Mapping {
    uint32_t index;
    int32_t number;
    int32_t bank;
    int32_t pin;
};

const Mapping kMappings[] = {
    {1, 2, 0, 2},       {2, 4, 0, 4},       {3, 5, 0, 5},       {4, 163, 5, 3},
    {5, 101, 3, 5},     {6, 116, 3, 20},    {7, 91, 2, 27},     {8, 103, 3, 7},
    {9, 104, 3, 8},     {10, 174, 5, 14},   {11, 175, 5, 15},   {12, 105, 3, 9},
    {13, 192, 6, 0},    {14, 193, 6, 1},    {15, 149, 4, 21},   {16, 205, 6, 13},
    {17, 18, 0, 18},    {18, 16, 0, 16},    {19, 17, 0, 17},    {20, 19, 0, 19},
    {21, 20, 0, 20},    {22, 146, 4, 18},   {23, 147, 4, 19},   {34, 21, 0, 21},
    // Without a GPIO: the signed division of -1 gives bank 0 and pin -1.
    {0, -1, 0, -1},     {24, -1, 0, -1},    {29, -1, 0, -1},    {30, -1, 0, -1},
    {33, -1, 0, -1},    {35, -1, 0, -1},    {36, -1, 0, -1},    {0x80000000u, -1, 0, -1},
    {0xFFFFFFFFu, -1, 0, -1},
};

}  // namespace

TEST(PinMap, AnswersNumberBankAndPinOfEveryIndex) {
    for (const Mapping& m : kMappings) {
        SCOPED_TRACE("index " + std::to_string(m.index));
        EXPECT_EQ(lookupModuleGpio(m.index, tarvik::GPIO_QUERY_NUMBER), m.number);
        EXPECT_EQ(lookupModuleGpio(m.index, tarvik::GPIO_QUERY_BANK), m.bank);
        EXPECT_EQ(lookupModuleGpio(m.index, tarvik::GPIO_QUERY_PIN), m.pin);
        // Any other query kind answers the number.
        EXPECT_EQ(lookupModuleGpio(m.index, 7), m.number);
        EXPECT_EQ(lookupModuleGpio(m.index, 0xFFFFFFFFu), m.number);
    }
}

TEST(PinMap, HoldsExactlyTwentyFourGpiosAndNeverTheNumber35) {
    int mapped = 0;
    for (uint32_t index = 0; index < 200; ++index) {
        const int32_t number = lookupModuleGpio(index, tarvik::GPIO_QUERY_NUMBER);
        EXPECT_NE(number, 35) << index;
        if (number != tarvik::GPIO_NOT_MAPPED) {
            ++mapped;
            EXPECT_TRUE((index >= 1 && index <= 23) || index == 34) << index;
        }
    }
    EXPECT_EQ(mapped, 24);
}

TEST(PinMap, TheBoardDrivesTheSamePadsByIndex) {
    for (uint32_t index = 0; index < 200; ++index) {
        SCOPED_TRACE("index " + std::to_string(index));
        const auto pad = vboard::gpioPadOf(index);
        ASSERT_EQ(pad.has_value(), lookupModuleGpio(index, tarvik::GPIO_QUERY_NUMBER) != tarvik::GPIO_NOT_MAPPED);
        if (!pad) continue;
        EXPECT_EQ(pad->bank, lookupModuleGpio(index, tarvik::GPIO_QUERY_BANK));
        EXPECT_EQ(pad->pin, lookupModuleGpio(index, tarvik::GPIO_QUERY_PIN));
    }
}
