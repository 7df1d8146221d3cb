// kestreld's receiver link. It sends the receiver's reports through the
// report builders and reads the answers itself, so that nothing of kestrel's
// console feedback is printed. A report that cannot be written, or a TCP
// link that breaks, closes the link; the next request opens it again, so a
// receiver that was unplugged and plugged in again is found by the request
// after it came back.
#include "rig.h"

#include <cstring>

#include "fe_interface.h"
#include "platform/drive.h"
#include "platform/platform.h"
#include "tcp_shell.h"

namespace {

constexpr unsigned char ANSWER_GENERIC = 6;
constexpr unsigned char ANSWER_FREQUENCY = 7;
constexpr unsigned char CMD_GET_FREQUENCY = 0x01;
constexpr unsigned char CMD_GET_AGC_LEVEL = 0x46;
// The receiver's own trace answer, which can come before any answer.
constexpr unsigned char CMD_TRACE = 28;

const char *rig_ip = nullptr; // null: USB HID, then the drive files
uint16_t rig_port = 0;
bool rig_opened = false;
uint64_t exchange_start = 0;

unsigned exchange_bound_ms(void) {
    return rig_ip != nullptr ? TCP_ANSWER_TIMEOUT_MS : static_cast<unsigned>(HID_READ_TIMEOUT_MS);
}

// What a failed exchange was: a receiver that stayed silent for the whole
// bound timed out; anything that failed sooner is a broken link, which is
// closed so that the next request opens it again.
int exchange_failed(void) {
    uint64_t spent = plat_monotonic_ms() - exchange_start;
    bool silent = spent + 50 >= exchange_bound_ms();
    if (!silent || (rig_ip != nullptr && !tcp_link_open()))
        rig_close();
    return silent ? RIG_ETIMEOUT : RIG_EIO;
}

// Starts an exchange: the receiver must be open.
int begin_exchange(void) {
    if (rig_open() != RIG_OK)
        return RIG_EIO;
    exchange_start = plat_monotonic_ms();
    return RIG_OK;
}

// The result of a report builder: over TCP the exchange happened inside it
// and a failure closed the link's socket.
int after_write(int written) {
    if (rig_ip != nullptr)
        return tcp_link_open() ? RIG_OK : exchange_failed();
    if (written <= 0) {
        // Nothing reached the receiver: the link is gone.
        rig_close();
        return RIG_EIO;
    }
    return RIG_OK;
}

// Reads the answer to the report just sent into `answer` (7 bytes used),
// passing over the receiver's trace answers.
int read_answer(unsigned char *answer) {
    for (int tries = 0; tries < 2; tries++) {
        unsigned char buf[64] = {0};
        if (HID_Read_Data(reinterpret_cast<char *>(buf)) <= 0) {
            // Over TCP the answer came inside the write: a link that is
            // still open got an answer that carries no report.
            if (rig_ip != nullptr && tcp_link_open())
                return RIG_ETIMEOUT;
            return exchange_failed();
        }
        if (buf[0] == ANSWER_GENERIC && buf[1] == CMD_TRACE)
            continue;
        memcpy(answer, buf, 7);
        return RIG_OK;
    }
    return RIG_ETIMEOUT;
}

// One setting: its report is written, then its answer read and ignored.
int finish_setting(int written) {
    int r = after_write(written);
    if (r != RIG_OK)
        return r;
    unsigned char answer[7];
    return read_answer(answer);
}

// One query of command `command`: the value of its generic answer.
int finish_query(int written, unsigned char command, uint32_t *value) {
    int r = after_write(written);
    if (r != RIG_OK)
        return r;
    unsigned char answer[7];
    r = read_answer(answer);
    if (r != RIG_OK)
        return r;
    unsigned char got = 0;
    if (answer[0] == ANSWER_GENERIC) {
        *value = HID_Get_Generic_Report(&got, answer);
        if (got == command)
            return RIG_OK;
    } else if (answer[0] == ANSWER_FREQUENCY && command == CMD_GET_FREQUENCY) {
        *value = HID_Read_Frequency(answer);
        return RIG_OK;
    }
    *value = 0;
    return RIG_OK; // an answer that says nothing about this query
}

} // namespace

void rig_configure(const char *ip, uint16_t port) {
    rig_ip = ip;
    rig_port = port;
}

bool rig_is_open(void) {
    return rig_opened;
}

int rig_open(void) {
    if (rig_opened)
        return RIG_OK;
    if (rig_ip != nullptr) {
        rig_opened = open_tcp_connection(rig_ip, rig_port) == 0;
        return rig_opened ? RIG_OK : RIG_EIO;
    }
    char msg[128] = {0};
    if (HID_Device_Init_HID(msg) == 1) {
        rig_opened = true;
        return RIG_OK;
    }
    static char found[sizeof Gpath_name];
    const char *path = Gpath_name;
    if (path[0] == '\0')
        path = plat_find_receiver_drive(PLAT_MOUNTINFO_PATH, found, sizeof found)
                   ? found
                   : default_path_name;
    rig_opened = HID_Device_Init_MSD(msg, path) == 1;
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
    int r = begin_exchange();
    if (r != RIG_OK)
        return r;
    if (rig_ip != nullptr) {
        // Over TCP the frequency travels as a control message of its own,
        // as kestrel sends it.
        tcp_send_frequency(hz, channel);
        return tcp_link_open() ? RIG_OK : exchange_failed();
    }
    return finish_setting(HID_Set_Frequency(hz, channel));
}

int rig_get_frequency(int channel, uint32_t *hz) {
    int r = begin_exchange();
    if (r != RIG_OK)
        return r;
    return finish_query(HID_Get_Frequency(channel), CMD_GET_FREQUENCY, hz);
}

int rig_set_rf_gain(int channel, int code) {
    int r = begin_exchange();
    if (r != RIG_OK)
        return r;
    return finish_setting(HID_ChangeRF_Gain(channel, code));
}

int rig_get_rf_gains(uint32_t *codes) {
    int r = begin_exchange();
    if (r != RIG_OK)
        return r;
    return finish_query(HID_Get_AGC_Level(0), CMD_GET_AGC_LEVEL, codes);
}

int rig_set_agc_mask(int mask) {
    int r = begin_exchange();
    if (r != RIG_OK)
        return r;
    return finish_setting(HID_Set_Overload_Mode(mask));
}
