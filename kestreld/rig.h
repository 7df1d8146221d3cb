// SPDX-License-Identifier: MIT
// kestreld's one receiver: opened once, kept open, reopened by the next
// request after a link failure. Every exchange is one report and its answer,
// bounded like kestrel's (1 s over USB HID and the drive files, 3 s over
// TCP). Results are Hamlib's status codes.
#pragma once

#include <cstdint>

constexpr int RIG_OK = 0;
constexpr int RIG_EINVAL = -1;   // a value the receiver cannot take
constexpr int RIG_ETIMEOUT = -5; // the receiver did not answer in time
// No receiver: it cannot be opened, or its link failed. Hamlib's "rig is
// not powered on", which its clients show as an error. (Its "I/O error", -6,
// they take for a broken link to kestreld itself: rigctl reconnects and
// says nothing, so a setting that was lost would look done.)
constexpr int RIG_EPOWER = -20;
constexpr int RIG_ENAVAIL = -11; // the receiver has no such function

// How the receiver is reached: over TCP at `ip`:`port`, or (ip null) over
// USB HID and then the drive files, as kestrel opens it (serial number and
// drive path from Set_USB_Serial_number and SetMSDPath).
void rig_configure(const char *ip, uint16_t port);

// Opens the receiver when it is not open. RIG_OK or RIG_EPOWER.
int rig_open(void);
void rig_close(void);

// The centre frequency of a channel: set, and read back with the receiver's
// frequency query (RIG_OK with *hz 0 when the receiver answers without a
// frequency).
int rig_set_frequency(int channel, uint32_t hz);
int rig_get_frequency(int channel, uint32_t *hz);

// The RF gain code of a channel, and the four channels' codes read back
// (channel 0 in the lowest byte), as -A? reads them.
int rig_set_rf_gain(int channel, int code);
int rig_get_rf_gains(uint32_t *codes);

// The AGC of one channel. The receiver's AGC mask (bit n: channel n) is
// learnt from its AGC state each time kestreld opens it; a change sets or
// clears the channel's bit only, and the others stay as the receiver had
// them.
int rig_set_agc(int channel, bool on);
int rig_get_agc(int channel, bool *on);
