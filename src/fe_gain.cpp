// SPDX-License-Identifier: MIT
// The RF gain code of the receiver and the FE gain steps, in the user's
// terms: decibels and gain factors.
#include "fe_interface.h"

#include <climits>
#include <cmath>

// FE gain code for each FE gain step 0 to 6: the step's three bits reversed.
const int GainIndex[7] = {0, 4, 2, 6, 1, 5, 3};
// FE gain factor (times) for each FE gain step 0 to 6.
const double GainTable[7] = {1.0, 1.14, 1.33, 1.6, 2.0, 2.67, 4.0};

// The receiver's RF gain code runs in 3 dB steps from -10 dB, eight codes to
// a step; the low three bits are fractions of a step and are dropped. The
// shift rounds toward minus infinity, so negative codes land below -10 dB.
int RF_Gain_Calc(int value) {
    return (value >> 3) * 3 - 10;
}

// The gain in dB of a code by the analog model of the gain stage: the code
// sets a control voltage of 1.5 V full scale over 255, worth 20 dB per 0.6 V,
// on top of the fixed loss of the input divider.
double RF_Gain_Int_2_Double(int value) {
    double val = value;
    double Vmag = 0.25;
    double Vdbs = val * 1.5 / 255.0;
    double Gbn = Vdbs * 20.0 / 0.6;
    double Gt = 20.0 * log10(Vmag / 0.5) + Gbn;
    return Gt;
}

// The inverse of RF_Gain_Int_2_Double, truncated toward zero. Gains so large
// that the code would not fit an int (beyond some 400 million dB) give the
// int limit on their side.
int RF_Gain_IntDb_2_Int(int gain) {
    double Gt = gain;
    double Vmag = 0.25;
    double Gbn = Gt - 20.0 * log10(Vmag / 0.5);
    double Vdbs = Gbn * 0.6 / 20.0;
    double val = Vdbs * 255.0 / 1.5;
    if (val >= 2147483648.0)
        return INT_MAX;
    if (val <= -2147483649.0)
        return INT_MIN;
    return static_cast<int>(val);
}
