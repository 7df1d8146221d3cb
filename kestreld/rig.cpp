// kestreld's receiver link. It goes through the quiet operations layer, so
// that nothing of kestrel's console feedback is printed, and turns each
// result into Hamlib's status code. A report that cannot be written, or a
// TCP link that breaks, closes the link; the next request opens it again, so
// a receiver that was unplugged and plugged in again is found by the
// request after it came back.
#include "rig.h"

#include <cstdio>

#include "fe_operations.h"

namespace {

constexpr uint8_t CMD_GET_FREQUENCY = 0x01;
constexpr uint8_t CMD_GET_AGC_LEVEL = 0x46;

const char *rig_ip = nullptr; // null: USB HID, then the drive files
uint16_t rig_port = 0;
bool rig_opened = false;
bool said_unreachable = false; // the log says that the receiver cannot be opened

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
        log_line("the link to the receiver failed; the next request opens it again");
        rig_close();
        return r.result == FE_TIMED_OUT ? RIG_ETIMEOUT : RIG_EIO;
    }
    return RIG_ETIMEOUT;
}

// One query of command `command`: the value of its generic answer, 0 when
// the receiver answered something else.
int query(uint8_t command, uint8_t parameter, uint32_t *value) {
    ack_reply r = fe_query(command, parameter);
    int status = status_of(r);
    if (status == RIG_OK)
        *value = fe_answers(r, command) ? static_cast<uint32_t>(r.value) : 0;
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
    return rig_opened ? RIG_OK : RIG_EIO;
}

void rig_close(void) {
    fe_close();
    rig_opened = false;
}

int rig_set_frequency(int channel, uint32_t hz) {
    if (rig_open() != RIG_OK)
        return RIG_EIO;
    return status_of(fe_set_frequency(hz, channel));
}

int rig_get_frequency(int channel, uint32_t *hz) {
    if (rig_open() != RIG_OK)
        return RIG_EIO;
    return query(CMD_GET_FREQUENCY, static_cast<uint8_t>(channel), hz);
}

int rig_set_rf_gain(int channel, int code) {
    if (rig_open() != RIG_OK)
        return RIG_EIO;
    return status_of(fe_set_rf_gain(channel, code));
}

int rig_get_rf_gains(uint32_t *codes) {
    if (rig_open() != RIG_OK)
        return RIG_EIO;
    return query(CMD_GET_AGC_LEVEL, 0, codes);
}

int rig_set_agc_mask(int mask) {
    if (rig_open() != RIG_OK)
        return RIG_EIO;
    return status_of(fe_set_agc_mask(mask));
}
