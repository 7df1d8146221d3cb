// SPDX-License-Identifier: MIT
// The bytes of every front-end report, read back from the request file of a
// receiver drive made of two plain files in a temporary directory.
#include "fe_interface.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

using Report = std::array<unsigned char, 7>;

std::string hex(const Report &r) {
    std::string s;
    char b[4];
    for (unsigned char c : r) {
        snprintf(b, sizeof b, "%02X ", c);
        s += b;
    }
    return s;
}

// Each test opens the drive transport over two fresh files and closes it
// again, so that no test finds the connection as another one left it.
class ReportBytes : public ::testing::Test {
  protected:
    static std::string dir;

    void SetUp() override {
        char tmpl[] = "/tmp/kestrel-reports-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = std::string(tmpl) + "/";
        for (const char *name : {"command.in", "command.out"}) {
            std::vector<char> zeros(512, 0);
            FILE *f = fopen((dir + name).c_str(), "wb");
            ASSERT_NE(f, nullptr);
            ASSERT_EQ(fwrite(zeros.data(), 1, zeros.size(), f), zeros.size());
            fclose(f);
        }
        char msg[128] = {0};
        ASSERT_EQ(HID_Device_Init_MSD(msg, dir.c_str()), 1);
        ASSERT_EQ(hid_status, 2);
    }
    void TearDown() override {
        HID_Reset_Connection_State();
        unlink((dir + "command.in").c_str());
        unlink((dir + "command.out").c_str());
        rmdir(dir.c_str());
    }

    // The first bytes of the request sector, as the receiver would read them.
    static Report request() {
        Report r{};
        unsigned char sector[512] = {0};
        int fd = open((dir + "command.out").c_str(), O_RDONLY);
        if (fd >= 0) {
            if (pread(fd, sector, sizeof sector, 0) != static_cast<ssize_t>(sizeof sector))
                sector[0] = 0xEE;
            close(fd);
        }
        std::copy(sector, sector + r.size(), r.begin());
        return r;
    }

