// SPDX-License-Identifier: MIT
// The operations with the receiver that kestrel and kestreld share: the one
// open sequence, the close, the settings, the queries and the EEPROM pair.
// Each sends its report (or, for a networked receiver, its control message)
// and reads the answer, and returns how the exchange ended. Nothing here
// prints: kestrel adds its console texts on top (commands_*.cpp), kestreld
// turns the results into its status codes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "fe_interface.h" // the exchange results FE_ANSWERED, FE_TIMED_OUT, FE_LINK_FAILED

// Report codes of the receiver's answers, and the command code of the trace
// answer that the receiver may send before any answer.
constexpr int FE_ANSWER_GENERIC = 6;
constexpr int FE_ANSWER_FREQUENCY = 7;
constexpr int FE_CMD_TRACE = 28;

// How one exchange ended, and what its answer said.
struct ack_reply {
    int result;    // FE_ANSWERED, FE_TIMED_OUT or FE_LINK_FAILED
    int32_t value; // a generic answer's value; 0 for any other answer; -1 without an answer
    int kind;      // the answer's report code: 6 generic, 7 frequency; 0 without an answer
    int command;   // the command code of a generic answer, -1 for any other
};

// Reads one answer, as kestrel's answer wait reads it.
ack_reply read_ack_quiet(void);
// Reads the answer to the report just written: none when the report did not
// go out (the result is then how its write ended), and a trace answer is
// passed over once.
ack_reply fe_read_answer(void);
// How an operation reads the answer to each of its reports: fe_read_answer,
// or a reader that adds console texts to read_ack_quiet.
using fe_reader = ack_reply (*)(void);

// True when `r` is the receiver's generic answer to command `command`.
bool fe_answers(const ack_reply &r, int command);

// Why an open failed.
enum fe_open_status {
    FE_OPEN_OK = 0,
    FE_OPEN_NO_RECEIVER = 1,        // no USB receiver, no drive files found
    FE_OPEN_USB_NOT_OPENABLE = 2,   // a USB receiver is attached but cannot be opened
    FE_OPEN_DRIVE_NOT_OPENABLE = 3, // the drive files given or found cannot be opened
    FE_OPEN_TCP_FAILED = 4,         // the networked receiver cannot be connected to
};
// Opens the receiver: over TCP at `tcp_address`:`tcp_port`, or (address
// null) over USB HID and then the drive files, with the serial number and
// drive path set in the connection. `description`, when not null, takes
// 128 bytes: the product string, the drive's name, or why the open failed.
int fe_open(const char *tcp_address, uint16_t tcp_port, char *description);
// Closes whatever is open; the next exchange needs an open first.
void fe_close(void);
// True when the receiver cannot be reached without opening it again.
bool fe_link_down(void);
// Drops an answer that is already waiting (one that came after its
// exchange's bound, or after an outage), so that the next report's answer
// is read, not an earlier one's.
void fe_drain(void);
// The USB identities that the open accepts, in the order it tries them:
// false once `index` is past the last.
bool fe_receiver_identity(size_t index, unsigned short *vendor_id, unsigned short *product_id);

// The centre frequency of a channel: a frequency report, or over TCP the
// frequency control message (answered within the message; nothing is read).
ack_reply fe_set_frequency(uint32_t hz, int channel, fe_reader read = fe_read_answer);
// The RF gain code of a channel. It travels as a report on every transport
// (over TCP inside the tunnel), as it always has.
ack_reply fe_set_rf_gain(int channel, int code, fe_reader read = fe_read_answer);
// The AGC mask: bit n switches the AGC of channel n on.
ack_reply fe_set_agc_mask(int mask, fe_reader read = fe_read_answer);
// A query: the command report with one parameter byte, and its answer.
// Whether the answer is the one asked for is told by fe_answers().
ack_reply fe_query(uint8_t command, uint8_t parameter, fe_reader read = fe_read_answer);

// The EEPROM pair: a 32-bit value in two 16-bit EEPROM words, the low half
// at `low_address` and the high half at the next, written or read with two
// reports, each followed by `read`. The result is the worse of the two
// exchanges; a read pair's value is the low half of the first answer plus
// the second answer shifted up 16 bits. Without a reader the first report
// is followed by the answer-flag wait and nothing is read; the value is
// then the second report's send result.
enum fe_eeprom_access { FE_EEPROM_READ, FE_EEPROM_WRITE };
ack_reply fe_eeprom_pair(fe_eeprom_access access, uint8_t low_address, uint32_t value,
                         fe_reader read);

// The RF gain scale: 3 dB steps from -10 dB, eight codes to a step.
constexpr int FE_RF_GAIN_LOW_DB = -10;
constexpr int FE_RF_GAIN_STEP_DB = 3;
constexpr int FE_RF_CODES_PER_STEP = 8;
// The RF gain code of a gain in dB, worked out in 64 bits so that any int
// converts; the code is the quotient's low 32 bits (only its low byte
// travels).
int fe_rf_gain_code(int db);
