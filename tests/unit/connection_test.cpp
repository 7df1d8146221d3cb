// SPDX-License-Identifier: MIT
// The connection to the receiver, exercised in-process over the drive files
// of a scratch directory and through the tunnel hooks.
#include "commands.h"
#include "fe_interface.h"
#include "platform/platform.h"
#include "tcp_shell.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using Sector = std::array<unsigned char, 512>;

std::string make_drive() {
    char tmpl[] = "/tmp/kestrel-drive-XXXXXX";
    const char *dir = mkdtemp(tmpl);
    EXPECT_NE(dir, nullptr);
    std::string d = std::string(dir) + "/";
    for (const char *name : {"command.in", "command.out"}) {
        std::ofstream f(d + name, std::ios::binary);
        Sector zero{};
        f.write(reinterpret_cast<const char *>(zero.data()), zero.size());
    }
    return d;
}

Sector read_sector(const std::string &path) {
    Sector s{};
    std::ifstream f(path, std::ios::binary);
    f.read(reinterpret_cast<char *>(s.data()), s.size());
    return s;
}

void write_sector(const std::string &path, const Sector &s) {
    std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
    f.write(reinterpret_cast<const char *>(s.data()), s.size());
}

class DriveFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        drive = make_drive();
        char msg[128] = {0};
        ASSERT_EQ(HID_Device_Init_MSD(msg, drive.c_str()), 1);
        EXPECT_STREQ(msg, "TALMIR MSD Device");
        EXPECT_EQ(hid_status, 2);
        EXPECT_EQ(HID_COMMAND_SIZE, 7);
    }
    void TearDown() override { HID_Close(); }
    std::string drive;
};

TEST_F(DriveFiles, RequestGoesIntoTheFirstSectorOfTheRequestFile) {
    unsigned char report[7] = {0x03, 0x20, 0x26, 0xD7, 0x00, 0x01, 0x00};
    EXPECT_GT(HID_Write_Data(report), 0);
    EXPECT_EQ(hid_command_send_state, 1);
    Sector s = read_sector(drive + "command.out");
    EXPECT_EQ(std::vector<unsigned char>(s.begin(), s.begin() + 7),
              std::vector<unsigned char>(report, report + 7));
    for (size_t i = 7; i < s.size(); i++)
        ASSERT_EQ(s[i], 0) << "byte " << i;
}

TEST_F(DriveFiles, AnswerIsTakenAndOnlyItsFirstByteCleared) {
    Sector answer{};
    for (size_t i = 0; i < answer.size(); i++)
        answer[i] = static_cast<unsigned char>(i * 7 + 1);
    answer[0] = 6;
    write_sector(drive + "command.in", answer);
    hid_command_send_state = 1;
    char buf[64] = {0};
    EXPECT_GT(HID_Read_Data(buf), 0);
    EXPECT_EQ(0, memcmp(buf, answer.data(), 7));
    EXPECT_EQ(hid_command_send_state, 0);
    Sector after = read_sector(drive + "command.in");
    Sector expected = answer;
    expected[0] = 0;
    EXPECT_EQ(after, expected);
}

TEST_F(DriveFiles, ReceiverThatNeverAnswersEndsAsATimeOut) {
    char buf[64];
    buf[0] = 9;
    uint64_t start = plat_monotonic_ms();
    EXPECT_EQ(HID_Read_Data(buf), -1);
    uint64_t took = plat_monotonic_ms() - start;
    EXPECT_EQ(buf[0], 0);
    EXPECT_GE(took, 900u);
    EXPECT_LT(took, 5000u); // bounded, not forever
}

// The quiet answer read gives what the answer wait gives, and how the read
// ended, and prints nothing.
TEST_F(DriveFiles, QuietReadTellsAnswerTimeOutAndFailedLink) {
    struct Case {
        const char *what;
        Sector answer; // all zero: none
        bool close_first;
        ack_reply expected;
        int link_down;
    } cases[] = {
        {"generic", {6, 0x5D, 1, 2, 3, 4}, false, {FE_ANSWERED, 0x04030201, 6, 0x5D}, 0},
        {"frequency", {7, 1, 2, 3, 4}, false, {FE_ANSWERED, 0, 7, -1}, 0},
        {"silent", {}, false, {FE_TIMED_OUT, -1, 0, -1}, 0},
        {"closed", {}, true, {FE_LINK_FAILED, -1, 0, -1}, 1},
    };
    for (const Case &c : cases) {
        write_sector(drive + "command.in", c.answer);
        if (c.close_first)
            HID_Close();
        testing::internal::CaptureStdout();
        ack_reply r = read_ack_quiet();
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << c.what;
        EXPECT_EQ(r.result, c.expected.result) << c.what;
        EXPECT_EQ(r.value, c.expected.value) << c.what;
        EXPECT_EQ(r.kind, c.expected.kind) << c.what;
        EXPECT_EQ(r.command, c.expected.command) << c.what;
        EXPECT_EQ(HID_Link_Down(), c.link_down) << c.what;
    }
}