    // Clears the request sector so that a builder that writes nothing shows.
    static void clear_request() {
        unsigned char sector[512] = {0};
        int fd = open((dir + "command.out").c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(pwrite(fd, sector, sizeof sector, 0), static_cast<ssize_t>(sizeof sector));
        close(fd);
    }
};
std::string ReportBytes::dir;

struct BuilderCase {
    const char *what;
    std::function<int()> build;
    Report bytes;
};

TEST_F(ReportBytes, EveryBuilderLaysOutItsReport) {
    const BuilderCase cases[] = {
        // Shared builders and EEPROM words.
        {"generic no param",
         [] { return HID_Send_Generic_Command_No_Param(0x77); },
         {0x02, 0x77, 0, 0, 0, 0, 0}},
        {"generic long",
         [] { return HID_Send_Generic_Long_Data(0x42, 0xA1B2C3D4u); },
         {0x02, 0x42, 0xD4, 0xC3, 0xB2, 0xA1, 0}},
        {"eeprom write",
         [] { return HID_Send_EEPROM_Data(7, 0x0002); },
         {0x01, 0x56, 0x07, 0x02, 0x00, 0, 0}},
        {"eeprom write word",
         [] { return HID_Send_EEPROM_Data(0xFE, 0xBEEF); },
         {0x01, 0x56, 0xFE, 0xEF, 0xBE, 0, 0}},
        {"eeprom read", [] { return HID_Get_EEPROM_Data(27); }, {0x02, 0x55, 0x1B, 0, 0, 0, 0}},
        // Frequency report.
        {"frequency",
         [] { return HID_Set_Frequency(14100000, 0); },
         {0x03, 0x20, 0x26, 0xD7, 0x00, 0x00, 0}},
        {"frequency top bit, channel 3",
         [] { return HID_Set_Frequency(0xFEDCBA98u, 3); },
         {0x03, 0x98, 0xBA, 0xDC, 0xFE, 0x03, 0}},
        {"frequency channel 256",
         [] { return HID_Set_Frequency(1, 256); },
         {0x03, 0x01, 0, 0, 0, 0x00, 0}},
        {"frequency channel -1",
         [] { return HID_Set_Frequency(0, -1); },
         {0x03, 0, 0, 0, 0, 0xFF, 0}},
        // Command reports in code order.
        {"get frequency", [] { return HID_Get_Frequency(2); }, {0x02, 0x01, 0x02, 0, 0, 0, 0}},
        {"fe gain 6", [] { return HID_ChangeFE_Gain(6, 0); }, {0x02, 0x02, 0x07, 0, 0, 0, 0}},
        {"fe gain 255 wraps",
         [] { return HID_ChangeFE_Gain(255, 0); },
         {0x02, 0x02, 0x00, 0, 0, 0, 0}},
        {"fe gain int max, second byte",
         [] { return HID_ChangeFE_Gain(0x7FFFFFFF, 0x1A5); },
         {0x02, 0x02, 0x00, 0xA5, 0, 0, 0}},
        {"init status",
         [] { return static_cast<int>(HID_Get_Init_Status()); },
         {0x02, 0x04, 0xFB, 0, 0, 0, 0}},
        {"rf gain", [] { return HID_ChangeRF_Gain(2, 120); }, {0x02, 0x08, 0x78, 0x02, 0, 0, 0}},
        {"rf gain negative code",
         [] { return HID_ChangeRF_Gain(0, -2); },
         {0x02, 0x08, 0xFE, 0x00, 0, 0, 0}},
        {"fw version value not sent",
         [] { return HID_Check_FW_Version(5); },
         {0x02, 0x09, 0, 0, 0, 0, 0}},
        {"console char", [] { return HID_Send_console_char('A'); }, {0x02, 0x0A, 0x41, 0, 0, 0, 0}},
        {"console on", [] { return HID_console_On(1); }, {0x02, 0x0B, 0x01, 0, 0, 0, 0}},
        {"defaults to eeprom",
         [] { return HID_Send_defaults_to_EEPROM(); },
         {0x02, 0x0C, 0xF3, 0, 0, 0, 0}},
        {"get sample rate", [] { return HID_Get_Sample_Rate(); }, {0x02, 0x0E, 0, 0, 0, 0, 0}},
        {"get sample rate no set",
         [] { return HID_Get_Sample_Rate_No_set(); },
         {0x02, 0x0E, 0x5A, 0, 0, 0, 0}},
        {"get diversity mode",
         [] { return HID_Get_Diversity_Mode(); },
         {0x02, 0x0F, 0, 0, 0, 0, 0}},
        {"get ip", [] { return HID_Get_SDR_IP_Address(); }, {0x02, 0x10, 0, 0, 0, 0, 0}},
        {"get mask", [] { return HID_Get_SDR_IP_Mask(); }, {0x02, 0x11, 0, 0, 0, 0, 0}},
        {"get gateway", [] { return HID_Get_Gateway_IP_Address(); }, {0x02, 0x12, 0, 0, 0, 0, 0}},
        {"get dst", [] { return HID_Get_DST_IP_Address(); }, {0x02, 0x13, 0, 0, 0, 0, 0}},
        {"get udp port", [] { return HID_Get_UDP_Port(); }, {0x02, 0x14, 0, 0, 0, 0, 0}},
        {"save ip",
         [] { return HID_Save_SDR_IP_Address(0xC0A80164u); },
         {0x02, 0x15, 0x64, 0x01, 0xA8, 0xC0, 0}},
        {"save mask",
         [] { return HID_Save_SDR_IP_Mask(0xFFFFFF00u); },
         {0x02, 0x16, 0x00, 0xFF, 0xFF, 0xFF, 0}},
        {"save gateway",
         [] { return HID_Save_Gateway_IP_Address(0x0A000001u); },
         {0x02, 0x17, 0x01, 0x00, 0x00, 0x0A, 0}},
        {"save dst",
         [] { return HID_Save_DST_IP_Address(0x01020304u); },
         {0x02, 0x18, 0x04, 0x03, 0x02, 0x01, 0}},
        {"save udp port",
         [] { return HID_Save_UDP_Port(50001); },
         {0x02, 0x19, 0x51, 0xC3, 0, 0, 0}},
        {"udp stream 256 keeps low byte",
         [] { return HID_Start_UDP_Stream(256); },
         {0x02, 0x1A, 0x00, 0, 0, 0, 0}},
        {"serial number", [] { return HID_Get_Serial_Number(); }, {0x02, 0x1D, 0, 0, 0, 0, 0}},
        {"new sample rate",
         [] { return HID_Set_New_Sample_Rate(192000); },
         {0x02, 0x1E, 0x00, 0xEE, 0x02, 0x00, 0}},
        {"vco 0", [] { return HID_Change_VCO_voltage(0); }, {0x02, 0x1F, 0x00, 0x08, 0, 0, 0}},
        {"vco -2048",
         [] { return HID_Change_VCO_voltage(-2048); },
         {0x02, 0x1F, 0x00, 0x00, 0, 0, 0}},
        {"vco 2047",
         [] { return HID_Change_VCO_voltage(2047); },
         {0x02, 0x1F, 0xFF, 0x0F, 0, 0, 0}},
        {"vco 2048 wraps",
         [] { return HID_Change_VCO_voltage(2048); },
         {0x02, 0x1F, 0x00, 0x00, 0, 0, 0}},
        {"vco -1", [] { return HID_Change_VCO_voltage(-1); }, {0x02, 0x1F, 0xFF, 0x07, 0, 0, 0}},
        {"vco int max",
         [] { return HID_Change_VCO_voltage(0x7FFFFFFF); },
         {0x02, 0x1F, 0xFF, 0x07, 0, 0, 0}},
        {"vco int min",
         [] { return HID_Change_VCO_voltage(-0x7FFFFFFF - 1); },
         {0x02, 0x1F, 0x00, 0x08, 0, 0, 0}},
        {"get vco", [] { return HID_Get_VCO_voltage(); }, {0x02, 0x20, 0, 0, 0, 0, 0}},
        {"save gain table",
         [] { return HID_Save_Gain_Table(0x1234); },
         {0x02, 0x21, 0x34, 0x12, 0, 0, 0}},
        {"get gain table", [] { return HID_Get_Gain_Table(); }, {0x02, 0x22, 0, 0, 0, 0, 0}},
        {"bpf tune", [] { return HID_Change_BPF_Tune(0xABCD); }, {0x02, 0x23, 0xCD, 0xAB, 0, 0, 0}},
        {"sync state", [] { return HID_Get_Sync_State(); }, {0x02, 0x24, 0, 0, 0, 0, 0}},
        {"cpld sn", [] { return HID_Get_HW_CPLD_SN(); }, {0x02, 0x25, 0, 0, 0, 0, 0}},
        {"firmware upgrade", [] { return HID_Firmware_Upgrade(); }, {0x02, 0x26, 0, 0, 0, 0, 0}},
        {"flash half word",
         [] { return HID_Send_To_Flash_HalfWord(0x0102, 0xA0B0); },
         {0x02, 0x27, 0x02, 0x01, 0xB0, 0xA0, 0}},
        {"broadcast flag",
         [] { return HID_Set_Broadcast_Flag(0x101); },
         {0x02, 0x28, 0x01, 0, 0, 0, 0}},
        {"get broadcast flag",
         [] { return HID_Get_Broadcast_Flag(); },
         {0x02, 0x29, 0, 0, 0, 0, 0}},
        {"lpf bypass negative",
         [] { return HID_Send_LPF_Bypass(-2); },
         {0x02, 0x2A, 0xFE, 0, 0, 0, 0}},
        {"multichannel mode",
         [] { return HID_Set_Multichannel_Mode(3, 1); },
         {0x02, 0x30, 0x03, 0x01, 0, 0, 0}},
        {"multichannel mode 256, channel 257",
         [] { return HID_Set_Multichannel_Mode(256, 257); },
         {0x02, 0x30, 0x00, 0x01, 0, 0, 0}},
        {"multicast flag",
         [] { return HID_Set_Multicast_Flag(1); },
         {0x02, 0x31, 0x01, 0, 0, 0, 0}},
        {"id string", [] { return HID_Set_ID_String(0x1FF); }, {0x02, 0x32, 0xFF, 0, 0, 0, 0}},
        {"emulation id", [] { return HID_Get_Emulation_ID(); }, {0x02, 0x33, 0, 0, 0, 0, 0}},
        {"default id", [] { return HID_Save_Default_ID(4); }, {0x02, 0x34, 0x04, 0, 0, 0, 0}},
        {"soft reset", [] { return HID_SoftReset_SDR(); }, {0x02, 0x35, 0, 0, 0, 0, 0}},
        {"get dhcp", [] { return HID_Get_DHCP_Server_State(); }, {0x02, 0x36, 0, 0, 0, 0, 0}},
        {"set dhcp", [] { return HID_Set_DHCP_Server_State(1); }, {0x02, 0x37, 0x01, 0, 0, 0, 0}},
        {"phase shift -1",
         [] { return HID_Set_Phase_Shift(-1, 2); },
         {0x02, 0x38, 0xFF, 0xFF, 0x02, 0, 0}},
        {"phase shift keeps 16 bits",
         [] { return HID_Set_Phase_Shift(0x12345, 1); },
         {0x02, 0x38, 0x45, 0x23, 0x01, 0, 0}},
        {"cpld2 sn", [] { return HID_Get_CPLD2_SN(); }, {0x02, 0x39, 0, 0, 0, 0, 0}},
        {"usb mode", [] { return HID_Send_USB_Mode(2); }, {0x02, 0x44, 0x02, 0, 0, 0, 0}},
        {"usb mode 0x105", [] { return HID_Send_USB_Mode(0x105); }, {0x02, 0x44, 0x05, 0, 0, 0, 0}},
        {"overload mode", [] { return HID_Set_Overload_Mode(3); }, {0x02, 0x45, 0x03, 0, 0, 0, 0}},
        {"agc level", [] { return HID_Get_AGC_Level(0); }, {0x02, 0x46, 0x00, 0, 0, 0, 0}},
        {"agc level channel 300",
         [] { return HID_Get_AGC_Level(300); },
         {0x02, 0x46, 0x2C, 0, 0, 0, 0}},
        {"agc state", [] { return HID_Get_AGC_State(); }, {0x02, 0x47, 0, 0, 0, 0, 0}},
        {"multistream", [] { return HID_Set_MultiStream_Mode(2); }, {0x02, 0x48, 0x02, 0, 0, 0, 0}},
        {"get multistream", [] { return HID_Get_MultiStream_Mode(); }, {0x02, 0x49, 0, 0, 0, 0, 0}},
        {"save multistream",
         [] { return HID_Save_Multistream_mode(0x0203); },
         {0x02, 0x4A, 0x03, 0, 0, 0, 0}},
        {"led", [] { return HID_Set_LED_On_Off(1); }, {0x02, 0x4B, 0x01, 0, 0, 0, 0}},
        {"led negative",
         [] { return HID_Set_LED_On_Off(static_cast<char>(-1)); },
         {0x02, 0x4B, 0xFF, 0, 0, 0, 0}},
        {"r820t frequency",
         [] { return HID_Set_R820T_frequency(100000000); },
         {0x02, 0x4E, 0x00, 0xE1, 0xF5, 0x05, 0}},
        {"r820t lna", [] { return HID_Set_R820T_LNA_Gain(7); }, {0x02, 0x4F, 0x07, 0, 0, 0, 0}},
        {"r820t mix", [] { return HID_Set_R820T_MIX_Gain(255); }, {0x02, 0x50, 0xFF, 0, 0, 0, 0}},
        {"r820t vga", [] { return HID_Set_R820T_VGA_Gain(9); }, {0x02, 0x51, 0x09, 0, 0, 0, 0}},
        {"r820t lna agc", [] { return HID_Set_R820T_LNA_AGC(1); }, {0x02, 0x52, 0x01, 0, 0, 0, 0}},
        {"r820t mixer agc",
         [] { return HID_Set_R820T_Mixer_AGC(0); },
         {0x02, 0x53, 0x00, 0, 0, 0, 0}},
        {"r820t if bw", [] { return HID_Set_R820T_IF_BW(4); }, {0x02, 0x54, 0x04, 0, 0, 0, 0}},
        {"r820t power", [] { return HID_Set_R820T_PWR_On_Off(1); }, {0x02, 0x57, 0x01, 0, 0, 0, 0}},
        {"r820t hp bw", [] { return HID_Set_R820T_HP_BW(5); }, {0x02, 0x58, 0x05, 0, 0, 0, 0}},
        {"r820t lp bw", [] { return HID_Set_R820T_LP_BW(6); }, {0x02, 0x59, 0x06, 0, 0, 0, 0}},
        {"vhf clock negative",
         [] { return HID_Save_VHF_Reference_Clock(-2); },
         {0x02, 0x5A, 0xFE, 0xFF, 0xFF, 0xFF, 0}},
        {"get vhf clock",
         [] { return HID_Get_VHF_Reference_Clock(); },
         {0x02, 0x5B, 0, 0, 0, 0, 0}},
        {"mac word",
         [] { return HID_Save_MAC_word(0x1234); },
         {0x02, 0x5C, 0x34, 0x12, 0x00, 0x00, 0}},
        {"get mac word", [] { return HID_Get_MAC_word(); }, {0x02, 0x5D, 0, 0, 0, 0, 0}},
        {"save user memory",
         [] { return HID_Save_User_Memory(10, 0x89ABCDEFu); },
         {0x02, 0x63, 0x0A, 0xEF, 0xCD, 0xAB, 0x89}},
        {"get user memory", [] { return HID_Get_User_Memory(99); }, {0x02, 0x64, 0x63, 0, 0, 0, 0}},
        {"subversion", [] { return HID_Get_Subversion(); }, {0x02, 0x65, 0, 0, 0, 0, 0}},
        {"init fe", [] { return HID_Init_FE(); }, {0x02, 0xE1, 0x1E, 0, 0, 0, 0}},
        // Single EEPROM word functions.
        {"diversity mode word",
         [] { return HID_Send_Diversity_Mode(-2); },
         {0x01, 0x56, 0x08, 0xFE, 0xFF, 0, 0}},
        {"default vco 0",
         [] { return HID_Save_Default_VCO_voltage(0); },
         {0x01, 0x56, 0x1B, 0x00, 0x08, 0, 0}},
        {"default vco -1",
         [] { return HID_Save_Default_VCO_voltage(-1); },
         {0x01, 0x56, 0x1B, 0xFF, 0x07, 0, 0}},
    };
    for (const BuilderCase &c : cases) {
        clear_request();
        testing::internal::CaptureStdout();
        int result = c.build();
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(result, 1) << c.what;
        EXPECT_EQ(hex(request()), hex(c.bytes)) << c.what;
    }
}

TEST_F(ReportBytes, StreamReportAnnouncesItselfBeforeSending) {
    testing::internal::CaptureStdout();
    HID_Start_UDP_Stream(1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Stream start/stop=> 1\n\r");
    EXPECT_EQ(hex(request()), hex({0x02, 0x1A, 0x01, 0, 0, 0, 0}));
}

TEST_F(ReportBytes, FiveByteReportsLoseBytesFiveAndSix) {
    const BuilderCase cases[] = {
        {"frequency loses the channel",
         [] { return HID_Set_Frequency(14100000, 3); },
         {0x03, 0x20, 0x26, 0xD7, 0x00, 0, 0}},
        {"generic long loses the top byte",
         [] { return HID_Save_MAC_word(0xAABBCCDDu); },
         {0x02, 0x5C, 0xDD, 0xCC, 0xBB, 0, 0}},
        {"flash half word loses the data high byte",
         [] { return HID_Send_To_Flash_HalfWord(0x0102, 0xA0B0); },
         {0x02, 0x27, 0x02, 0x01, 0xB0, 0, 0}},
        {"user memory loses two bytes",
         [] { return HID_Save_User_Memory(10, 0x89ABCDEFu); },
         {0x02, 0x63, 0x0A, 0xEF, 0xCD, 0, 0}},
        {"eeprom write is whole",
         [] { return HID_Send_EEPROM_Data(6, 0xEE00); },
         {0x01, 0x56, 0x06, 0x00, 0xEE, 0, 0}},
        {"phase shift is whole",
         [] { return HID_Set_Phase_Shift(-1, 2); },
         {0x02, 0x38, 0xFF, 0xFF, 0x02, 0, 0}},
    };
    for (const BuilderCase &c : cases) {
        clear_request();
        HID_COMMAND_SIZE = 5;
        int result = c.build();
        HID_COMMAND_SIZE = 7;
        EXPECT_EQ(result, 1) << c.what;
        EXPECT_EQ(hex(request()), hex(c.bytes)) << c.what;
    }
}

// A composite function writes its first report, pauses for the receiver to
// take it, then writes the second. A helper thread plays a
// receiver that never answers: it only watches the request file and hands
// the first request it sees back through a future, so that it touches none
// of the connection's state.
struct CompositeCase {
    const char *what;
    std::function<int()> build;
    Report first;
    Report second;
};

TEST_F(ReportBytes, CompositeEepromFunctionsSendTwoReportsWithAWaitBetween) {
    const CompositeCase cases[] = {
        {"sample rate",
         [] { return HID_Send_Sample_Rate(192000); },
         {0x01, 0x56, 0x06, 0x00, 0xEE, 0, 0},
         {0x01, 0x56, 0x07, 0x02, 0x00, 0, 0}},
        {"main clock",
         [] { return HID_Send_Main_Clock_Frequency(0xF0E1D2C3u); },
         {0x01, 0x56, 0x00, 0xC3, 0xD2, 0, 0},
         {0x01, 0x56, 0x01, 0xE1, 0xF0, 0, 0}},
        {"diversity sample rate",
         [] { return HID_Send_Diversity_Sample_Rate(96000); },
         {0x01, 0x56, 0x09, 0x00, 0x77, 0, 0},
         {0x01, 0x56, 0x0A, 0x01, 0x00, 0, 0}},
        {"read main clock",
         [] { return HID_Get_Main_Clock_Frequency(); },
         {0x02, 0x55, 0x00, 0, 0, 0, 0},
         {0x02, 0x55, 0x01, 0, 0, 0, 0}},
    };
    for (const CompositeCase &c : cases) {
        clear_request();
        std::future<Report> first = std::async(std::launch::async, [] {
            const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(3);
            for (Report r{}; std::chrono::steady_clock::now() < give_up;
                 std::this_thread::sleep_for(std::chrono::microseconds(200)))
                if ((r = request())[0] != 0)
                    return r;
            return Report{};
        });
        EXPECT_EQ(c.build(), 1) << c.what;
        EXPECT_EQ(hex(first.get()), hex(c.first)) << c.what;
        EXPECT_EQ(hex(request()), hex(c.second)) << c.what;
    }
}

TEST(AnswerDecoders, TakeTheValueLeastSignificantByteFirst) {
    const unsigned char generic[7] = {0x06, 0x5D, 0x34, 0x12, 0x00, 0x00, 0x00};
    unsigned char command = 0;
    EXPECT_EQ(HID_Get_Generic_Report(&command, generic), 0x1234u);
    EXPECT_EQ(command, 0x5D);

    // The report code is the caller's business: any code decodes the same.
    const unsigned char other[7] = {0x07, 0x1C, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    EXPECT_EQ(HID_Get_Generic_Report(&command, other), 0xFFFFFFFFu);
    EXPECT_EQ(command, 0x1C);

    const unsigned char frequency[7] = {0x07, 0x20, 0x26, 0xD7, 0x00, 0x05, 0x00};
    EXPECT_EQ(HID_Read_Frequency(frequency), 14100000u);
    const unsigned char high[7] = {0x07, 0x98, 0xBA, 0xDC, 0xFE, 0x00, 0x00};
    EXPECT_EQ(HID_Read_Frequency(high), 0xFEDCBA98u);
}

} // namespace
