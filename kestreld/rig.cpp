// kestreld's receiver link. It sends the receiver's reports through the
// report builders and reads the answers with the quiet answer read, so that nothing of kestrel's
// console feedback is printed. A report that cannot be written, or a TCP
// link that breaks, closes the link; the next request opens it again, so a
// receiver that was unplugged and plugged in again is found by the request
// after it came back.
#include "rig.h"

#include <cstdio>
#include <cstring>

#include "commands.h"
#include "fe_interface.h"
#include "platform/drive.h"
#include "platform/platform.h"
#include "tcp_shell.h"

namespace {

constexpr int ANSWER_GENERIC = 6;
constexpr int CMD_GET_FREQUENCY = 0x01;
constexpr int CMD_GET_AGC_LEVEL = 0x46;
// The receiver's own trace answer, which can come before any answer.
constexpr int CMD_TRACE = 28;

const char *rig_ip = nullptr; // null: USB HID, then the drive files
uint16_t rig_port = 0;
bool rig_opened = false;
bool said_unreachable = false; // the log says that the receiver cannot be opened

// One line in kestreld's log (standard error) when the link changes state.
void log_line(const char *text) {
    fprintf(stderr, "kestreld: %s\n", text);
}

// The status of an exchange that did not end with an answer. A failed link
// is closed, so that the next request opens it again.
int exchange_failed(int how) {
    if (how == FE_LINK_FAILED || HID_Link_Down()) {
        log_line("the link to the receiver failed; the next request opens it again");
        rig_close();
        return how == FE_TIMED_OUT ? RIG_ETIMEOUT : RIG_EIO;
    }
    return RIG_ETIMEOUT;
}

// Reads the answer to the report just written (`written`: the builder's
// result), passing over the receiver's trace answers.
int read_answer(ack_reply *reply) {
    if (HID_Last_Exchange() != FE_ANSWERED)
        return exchange_failed(HID_Last_Exchange());
    for (int tries = 0; tries < 2; tries++) {
        *reply = read_ack_quiet();
        if (reply->result != FE_ANSWERED)
            return exchange_failed(reply->result);
        if (reply->kind != ANSWER_GENERIC || reply->command != CMD_TRACE)
            return RIG_OK;
    }
    return RIG_ETIMEOUT;
}

// One setting: its report has been written; its answer is read and ignored.
int finish_setting(void) {
    ack_reply reply;
    return read_answer(&reply);
}

// One query of command `command`: the value of its generic answer, 0 when
// the receiver answered something else.
int finish_query(int command, uint32_t *value) {
    ack_reply reply;
    int r = read_answer(&reply);
    if (r != RIG_OK)
        return r;
    bool ours = reply.kind == ANSWER_GENERIC && reply.command == command;
    *value = ours ? static_cast<uint32_t>(reply.value) : 0;
    return RIG_OK;
}

} // namespace

void rig_configure(const char *ip, uint16_t port) {
    rig_ip = ip;
    rig_port = port;
}

bool rig_is_open(void) {
    return rig_opened;
}

// Opens the receiver over TCP, or over USB HID and then the drive files.
static bool open_link(void) {
    if (rig_ip != nullptr)
        return open_tcp_connection(rig_ip, rig_port) == 0;
    char msg[128] = {0};
    if (HID_Device_Init_HID(msg) == 1)
        return true;
    static char found[sizeof Gpath_name];
    const char *path = Gpath_name;
    if (path[0] == '\0')
        path = plat_find_receiver_drive(found, sizeof found) ? found : default_path_name;
    return HID_Device_Init_MSD(msg, path) == 1;
}

int rig_open(void) {
    if (rig_opened)
        return RIG_OK;
    rig_opened = open_link();
    if (rig_opened && said_unreachable)
        log_line("the receiver is open again");
    if (!rig_opened && !said_unreachable)
        log_line("the receiver cannot be opened; each request tries again");
    said_unreachable = !rig_opened;
    return rig_opened ? RIG_OK : RIG_EIO;
}

void rig_close(void) {
    if (rig_ip != nullptr) {
        close_tcp();
        hid_change_tcp_network_flag(0);
    } else {
        HID_Close();
        hid_status = 0;
    }
    rig_opened = false;
}

int rig_set_frequency(int channel, uint32_t hz) {
    if (rig_open() != RIG_OK)
        return RIG_EIO;
    if (rig_ip != nullptr) {
        // Over TCP the frequency travels as a control message of its own,
        // as kestrel sends it.
        tcp_send_frequency(hz, channel);
        return tcp_last_result() == FE_ANSWERED ? RIG_OK : exchange_failed(tcp_last_result());
    }
    HID_Set_Frequency(hz, channel);
    return finish_setting();
}

int rig_get_frequency(int channel, uint32_t *hz) {
    if (rig_open() != RIG_OK)
        return RIG_EIO;
    HID_Get_Frequency(channel);
    return finish_query(CMD_GET_FREQUENCY, hz);
}

int rig_set_rf_gain(int channel, int code) {
    if (rig_open() != RIG_OK)
        return RIG_EIO;
    HID_ChangeRF_Gain(channel, code);
    return finish_setting();
}

int rig_get_rf_gains(uint32_t *codes) {
    if (rig_open() != RIG_OK)
        return RIG_EIO;
    HID_Get_AGC_Level(0);
    return finish_query(CMD_GET_AGC_LEVEL, codes);
}

int rig_set_agc_mask(int mask) {
    if (rig_open() != RIG_OK)
        return RIG_EIO;
    HID_Set_Overload_Mode(mask);
    return finish_setting();
}
