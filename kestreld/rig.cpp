// SPDX-License-Identifier: MIT
// kestreld's receiver link. It goes through the quiet operations layer, so
// that nothing of kestrel's console feedback is printed, and turns each
// result into Hamlib's status code. A report that cannot be written, or a
// TCP link that breaks, closes the link; the next request opens it again, so
// a receiver that was unplugged and plugged in again is found by the
// request after it came back.
#include "rig.h"

#include <cstdio>

#include "fe_interface.h"
#include "fe_operations.h"

namespace {

constexpr uint8_t CMD_GET_FREQUENCY = 0x01;
constexpr uint8_t CMD_SET_RF_GAIN = 0x08;
constexpr uint8_t CMD_SET_AGC_MASK = 0x45;
constexpr uint8_t CMD_GET_AGC_LEVEL = 0x46;
constexpr uint8_t CMD_GET_AGC_STATE = 0x47;
// The frequency report's answer is a frequency answer, not a generic one.
constexpr int FREQUENCY_ANSWER = -1;
// Answers to earlier reports passed over while the answer to this one is
// waited for; each further read is bounded like any other.
constexpr int STRAY_ANSWERS_PASSED = 2;
// The AGC bits of the four channels in the receiver's AGC state.
constexpr uint32_t AGC_CHANNEL_BITS = 0xF;

const char *rig_ip = nullptr; // null: USB HID, then the drive files
uint16_t rig_port = 0;
bool rig_opened = false;
bool said_unreachable = false; // the log says that the receiver cannot be opened
// The AGC mask as the receiver said it since the open, with the changes
// made since; learnt when first needed, so that a receiver that does not
// answer costs no more than before.
bool agc_known = false;
int agc_mask = 0;

// One line in kestreld's log (standard error) when the link changes state.
void log_line(const char *text) {
    fprintf(stderr, "kestreld: %s\n", text);
}

// The status of an exchange. One that did not end with an answer on a link
// that failed closes the link, so that the next request opens it again.
int status_of(const ack_reply &r) {
    if (r.result == FE_ANSWERED)
        return RIG_OK;
    if (r.result == FE_LINK_FAILED || fe_link_down()) {
        // The transport and its own words, when it has any, before the
        // close forgets them.
        char line[256];
        const char *why = HID_Transport_Error();
        if (why[0] != '\0')
            snprintf(line, sizeof line,
                     "the link to the receiver failed; the next request opens it again (%s: %s)",
                     HID_Transport_Name(), why);
        else
            snprintf(line, sizeof line,
                     "the link to the receiver failed; the next request opens it again");
        log_line(line);
        rig_close();
        return r.result == FE_TIMED_OUT ? RIG_ETIMEOUT : RIG_EPOWER;
    }
    return RIG_ETIMEOUT;
}

// True when `r` is an answer that report `command` gets: the generic answer
// to that command, or for FREQUENCY_ANSWER a frequency answer (the frequency
// report's, over TCP the control message's, which has none).
bool answers_report(const ack_reply &r, int command) {
    if (command == FREQUENCY_ANSWER)
        return r.kind == FE_ANSWER_FREQUENCY || (rig_ip != nullptr && r.kind == 0);
    return fe_answers(r, command);
}

// The answer that belongs to report `command`. An answer of another kind
// came late for an earlier report: over USB HID and the drive the answer
// is read again, a few times at most; a reply never carries another
// report's answer, so without its own answer the exchange timed out. Over
// TCP each answer comes inside its own message: one of another kind is
// refused at once.
ack_reply own_answer(ack_reply r, int command) {
    for (int passed = 0; r.result == FE_ANSWERED && !answers_report(r, command); passed++) {
        if (rig_ip != nullptr || passed == STRAY_ANSWERS_PASSED)
            return {FE_TIMED_OUT, -1, 0, -1};
        r = read_ack_quiet();
    }
    return r;
}

// Opens the receiver when it is not open, and before each report drops an
// answer that is already waiting: it came late for an earlier report, or
// after an outage, and belongs to none that is about to be sent.
bool ready(void) {
    if (rig_open() != RIG_OK)
        return false;
    fe_drain();
    return true;
}

// One query of command `command`: the value of its generic answer. A
// frequency query answered with a frequency answer carries no frequency:
// 0.
int query(uint8_t command, uint8_t parameter, uint32_t *value) {
    ack_reply r = fe_query(command, parameter);
    if (command == CMD_GET_FREQUENCY && r.result == FE_ANSWERED && r.kind == FE_ANSWER_FREQUENCY)
        r.value = 0;
    else
        r = own_answer(r, command);
    int status = status_of(r);
    if (status == RIG_OK)
        *value = r.kind == FE_ANSWER_GENERIC ? static_cast<uint32_t>(r.value) : 0;
    return status;
}

// Opens the receiver and learns its AGC mask from its AGC state (the query
// that -V shows) once after each open.
int agc_ready(void) {
    if (!ready())
        return RIG_EPOWER;
    if (agc_known)
        return RIG_OK;
    uint32_t state = 0;
    int status = query(CMD_GET_AGC_STATE, 0, &state);
    if (status == RIG_OK) {
        agc_mask = static_cast<int>(state & AGC_CHANNEL_BITS);
        agc_known = true;
        fe_drain();
    }
    return status;
}

} // namespace

void rig_configure(const char *ip, uint16_t port) {
    rig_ip = ip;
    rig_port = port;
}

int rig_open(void) {
    if (rig_opened)
        return RIG_OK;
    rig_opened = fe_open(rig_ip, rig_port, nullptr) == FE_OPEN_OK;
    if (rig_opened && said_unreachable)
        log_line("the receiver is open again");
    if (!rig_opened && !said_unreachable)
        log_line("the receiver cannot be opened; each request tries again");
    said_unreachable = !rig_opened;
    agc_known = false;
    return rig_opened ? RIG_OK : RIG_EPOWER;
}

void rig_close(void) {
    fe_close();
    rig_opened = false;
}

int rig_set_frequency(int channel, uint32_t hz) {
    if (!ready())
        return RIG_EPOWER;
    return status_of(own_answer(fe_set_frequency(hz, channel), FREQUENCY_ANSWER));
}

int rig_get_frequency(int channel, uint32_t *hz) {
    if (!ready())
        return RIG_EPOWER;
    return query(CMD_GET_FREQUENCY, static_cast<uint8_t>(channel), hz);
}

int rig_set_rf_gain(int channel, int code) {
    if (!ready())
        return RIG_EPOWER;
    return status_of(own_answer(fe_set_rf_gain(channel, code), CMD_SET_RF_GAIN));
}

int rig_get_rf_gains(uint32_t *codes) {
    if (!ready())
        return RIG_EPOWER;
    return query(CMD_GET_AGC_LEVEL, 0, codes);
}

int rig_set_agc(int channel, bool on) {
    int status = agc_ready();
    if (status != RIG_OK)
        return status;
    int bit = 1 << channel;
    int mask = on ? (agc_mask | bit) : (agc_mask & ~bit);
    status = status_of(own_answer(fe_set_agc_mask(mask), CMD_SET_AGC_MASK));
    if (status == RIG_OK)
        agc_mask = mask;
    return status;
}

int rig_get_agc(int channel, bool *on) {
    int status = agc_ready();
    if (status != RIG_OK)
        return status;
    *on = ((agc_mask >> channel) & 1) != 0;
    return RIG_OK;
}
