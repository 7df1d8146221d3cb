// SPDX-License-Identifier: MIT
// The quiet operations with the receiver, shared by kestrel and kestreld:
// each sends its report through the report builders and reads the answer
// with the reader it is given, and returns how the exchange ended.
#include "fe_operations.h"

#include <cstring>

#include "fe_interface.h"
#include "tcp_shell.h"

namespace {

constexpr ack_reply NO_ANSWER = {FE_TIMED_OUT, -1, 0, -1};

ack_reply ended_without_answer(int how) {
    ack_reply r = NO_ANSWER;
    r.result = how;
    return r;
}

// The worse of two exchanges: a failed link over a time-out over an answer.
int worse(int a, int b) {
    return a > b ? a : b;
}

} // namespace

ack_reply read_ack_quiet(void) {
    unsigned char answer[64];
    memset(answer, 0, sizeof answer);
    ack_reply r = NO_ANSWER;
    if (HID_Read_Data(reinterpret_cast<char *>(answer)) <= 0) {
        // A read that failed without saying why (no transport) counts as
        // a failed link.
        int how = HID_Last_Exchange();
        r.result = how == FE_ANSWERED ? FE_LINK_FAILED : how;
        return r;
    }
    r.result = FE_ANSWERED;
    r.kind = answer[0];
    r.value = 0;
    if (answer[0] == FE_ANSWER_GENERIC) {
        unsigned char command = 0;
        r.value = static_cast<int32_t>(HID_Get_Generic_Report(&command, answer));
        r.command = command;
    }
    return r;
}

ack_reply fe_read_answer(void) {
    int written = HID_Last_Exchange();
    if (written != FE_ANSWERED)
        return ended_without_answer(written);
    for (int tries = 0; tries < 2; tries++) {
        ack_reply r = read_ack_quiet();
        if (r.result != FE_ANSWERED || !fe_answers(r, FE_CMD_TRACE))
            return r;
    }
    return NO_ANSWER;
}

bool fe_answers(const ack_reply &r, int command) {
    return r.result == FE_ANSWERED && r.kind == FE_ANSWER_GENERIC && r.command == command;
}

int fe_open(const char *tcp_address, uint16_t tcp_port, char *description) {
    char unused[128];
    char *msg = description != nullptr ? description : unused;
    memset(msg, 0, sizeof unused);
    if (tcp_address != nullptr)
        return open_tcp_connection(tcp_address, tcp_port) == 0 ? FE_OPEN_OK : FE_OPEN_TCP_FAILED;
    HID_Device_Enumerate();
    if (HID_Device_Init(msg) != 0)
        return FE_OPEN_OK;
    switch (HID_Open_Failure()) {
    case HID_OPEN_USB_NOT_OPENABLE:
        return FE_OPEN_USB_NOT_OPENABLE;
    case HID_OPEN_DRIVE_NOT_OPENABLE:
        return FE_OPEN_DRIVE_NOT_OPENABLE;
    default:
        return FE_OPEN_NO_RECEIVER;
    }
}

void fe_close(void) {
    if (hid_tcp_network_flag == 1) {
        close_tcp();
        hid_change_tcp_network_flag(0);
    }
    HID_Close();
}

bool fe_link_down(void) {
    return HID_Link_Down() != 0;
}

void fe_drain(void) {
    HID_Drain_Answers();
}

ack_reply fe_set_frequency(uint32_t hz, int channel, fe_reader read) {
    if (hid_tcp_network_flag == 1) {
        // The control message is answered within its own exchange.
        tcp_send_frequency(hz, channel);
        int how = tcp_last_result();
        if (how != FE_ANSWERED)
            return ended_without_answer(how);
        return {FE_ANSWERED, 0, 0, -1};
    }
    HID_Set_Frequency(hz, channel);
    return read();
}

ack_reply fe_set_rf_gain(int channel, int code, fe_reader read) {
    HID_ChangeRF_Gain(channel, code);
    return read();
}

ack_reply fe_set_agc_mask(int mask, fe_reader read) {
    HID_Set_Overload_Mode(mask);
    return read();
}

ack_reply fe_query(uint8_t command, uint8_t parameter, fe_reader read) {
    HID_Send_Generic_Long_Data(command, parameter);
    return read();
}

ack_reply fe_eeprom_pair(fe_eeprom_access access, uint8_t low_address, uint32_t value,
                         fe_reader read) {
    ack_reply answers[2] = {NO_ANSWER, NO_ANSWER};
    int sent = 0;
    for (unsigned half = 0; half < 2; half++) {
        uint8_t address = static_cast<uint8_t>(low_address + half);
        if (access == FE_EEPROM_WRITE)
            sent = HID_Send_EEPROM_Data(address, static_cast<uint16_t>(value >> (16 * half)));
        else
            sent = HID_Get_EEPROM_Data(address);
        if (read != nullptr)
            answers[half] = read();
        else if (half == 0)
            HID_Pause_After_Report(); // the receiver gets time to take the first report
    }
    if (read == nullptr)
        return {HID_Last_Exchange(), sent, 0, -1};
    ack_reply r = answers[1];
    r.result = worse(answers[0].result, answers[1].result);
    if (access == FE_EEPROM_READ)
        r.value = static_cast<int32_t>((static_cast<uint32_t>(answers[0].value) & 0xFFFFu) +
                                       (static_cast<uint32_t>(answers[1].value) << 16));
    return r;
}

int fe_rf_gain_code(int db) {
    int64_t code = (int64_t{db} - FE_RF_GAIN_LOW_DB) * FE_RF_CODES_PER_STEP / FE_RF_GAIN_STEP_DB;
    return static_cast<int>(code);
}

// ---------------------------------------------------------------------------
// EEPROM values. A 32-bit value takes two words: the low half at the first
// address, the high half at the next. Between the two reports the receiver
// gets time to take the first one (the EEPROM pair above).
// ---------------------------------------------------------------------------

int HID_Get_Main_Clock_Frequency(void) {
    return fe_eeprom_pair(FE_EEPROM_READ, 0, 0, nullptr).value;
}

int HID_Send_Main_Clock_Frequency(uint32_t main_frequency) {
    return fe_eeprom_pair(FE_EEPROM_WRITE, 0, main_frequency, nullptr).value;
}
int HID_Send_Sample_Rate(uint32_t SampleRate) {
    return fe_eeprom_pair(FE_EEPROM_WRITE, 6, SampleRate, nullptr).value;
}
int HID_Send_Diversity_Sample_Rate(uint32_t SampleRate) {
    return fe_eeprom_pair(FE_EEPROM_WRITE, 9, SampleRate, nullptr).value;
}