// A receiver that restarts in the other USB mode ends the run by returning:
// a long-running program goes on.
TEST_F(DriveFiles, UsbModeThatRestartsTheReceiverReturns) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(set_usb_mode(2), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "SDR will be restarted in OpenHPSDR mode!\n\r");
}

TEST_F(DriveFiles, SecondOpenerOfTheSameDriveIsRefused) {
    plat_file other;
    EXPECT_FALSE(plat_file_open_exclusive((drive + "command.in").c_str(), &other));
    EXPECT_FALSE(plat_file_valid(&other));
}

TEST_F(DriveFiles, PauseIsOneSecondAfterAWriteOnly) {
    hid_command_send_state = 0;
    uint64_t start = plat_monotonic_ms();
    EXPECT_EQ(HID_Pause_After_Report(), 0);
    EXPECT_LT(plat_monotonic_ms() - start, 50u);
    unsigned char report[7] = {0x02, 0x0E};
    ASSERT_GT(HID_Write_Data(report), 0);
    start = plat_monotonic_ms();
    EXPECT_EQ(HID_Pause_After_Report(), -1);
    EXPECT_GE(plat_monotonic_ms() - start, 1000u);
}

// Closing and resetting both release the drive, so that it can be opened
// again by this process (a reconnect) or by another one.
TEST_F(DriveFiles, CloseAndResetReleaseTheDriveForTheNextOpen) {
    for (const char *how : {"close", "reset"}) {
        if (how[0] == 'c') {
            EXPECT_EQ(HID_Close(), 0);
        } else {
            SetMSDPath(drive.c_str());
            HID_Reset_Connection_State();
            EXPECT_EQ(Gpath_name[0], '\0') << how;
        }
        EXPECT_EQ(hid_status, 0) << how;
        for (const char *name : {"command.in", "command.out"}) {
            plat_file f;
            EXPECT_TRUE(plat_file_open_exclusive((drive + name).c_str(), &f)) << how << name;
            plat_file_close(&f);
        }
        SetMSDPath(drive.c_str());
        char msg[128] = {0};
        testing::internal::CaptureStdout();
        EXPECT_EQ(HID_Device_Init_MSD(msg, drive.c_str()), 1) << how;
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(hid_status, 2) << how;
    }
}

TEST(DriveOpen, FailuresLeaveNoTransportOpen) {
    std::string drive = make_drive();
    ASSERT_EQ(unlink((drive + "command.out").c_str()), 0);
    char msg[128] = {0};
    testing::internal::CaptureStderr();
    EXPECT_EQ(HID_Device_Init_MSD(msg, drive.c_str()), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Output file error 2\n\r");
    EXPECT_STREQ(msg, "Unable to open Output device!\r\n");
    EXPECT_EQ(hid_status, 0);
    // The answer file was released again: another opener gets it.
    plat_file f;
    EXPECT_TRUE(plat_file_open_exclusive((drive + "command.in").c_str(), &f));
    plat_file_close(&f);

    std::string missing = drive + "nowhere/";
    memset(msg, 0, sizeof msg);
    testing::internal::CaptureStderr();
    EXPECT_EQ(HID_Device_Init_MSD(msg, missing.c_str()), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Input file " + missing + "command.in open  error 2\n\r");
    EXPECT_STREQ(msg, "Unable to open Input device!\r\n");

    std::string too_long(245, 'a');
    memset(msg, 0, sizeof msg);
    testing::internal::CaptureStderr();
    EXPECT_EQ(HID_Device_Init_MSD(msg, too_long.c_str()), 0);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("too long"), std::string::npos);
    EXPECT_STREQ(msg, "Unable to open Input device!\r\n");
}

TEST(DriveOpen, LinksAndOtherNonRegularFilesAreRefused) {
    std::string victim = make_drive() + "victim";
    std::ofstream(victim) << "precious";
    struct {
        const char *file;
        const char *kind;
        const char *error_line;
    } cases[] = {
        {"command.in", "link", "Input file %scommand.in open  error 40\n\r"},
        {"command.out", "link", "Output file error 40\n\r"},
        {"command.in", "fifo", "Input file %scommand.in open  error 22\n\r"},
        {"command.out", "directory", "Output file error 21\n\r"},
    };
    for (const auto &c : cases) {
        std::string drive = make_drive();
        std::string name = drive + c.file;
        ASSERT_EQ(unlink(name.c_str()), 0);
        std::string kind = c.kind;
        ASSERT_EQ(kind == "link"   ? symlink(victim.c_str(), name.c_str())
                  : kind == "fifo" ? mkfifo(name.c_str(), 0600)
                                   : mkdir(name.c_str(), 0700),
                  0);
        char msg[128] = {0};
        char error_line[512];
        snprintf(error_line, sizeof error_line, c.error_line, drive.c_str());
        testing::internal::CaptureStderr();
        EXPECT_EQ(HID_Device_Init_MSD(msg, drive.c_str()), 0) << c.file << " " << kind;
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "The drive file " + name + " is a link or not a regular file: not opened\n" +
                      error_line);
        EXPECT_EQ(hid_status, 0);
    }
    // A drive directory reached through a link is fine: only the files count.
    std::string drive = make_drive();
    std::string link = drive.substr(0, drive.size() - 1) + "-link";
    ASSERT_EQ(symlink(drive.c_str(), link.c_str()), 0);
    char msg[128] = {0};
    EXPECT_EQ(HID_Device_Init_MSD(msg, (link + "/").c_str()), 1);
    std::ifstream in(victim);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "precious");
}

