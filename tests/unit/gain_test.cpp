// SPDX-License-Identifier: MIT
// The RF gain scale between decibels and the receiver's gain codes, and the
// FE gain steps.
#include "commands.h"
#include "fe_interface.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

struct IntCase {
    int in;
    int out;
};

TEST(RfGainScale, DecibelsToCode) {
    const IntCase cases[] = {
        {-10, 0}, {-9, 2},  {-8, 5},   {-7, 8},
        {0, 26},  {14, 64}, {35, 120}, {-11, -2}, // truncation toward zero
    };
    for (const IntCase &c : cases)
        EXPECT_EQ(RF_Gain_Db_to_Int(c.in), c.out) << c.in;
    // No overflow at the ends of the int range: the exact quotient's low 32 bits.
    EXPECT_EQ(RF_Gain_Db_to_Int(INT_MAX), static_cast<int>((int64_t{INT_MAX} + 10) * 8 / 3));
    EXPECT_EQ(RF_Gain_Db_to_Int(INT_MIN), static_cast<int>((int64_t{INT_MIN} + 10) * 8 / 3));
}

TEST(RfGainScale, CodeToDecibelsOnTheThreeDbGrid) {
    const IntCase cases[] = {
        {0, -10}, {7, -10}, {8, -7}, {26, -1}, {64, 14}, {120, 35}, {127, 35}, {255, 83}, {-2, -13},
    };
    for (const IntCase &c : cases)
        EXPECT_EQ(RF_Gain_Calc(c.in), c.out) << c.in;
    // A gain converts back to the grid point at or below it.
    for (int db = -10; db <= 35; db++)
        EXPECT_EQ(RF_Gain_Calc(RF_Gain_Db_to_Int(db)), -10 + (db + 10) / 3 * 3) << db;
}

TEST(RfGainScale, AnalogModel) {
    EXPECT_DOUBLE_EQ(RF_Gain_Int_2_Double(0), -6.020599913279624);
    EXPECT_DOUBLE_EQ(RF_Gain_Int_2_Double(255), 43.979400086720375);
    const IntCase cases[] = {
        {0, 30}, {14, 102}, {44, 255}, {-6, 0}, {-7, -4}, // -7: truncation toward zero
    };
    for (const IntCase &c : cases)
        EXPECT_EQ(RF_Gain_IntDb_2_Int(c.in), c.out) << c.in;
    // Codes beyond the int range stop at its limits instead of overflowing.
    EXPECT_EQ(RF_Gain_IntDb_2_Int(INT_MAX), INT_MAX);
    EXPECT_EQ(RF_Gain_IntDb_2_Int(INT_MIN), INT_MIN);
}

TEST(FeGainSteps, CodesAreTheStepBitsReversed) {
    const int codes[7] = {0, 4, 2, 6, 1, 5, 3};
    const double factors[7] = {1.0, 1.14, 1.33, 1.6, 2.0, 2.67, 4.0};
    for (int g = 0; g < 7; g++) {
        EXPECT_EQ(GainIndex[g], codes[g]) << g;
        EXPECT_EQ(GainTable[g], factors[g]) << g;
    }
}

} // namespace
