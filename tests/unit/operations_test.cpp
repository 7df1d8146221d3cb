// SPDX-License-Identifier: MIT
// The quiet operations layer: what each result says, over the drive files
// (a temporary directory) and a loopback port where nothing listens.
#include "fe_interface.h"
#include "fe_operations.h"
#include "loopback.h"
#include "tcp_shell.h"

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <string>

#include <stdlib.h>

namespace {

std::string new_drive(bool with_files) {
    char tmpl[] = "/tmp/kestrel-ops-XXXXXX";
    std::string d = std::string(mkdtemp(tmpl)) + "/";
    for (const char *name : {"command.in", "command.out"})
        if (with_files)
            std::ofstream(d + name, std::ios::binary) << std::string(512, '\0');
    return d;
}

TEST(Operations, OpenSaysWhyItFailedAndPrintsNothing) {
    const uint16_t closed_port = loopback::unused_port();
    struct {
        const char *what;
        bool tcp, files;
        int expected;
    } cases[] = {
        {"drive with its files", false, true, FE_OPEN_OK},
        {"drive without its files", false, false, FE_OPEN_DRIVE_NOT_OPENABLE},
        {"nothing listens", true, false, FE_OPEN_TCP_FAILED},
    };
    for (const auto &c : cases) {
        HID_Reset_Connection_State();
        tcp_reset_link_state();
        HID_Set_Console_Quiet(1);
        tcp_set_console_quiet(1);
        SetMSDPath(new_drive(c.files).c_str());
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        int status = fe_open(c.tcp ? "127.0.0.1" : nullptr, closed_port, nullptr);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << c.what;
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << c.what;
        EXPECT_EQ(status, c.expected) << c.what;
        EXPECT_EQ(fe_link_down(), status != FE_OPEN_OK) << c.what;
        fe_close();
        EXPECT_TRUE(fe_link_down()) << c.what;
    }
    HID_Reset_Connection_State();
    tcp_reset_link_state();
}

// One answer waits in the answer file; the operation's second read, if any,
// finds none.
TEST(Operations, ResultsOverTheDriveFiles) {
    using Answer = std::array<unsigned char, 6>;
    struct {
        const char *what;
        Answer answer; // all zero: none
        bool closed;
        int op; // 0 query 0x01, 1 EEPROM read pair at 0
        ack_reply expected;
        bool ours;
    } cases[] = {
        {"the answer asked for",
         {6, 0x01, 4, 3, 2, 1},
         false,
         0,
         {FE_ANSWERED, 0x01020304, 6, 1},
         true},
        {"another answer",
         {6, 0x46, 4, 3, 2, 1},
         false,
         0,
         {FE_ANSWERED, 0x01020304, 6, 0x46},
         false},
        {"a trace, then nothing", {6, FE_CMD_TRACE, 1}, false, 0, {FE_TIMED_OUT, -1, 0, -1}, false},
        {"frequency answer", {7, 1, 2}, false, 0, {FE_ANSWERED, 0, 7, -1}, false},
        {"second half unanswered",
         {6, 0x55, 0x34, 0x12, 0x78, 0x56},
         false,
         1,
         {FE_TIMED_OUT, static_cast<int32_t>(0xFFFF1234u), 0, -1},
         false},
        {"nothing open", {}, true, 0, {FE_LINK_FAILED, -1, 0, -1}, false},
    };
    for (const auto &c : cases) {
        HID_Reset_Connection_State();
        HID_Set_Console_Quiet(1);
        std::string drive = new_drive(true);
        char msg[128] = {0};
        ASSERT_EQ(HID_Device_Init_MSD(msg, drive.c_str()), 1);
        // Written after the open, which clears an answer left from before.
        std::fstream(drive + "command.in", std::ios::binary | std::ios::in | std::ios::out)
            .write(reinterpret_cast<const char *>(c.answer.data()), c.answer.size());
        if (c.closed)
            fe_close();
        ack_reply r =
            c.op == 0 ? fe_query(0x01, 0) : fe_eeprom_pair(FE_EEPROM_READ, 0, 0, fe_read_answer);
        EXPECT_EQ(r.result, c.expected.result) << c.what;
        EXPECT_EQ(r.value, c.expected.value) << c.what;
        EXPECT_EQ(r.kind, c.expected.kind) << c.what;
        EXPECT_EQ(r.command, c.expected.command) << c.what;
        EXPECT_EQ(fe_answers(r, 0x01), c.ours) << c.what;
    }
    HID_Reset_Connection_State();
}

} // namespace