TEST(ConnectionSettings, TextsAreCutTo255Characters) {
    std::string path(400, 'p');
    EXPECT_EQ(SetMSDPath(path.c_str()), 0);
    EXPECT_EQ(strlen(Gpath_name), 255u);
    MSD_Envy_Init();
    EXPECT_EQ(Gpath_name[0], '\0');

    EXPECT_EQ(Set_USB_Serial_number(nullptr), -1);
    EXPECT_EQ(SerialNumber, nullptr);
    std::wstring serial(400, L's');
    EXPECT_EQ(Set_USB_Serial_number(serial.data()), 0);
    EXPECT_EQ(SerialNumber, USB_Serial_number);
    EXPECT_EQ(wcslen(USB_Serial_number), 255u);
}

TEST(Tunnel, StoredAnswerIsTakenOnceAndOnlyWhenItIsAnAnswer) {
    hid_change_tcp_network_flag(1);
    char msg[40];
    for (int i = 0; i < 40; i++)
        msg[i] = static_cast<char>(0x40 + i);
    msg[0] = 9;
    msg[1] = static_cast<char>(0xE0);

    struct {
        const char *what;
        int size;
        int byte0;
        int byte1;
        int result;
    } cases[] = {
        {"answer", 9, 9, 0xE0, 7},
        {"type 7 but consumed", 9, 0, 0xE0, 0},
        {"control item answer", 9, 9, 0x00, 0},
        {"type 6", 9, 9, 0xC0, 0},
    };
    for (const auto &c : cases) {
        memset(hid_tcp_packet, 0, sizeof hid_tcp_packet);
        msg[0] = static_cast<char>(c.byte0);
        msg[1] = static_cast<char>(c.byte1);
        hid_save_recieved_tcp_packet(msg, c.size);
        char buf[64];
        buf[0] = 1;
        EXPECT_EQ(HID_Read_Data(buf), c.result) << c.what;
        if (c.result > 0) {
            EXPECT_EQ(0, memcmp(buf, msg + 2, 7)) << c.what;
            EXPECT_EQ(HID_Read_Data(buf), 0) << c.what << ": second read";
        }
        EXPECT_EQ(buf[0], 0) << c.what;
    }

    // At most 32 bytes are kept; a size of 0 or less keeps nothing.
    memset(hid_tcp_packet, 0xAA, sizeof hid_tcp_packet);
    hid_save_recieved_tcp_packet(msg, 0);
    hid_save_recieved_tcp_packet(msg, -3);
    hid_save_recieved_tcp_packet(nullptr, 9);
    EXPECT_EQ(hid_tcp_packet[0], 0xAA);
    hid_save_recieved_tcp_packet(msg, 40);
    EXPECT_EQ(0, memcmp(hid_tcp_packet, msg, 32));
    hid_change_tcp_network_flag(0);
}

// The flags of the three transports are views of the one open transport:
// setting one chooses it, and the other reads as the flag of that choice.
TEST(Transport, FlagsChooseTheOneOpenTransport) {
    const struct {
        int tunnel; // 1: set hid_tcp_network_flag, 0: hid_status
        int value;
        const char *name;
        int status, flag;
    } steps[] = {
        {0, 2, "drive files", 2, 0}, {1, 1, "TCP tunnel", 0, 1}, {0, 0, "TCP tunnel", 0, 1},
        {1, 0, "none", 0, 0},        {0, 1, "USB HID", 1, 0},    {1, 0, "USB HID", 1, 0},
        {0, 0, "none", 0, 0},
    };
    for (const auto &s : steps) {
        (s.tunnel ? hid_tcp_network_flag : hid_status) = s.value;
        EXPECT_STREQ(HID_Transport_Name(), s.name) << s.tunnel << " " << s.value;
        EXPECT_EQ(static_cast<int>(hid_status), s.status) << s.name;
        EXPECT_EQ(static_cast<int>(hid_tcp_network_flag), s.flag) << s.name;
    }
}

TEST(NoTransport, ReadsAndWritesDoNothing) {
    unsigned char report[7] = {2, 1};
    char buf[8] = {5};
    EXPECT_EQ(HID_Write_Data(report), 0);
    EXPECT_EQ(HID_Read_Data(buf), 0);
    EXPECT_EQ(buf[0], 0);
    EXPECT_EQ(HID_Close(), 0);
    EXPECT_EQ(HID_Close(), 0);
}

} // namespace
