// SPDX-License-Identifier: MIT
// The answer a tunnelled report reads is made of the message received for
// that report alone: nothing stored before the report went out, and no
// bytes of an earlier, longer message. (Found by the tcp_receive fuzz
// target; its inputs control_answered_as_tunnel and short_type7.)
#include "fe_interface.h"
#include "tcp_shell.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

class TunnelAnswer : public ::testing::Test {
  protected:
    void SetUp() override {
        memset(hid_tcp_packet, 0, sizeof hid_tcp_packet);
        HID_COMMAND_SIZE = 7;
        hid_change_tcp_network_flag(1);
    }
    void TearDown() override {
        hid_change_tcp_network_flag(0);
        memset(hid_tcp_packet, 0, sizeof hid_tcp_packet);
    }
    static void receive(Bytes message) {
        hid_save_recieved_tcp_packet(reinterpret_cast<char *>(message.data()),
                                     static_cast<int>(message.size()));
    }
    // The answer that the next read takes, or nothing.
    static Bytes read_answer() {
        char buf[64] = {0};
        int n = HID_Read_Data(buf);
        return n > 0 ? Bytes(buf, buf + n) : Bytes{};
    }
};

// A receiver that answers a control item with a tunnel message leaves it
// stored. The next report's exchange fails (here: there is no link at all),
// and its read must find no answer rather than that one.
TEST_F(TunnelAnswer, StoredBeforeTheReportIsNotItsAnswer) {
    receive({0x09, 0xE0, 0x06, 0x5D, 0x34, 0x3A, 0x00, 0x00, 0x00});
    unsigned char report[7] = {0x02, 0x5D};
    EXPECT_EQ(HID_Write_Data(report), 1);
    EXPECT_EQ(read_answer(), Bytes{});
}

TEST_F(TunnelAnswer, ShortMessageKeepsNoBytesOfAnEarlierOne) {
    receive({0x09, 0xE0, 0x06, 0x09, 0x04, 0x03, 0x02, 0x01, 0x00});
    EXPECT_EQ(read_answer(), (Bytes{0x06, 0x09, 0x04, 0x03, 0x02, 0x01, 0x00}));
    receive({0x05, 0xE0, 0x06, 0x09, 0x07});
    EXPECT_EQ(read_answer(), (Bytes{0x06, 0x09, 0x07, 0x00, 0x00, 0x00, 0x00}));
}

} // namespace
