// SPDX-License-Identifier: MIT
// Fuzz target: decoding the receiver's answers. HID_wait_For_ACK,
// HID_Read_Data and HID_Get_Generic_Report on arbitrary answers, arriving
// through the TCP tunnel's stored packet, over USB HID, or through the
// drive's answer file.
//
// Input: byte 0 chooses the transport (bits 0-1: tunnel, HID, drive) and
// the report size (bit 2: 5 bytes, else 7). The rest is a series of
// answers: over the tunnel each is a length byte and that many bytes,
// handed to the link's store hook as a received message; over HID and the
// drive the rest scripts the receiver (fake_receiver.h).
//
// What must hold, besides no memory error or undefined behaviour: over the
// tunnel every stored message gives exactly the value that decoding it by
// hand gives (only the report size's bytes of the answer count, the rest of
// the answer buffer is zero), an answer is taken once, and a message that
// is not a tunnel answer gives the time-out value -1; HID_Get_Generic_Report
// returns bytes 2 to 5, least significant first, and the code in byte 1.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "commands.h"
#include "fake_hidapi.h"
#include "fake_platform.h"
#include "fake_receiver.h"
#include "fe_interface.h"
#include "run_state.h"
#include "tcp_shell.h"

namespace {

[[noreturn]] void fail(const char *what) {
    fprintf(stderr, "answer_fuzz: %s\n", what);
    abort();
}

uint32_t le32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The value of a stored tunnel message, decoded by hand.
int32_t expected_value(const uint8_t *message, size_t length, int report_size) {
    uint8_t packet[32] = {0};
    memcpy(packet, message, length < sizeof packet ? length : sizeof packet);
    if (packet[0] == 0 || (packet[1] & 0xE0) != 0xE0)
        return -1;
    uint8_t answer[64] = {0};
    memcpy(answer, packet + 2, static_cast<size_t>(report_size));
    if (answer[0] == 6)
        return static_cast<int32_t>(le32(answer + 2));
    return 0;
}

void check_generic_report(const uint8_t *data, size_t size) {
    uint8_t buf[64] = {0};
    memcpy(buf, data, size < sizeof buf ? size : sizeof buf);
    unsigned char command = 0;
    uint32_t value = HID_Get_Generic_Report(&command, buf);
    if (command != buf[1] || value != le32(buf + 2))
        fail("HID_Get_Generic_Report decodes another value");
}

void tunnel(const uint8_t *data, size_t size, int report_size) {
    hid_change_tcp_network_flag(1);
    size_t pos = 0;
    while (pos < size) {
        size_t length = data[pos++];
        length = length < size - pos ? length : size - pos;
        // The link hands over the message as it received it.
        uint8_t message[256];
        memcpy(message, data + pos, length);
        pos += length;
        memset(hid_tcp_packet, 0, sizeof hid_tcp_packet);
        hid_save_recieved_tcp_packet(reinterpret_cast<char *>(message), static_cast<int>(length));
        int32_t got = HID_wait_For_ACK();
        if (got != expected_value(message, length, report_size))
            fail("a tunnel answer decodes to another value");
        char again[64];
        if (HID_Read_Data(again) != 0 || again[0] != 0)
            fail("a tunnel answer was taken twice");
        check_generic_report(message, length);
    }
}

void local(const uint8_t *data, size_t size, int transport, int report_size) {
    // An identity of the wanted report size (0483:5932 sends 5 bytes,
    // 255D:0002 sends 7), or none at all for the drive.
    fuzz::hid_configure(transport == 1 ? (report_size == 5 ? 0x00 : 0x01) : 0x04);
    fuzz::drive_configure(0);
    char msg[128] = {0};
    if (transport == 1 ? !HID_Device_Init_HID(msg) : !HID_Device_Init_MSD(msg, "/fuzz/"))
        fail("the receiver did not open");
    fuzz::script_begin(data, size);
    // A request first, so that the model has an answer waiting.
    for (int i = 0; i < 16 && fuzz::script_left() > 0; i++) {
        uint8_t report[7] = {0x02, static_cast<uint8_t>(fuzz::script_byte(0x09))};
        HID_Write_Data(report);
        HID_wait_For_ACK();
    }
    HID_Close();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::silence_stdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1)
        return 0;
    fuzz::receiver_reset();
    fuzz::reset_connection_state();
    const int transport = data[0] & 0x03;
    const int report_size = (data[0] & 0x04) ? 5 : 7;
    HID_COMMAND_SIZE = report_size;
    check_generic_report(data + 1, size - 1);
    if (transport == 0 || transport == 3)
        tunnel(data + 1, size - 1, report_size);
    else
        local(data + 1, size - 1, transport, report_size);
    return 0;
}
