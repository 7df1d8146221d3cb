// SPDX-License-Identifier: MIT
// The simulated receiver's model: every command of the catalogue decoded
// from its own table, the answers, the state text, and the faults.
#include "receiver_model.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace ksim {
namespace {

std::vector<uint8_t> bytes(std::initializer_list<int> list) {
    std::vector<uint8_t> v;
    for (int b : list)
        v.push_back(static_cast<uint8_t>(b));
    return v;
}

std::string answers_hex(const std::vector<Answer> &answers) {
    std::string out;
    for (const Answer &a : answers) {
        if (!out.empty())
            out += " | ";
        out += hex_bytes(a.data(), a.size());
    }
    return out;
}

struct CommandCase {
    std::vector<uint8_t> request;
    std::string answer; // expected answers, "" for none
    const char *key;    // a key the request sets (null: none)
    const char *value;  // its value afterwards
};

// One request per command of the catalogue: the setters with a value
// different from the start-up state, the queries against that state.
TEST(ReceiverModel, DecodesEveryCommandOfTheCatalogue) {
    const CommandCase cases[] = {
        // Frequency report: frequency in bytes 1-4, channel in byte 5.
        {bytes({3, 0x20, 0x26, 0xD7, 0x00, 0x02, 0}), "07 20 26 D7 00 02 00", "freq.2", "14100000"},
        // EEPROM write: address in byte 2, the word in bytes 3-4.
        {bytes({1, 0x56, 6, 0x00, 0xBB, 0, 0}), "06 56 00 00 00 00 00", "eeprom.6", "47872"},
        {bytes({1, 0x56, 255, 0x34, 0x12, 0, 0}), "06 56 00 00 00 00 00", "eeprom.255", "4660"},
        {bytes({2, 0x01, 0, 0, 0, 0, 0}), "06 01 00 00 00 00 00", nullptr, nullptr},
        {bytes({2, 0x02, 7, 0, 0, 0, 0}), "06 02 00 00 00 00 00", "fe_gain", "7"},
        {bytes({2, 0x02, 3, 9, 0, 0, 0}), "06 02 00 00 00 00 00", "fe_param", "9"},
        {bytes({2, 0x04, 0xFB, 0, 0, 0, 0}), "06 04 01 00 00 00 00", nullptr, nullptr},
        {bytes({2, 0x08, 120, 3, 0, 0, 0}), "06 08 00 00 00 00 00", "rfgain.3", "120"},
        {bytes({2, 0x09, 0, 0, 0, 0, 0}), "06 09 04 03 02 01 00", nullptr, nullptr},
        {bytes({2, 0x0A, 65, 0, 0, 0, 0}), "06 0A 00 00 00 00 00", "console_char", "65"},
        {bytes({2, 0x0B, 1, 0, 0, 0, 0}), "06 0B 00 00 00 00 00", "console", "1"},
        {bytes({2, 0x0C, 0xF3, 0, 0, 0, 0}), "06 0C 00 00 00 00 00", "defaults_saved", "1"},
        {bytes({2, 0x0E, 0x5A, 0, 0, 0, 0}), "06 0E 00 EE 02 00 00", nullptr, nullptr},
        {bytes({2, 0x0E, 0, 0, 0, 0, 0}), "06 0E 00 EE 02 00 00", nullptr, nullptr},
        {bytes({2, 0x0F, 0, 0, 0, 0, 0}), "06 0F 00 00 00 00 00", nullptr, nullptr},
        {bytes({2, 0x10, 0, 0, 0, 0, 0}), "06 10 64 01 A8 C0 00", nullptr, nullptr},
        {bytes({2, 0x11, 0, 0, 0, 0, 0}), "06 11 00 FF FF FF 00", nullptr, nullptr},
        {bytes({2, 0x12, 0, 0, 0, 0, 0}), "06 12 01 01 A8 C0 00", nullptr, nullptr},
        {bytes({2, 0x13, 0, 0, 0, 0, 0}), "06 13 02 01 A8 C0 00", nullptr, nullptr},
        {bytes({2, 0x14, 0, 0, 0, 0, 0}), "06 14 51 C3 00 00 00", nullptr, nullptr},
        {bytes({2, 0x15, 3, 2, 1, 10, 0}), "06 15 00 00 00 00 00", "ip", "10.1.2.3"},
        {bytes({2, 0x16, 0, 0, 0xFF, 0xFF, 0}), "06 16 00 00 00 00 00", "mask", "255.255.0.0"},
        {bytes({2, 0x17, 1, 0, 0, 10, 0}), "06 17 00 00 00 00 00", "gateway", "10.0.0.1"},
        {bytes({2, 0x18, 9, 0, 0, 10, 0}), "06 18 00 00 00 00 00", "dst_ip", "10.0.0.9"},
        {bytes({2, 0x19, 0x50, 0xC3, 0, 0, 0}), "06 19 00 00 00 00 00", "udp_port", "50000"},
        {bytes({2, 0x1A, 1, 0, 0, 0, 0}), "06 1A 00 00 00 00 00", "stream", "1"},
        {bytes({2, 0x1D, 0, 0, 0, 0, 0}), "06 1D 4D 3C 2B 1A 00", nullptr, nullptr},
        {bytes({2, 0x1E, 0x00, 0x77, 0x01, 0, 0}), "06 1E 00 00 00 00 00", "sample_rate", "96000"},
        {bytes({2, 0x1F, 0xFF, 0x0F, 0, 0, 0}), "06 1F 00 00 00 00 00", "vco", "4095"},
        {bytes({2, 0x20, 0, 0, 0, 0, 0}), "06 20 00 08 00 00 00", nullptr, nullptr},
        {bytes({2, 0x21, 0x34, 0x12, 0, 0, 0}), "06 21 00 00 00 00 00", "gain_table", "4660"},
        {bytes({2, 0x22, 0, 0, 0, 0, 0}), "06 22 00 00 00 00 00", nullptr, nullptr},
        {bytes({2, 0x23, 0x10, 0x01, 0, 0, 0}), "06 23 00 00 00 00 00", "bpf", "272"},
        {bytes({2, 0x24, 0, 0, 0, 0, 0}), "06 24 01 00 00 00 00", nullptr, nullptr},
        {bytes({2, 0x25, 0, 0, 0, 0, 0}), "06 25 EE FF C0 00 00", nullptr, nullptr},
        {bytes({2, 0x26, 0, 0, 0, 0, 0}), "06 26 00 00 00 00 00", "firmware_upgrades", "1"},
        {bytes({2, 0x27, 0x00, 0x80, 0xCD, 0xAB, 0}), "06 27 00 00 00 00 00", "flash_data",
         "43981"},
        {bytes({2, 0x27, 0x00, 0x80, 0xCD, 0xAB, 0}), "06 27 00 00 00 00 00", "flash_address",
         "32768"},
        {bytes({2, 0x28, 1, 0, 0, 0, 0}), "06 28 00 00 00 00 00", "broadcast", "1"},
        {bytes({2, 0x29, 0, 0, 0, 0, 0}), "06 29 00 00 00 00 00", nullptr, nullptr},
        {bytes({2, 0x2A, 1, 0, 0, 0, 0}), "06 2A 00 00 00 00 00", "lpf_bypass", "1"},
        {bytes({2, 0x30, 5, 1, 0, 0, 0}), "06 30 00 00 00 00 00", "multichannel_mode", "5"},
        {bytes({2, 0x30, 5, 1, 0, 0, 0}), "06 30 00 00 00 00 00", "multichannel_channel", "1"},
        {bytes({2, 0x31, 1, 0, 0, 0, 0}), "06 31 00 00 00 00 00", "multicast", "1"},
        {bytes({2, 0x32, 7, 0, 0, 0, 0}), "06 32 00 00 00 00 00", "id_string", "7"},
        {bytes({2, 0x33, 0, 0, 0, 0, 0}), "06 33 00 00 00 00 00", nullptr, nullptr},
        {bytes({2, 0x34, 2, 0, 0, 0, 0}), "06 34 00 00 00 00 00", "default_id", "2"},
        {bytes({2, 0x35, 0, 0, 0, 0, 0}), "", "resets", "1"},
        {bytes({2, 0x36, 0, 0, 0, 0, 0}), "06 36 00 00 00 00 00", nullptr, nullptr},
        {bytes({2, 0x37, 1, 0, 0, 0, 0}), "06 37 00 00 00 00 00", "dhcp", "0x00000001"},
        {bytes({2, 0x38, 0xFF, 0xFF, 2, 0, 0}), "06 38 00 00 00 00 00", "phase.2", "65535"},
        {bytes({2, 0x39, 0, 0, 0, 0, 0}), "06 39 01 EF BE 00 00", nullptr, nullptr},
        {bytes({2, 0x44, 1, 0, 0, 0, 0}), "06 44 00 00 00 00 00", "usb_mode", "1"},
        {bytes({2, 0x44, 2, 0, 0, 0, 0}), "", "usb_mode", "2"},
        {bytes({2, 0x45, 3, 0, 0, 0, 0}), "06 45 00 00 00 00 00", "agc_mask", "3"},
        {bytes({2, 0x46, 0, 0, 0, 0, 0}), "06 46 40 40 40 40 00", nullptr, nullptr},
        {bytes({2, 0x47, 0, 0, 0, 0, 0}), "06 47 03 00 00 00 00", nullptr, nullptr},
        {bytes({2, 0x48, 2, 0, 0, 0, 0}), "06 48 00 00 00 00 00", "multistream", "2"},
        {bytes({2, 0x49, 0, 0, 0, 0, 0}), "06 49 00 00 00 00 00", nullptr, nullptr},
        {bytes({2, 0x4A, 3, 0, 0, 0, 0}), "06 4A 00 00 00 00 00", "multistream_saved", "3"},
        {bytes({2, 0x4B, 1, 0, 0, 0, 0}), "06 4B 00 00 00 00 00", "leds", "1"},
        {bytes({2, 0x4E, 0x40, 0x42, 0x0F, 0, 0}), "06 4E 00 00 00 00 00", "r820t_freq", "1000000"},
        {bytes({2, 0x4F, 7, 0, 0, 0, 0}), "06 4F 00 00 00 00 00", "lna_gain", "7"},
        {bytes({2, 0x50, 5, 0, 0, 0, 0}), "06 50 00 00 00 00 00", "mix_gain", "5"},
        {bytes({2, 0x51, 9, 0, 0, 0, 0}), "06 51 00 00 00 00 00", "vga_gain", "9"},
        {bytes({2, 0x52, 1, 0, 0, 0, 0}), "06 52 00 00 00 00 00", "lna_agc", "1"},
        {bytes({2, 0x53, 1, 0, 0, 0, 0}), "06 53 00 00 00 00 00", "mix_agc", "1"},
        {bytes({2, 0x54, 4, 0, 0, 0, 0}), "06 54 00 00 00 00 00", "if_bw", "4"},
        {bytes({2, 0x55, 1, 0, 0, 0, 0}), "06 55 10 03 00 00 00", nullptr, nullptr},
        {bytes({2, 0x57, 0, 0, 0, 0, 0}), "06 57 00 00 00 00 00", "r820t_power", "0"},
        {bytes({2, 0x58, 6, 0, 0, 0, 0}), "06 58 00 00 00 00 00", "hp_bw", "6"},
        {bytes({2, 0x59, 8, 0, 0, 0, 0}), "06 59 00 00 00 00 00", "lp_bw", "8"},
        {bytes({2, 0x5A, 0x00, 0x1B, 0xB7, 0x00, 0}), "06 5A 00 00 00 00 00", "vhf_clock",
         "12000000"},
        {bytes({2, 0x5B, 0, 0, 0, 0, 0}), "06 5B 00 74 B7 01 00", nullptr, nullptr},
        {bytes({2, 0x5C, 0x34, 0x12, 0, 0, 0}), "06 5C 00 00 00 00 00", "mac", "0x00001234"},
        {bytes({2, 0x5D, 0, 0, 0, 0, 0}), "06 5D 34 3A 00 00 00", nullptr, nullptr},
        {bytes({2, 0x63, 20, 0xE0, 0xFD, 0x1C, 0x00}), "06 63 00 00 00 00 00", "mem.20", "1900000"},
        {bytes({2, 0x63, 255, 1, 2, 3, 4}), "06 63 00 00 00 00 00", "mem.255", "67305985"},
        {bytes({2, 0x64, 0, 0, 0, 0, 0}), "06 64 00 00 00 00 00", nullptr, nullptr},
        {bytes({2, 0x65, 0, 0, 0, 0, 0}), "06 65 17 00 00 00 00", nullptr, nullptr},
        {bytes({2, 0xE1, 0x1E, 0, 0, 0, 0}), "06 E1 00 00 00 00 00", "fe_inits", "1"},
    };
    for (const CommandCase &c : cases) {
        Receiver rx;
        SCOPED_TRACE(hex_bytes(c.request.data(), c.request.size()));
        EXPECT_EQ(answers_hex(rx.handle(c.request.data(), c.request.size())), c.answer);
        if (c.key != nullptr) {
            EXPECT_EQ(rx.get(c.key).value_or("?"), c.value);
        }
    }
}

TEST(ReceiverModel, EveryCatalogueCommandIsAnsweredUnlessItRestarts) {
    for (const CommandInfo &c : command_catalogue()) {
        SCOPED_TRACE(c.name);
        Receiver rx;
        uint8_t request[7] = {c.report_code, c.command, 0, 0, 0, 0, 0};
        if (c.report_code == 2 && c.command == 0x44)
            request[2] = 1; // USB mode 2 would restart
        std::vector<Answer> a = rx.handle(request, sizeof request);
        ASSERT_EQ(a.size(), c.answered ? 1u : 0u);
        if (c.answered) {
            EXPECT_EQ(a[0][0], c.report_code == 3 ? 7 : 6);
            if (c.report_code != 3) {
                EXPECT_EQ(a[0][1], c.command);
            }
        }
        EXPECT_EQ(rx.get("unknown_requests"), "0");
    }
}

TEST(ReceiverModel, QueriesAnswerWhatTheSettersStored) {
    Receiver rx;
    auto send = [&rx](std::initializer_list<int> r) {
        std::vector<uint8_t> b = bytes(r);
        return answers_hex(rx.handle(b.data(), b.size()));
    };
    send({2, 0x08, 0x00, 0, 0, 0, 0}); // channel 0 at code 0
    send({2, 0x08, 0x50, 2, 0, 0, 0}); // channel 2 at code 0x50
    send({2, 0x08, 0x78, 3, 0, 0, 0}); // channel 3 at code 0x78
    send({2, 0x08, 0x00, 1, 0, 0, 0}); // channel 1 at code 0
    send({2, 0x08, 0x11, 4, 0, 0, 0}); // no channel 4: nothing changes
    EXPECT_EQ(send({2, 0x46, 0, 0, 0, 0, 0}), "06 46 00 00 50 78 00");
    send({1, 0x56, 0, 0x00, 0x2D, 0, 0});
    EXPECT_EQ(send({2, 0x55, 0, 0, 0, 0, 0}), "06 55 00 2D 00 00 00");
    send({2, 0x63, 21, 0x01, 0x00, 0x01, 0x00}); // mode 1, transverter 1
    EXPECT_EQ(send({2, 0x64, 21, 0, 0, 0, 0}), "06 64 01 00 01 00 00");
    send({3, 0x40, 0x42, 0x0F, 0x00, 1, 0});
    EXPECT_EQ(send({2, 0x01, 1, 0, 0, 0, 0}), "06 01 40 42 0F 00 00");
    send({2, 0x5C, 0xEF, 0xBE, 0xAD, 0xDE, 0});
    EXPECT_EQ(send({2, 0x5D, 0, 0, 0, 0, 0}), "06 5D EF BE AD DE 00");
    send({2, 0x30, 4, 0, 0, 0, 0});
    EXPECT_EQ(send({2, 0x0F, 0, 0, 0, 0, 0}), "06 0F 04 00 00 00 00");
}

TEST(ReceiverModel, FiveByteReportsLeaveTheMissingBytesZero) {
    Receiver rx;
    rx.set("mem.20", "0xFFFFFFFF");
    const uint8_t save[] = {2, 0x63, 20, 0xE0, 0xFD}; // bytes 5 and 6 did not travel
    rx.handle(save, sizeof save);
    EXPECT_EQ(rx.get("mem.20"), "64992");
    const uint8_t freq[] = {3, 0x20, 0x26, 0xD7, 0x00}; // no channel byte: channel 0
    EXPECT_EQ(answers_hex(rx.handle(freq, sizeof freq)), "07 20 26 D7 00 00 00");
    EXPECT_EQ(rx.get("freq.0"), "14100000");
    const uint8_t rate[] = {2, 0x1E, 0x00, 0xEE, 0x02}; // the top byte is lost
    rx.handle(rate, sizeof rate);
    EXPECT_EQ(rx.get("sample_rate"), "192000");
}

TEST(ReceiverModel, RestartsStopTheStreamAndTakeTheSavedSampleRate) {
    Receiver rx;
    const uint8_t stream_on[] = {2, 0x1A, 1, 0, 0, 0, 0};
    const uint8_t low[] = {1, 0x56, 6, 0x80, 0xBB, 0, 0}; // 48000 = 0xBB80
    const uint8_t high[] = {1, 0x56, 7, 0, 0, 0, 0};
    const uint8_t reset[] = {2, 0x35, 0, 0, 0, 0, 0};
    rx.handle(stream_on, 7);
    rx.handle(low, 7);
    rx.handle(high, 7);
    EXPECT_EQ(rx.get("sample_rate"), "192000"); // saved, not yet in effect
    EXPECT_TRUE(rx.handle(reset, 7).empty());
    EXPECT_EQ(rx.get("sample_rate"), "48000");
    EXPECT_EQ(rx.get("stream"), "0");
    EXPECT_EQ(rx.get("resets"), "1");
}

TEST(ReceiverModel, UnknownReportsAreCountedAndNotAnsweredExceptUnknownCommands) {
    struct Case {
        std::vector<uint8_t> request;
        std::string answer;
    } cases[] = {
        {{}, ""},
        {bytes({0}), ""},
        {bytes({6, 0x09, 0, 0, 0, 0, 0}), ""},
        {bytes({0xFF}), ""},
        {bytes({2, 0x03, 0, 0, 0, 0, 0}), "06 03 00 00 00 00 00"},
        {bytes({2, 0xFF}), "06 FF 00 00 00 00 00"},
        {bytes({1, 0x55, 6, 1, 1, 0, 0}), "06 55 00 00 00 00 00"}, // writes no EEPROM word
    };
    for (const Case &c : cases) {
        Receiver rx;
        SCOPED_TRACE(hex_bytes(c.request.data(), c.request.size()));
        EXPECT_EQ(answers_hex(rx.handle(c.request.data(), c.request.size())), c.answer);
        EXPECT_EQ(rx.get("unknown_requests"), "1");
        EXPECT_EQ(rx.get("eeprom.6"), "60928");
    }
}

TEST(ReceiverModel, SurvivesAnyBytes) {
    std::mt19937 gen(12345);
    Receiver rx;
    std::vector<uint8_t> buf(64);
    for (int i = 0; i < 20000; i++) {
        size_t len = gen() % buf.size();
        for (uint8_t &b : buf)
            b = static_cast<uint8_t>(gen());
        if (i % 3 == 0 && len > 0)
            buf[0] = static_cast<uint8_t>(1 + gen() % 3); // mostly real report codes
        std::vector<Answer> a = rx.handle(buf.data(), len);
        ASSERT_LE(a.size(), 1u);
    }
    Receiver copy;
    ASSERT_TRUE(copy.load(rx.dump(), nullptr)); // whatever it holds dumps and loads back
    EXPECT_EQ(copy.dump(), rx.dump());
}

TEST(ReceiverModel, Faults) {
    const uint8_t query[] = {2, 0x09, 0, 0, 0, 0, 0};
    {
        Receiver rx;
        rx.faults.silent = true;
        EXPECT_TRUE(rx.handle(query, 7).empty());
        const uint8_t set[] = {2, 0x4B, 1, 0, 0, 0, 0};
        rx.handle(set, 7);
        EXPECT_EQ(rx.get("leds"), "1"); // a silent receiver still acts
    }
    {
        Receiver rx;
        rx.faults.silent_after = 2;
        EXPECT_EQ(rx.handle(query, 7).size(), 1u);
        EXPECT_EQ(rx.handle(query, 7).size(), 1u);
        EXPECT_TRUE(rx.handle(query, 7).empty());
        EXPECT_TRUE(rx.handle(query, 7).empty());
    }
    {
        Receiver rx;
        rx.faults.answer_code = 9;
        EXPECT_EQ(answers_hex(rx.handle(query, 7)), "09 09 04 03 02 01 00");
    }
    {
        Receiver rx;
        rx.faults.extra_28 = true;
        EXPECT_EQ(answers_hex(rx.handle(query, 7)), "06 1C 01 00 00 00 00 | 06 09 04 03 02 01 00");
        EXPECT_EQ(answers_hex(rx.handle(query, 7)), "06 1C 02 00 00 00 00 | 06 09 04 03 02 01 00");
        const uint8_t reset[] = {2, 0x35, 0, 0, 0, 0, 0};
        EXPECT_TRUE(rx.handle(reset, 7).empty()); // nothing at all when no answer is due
    }
}

TEST(ReceiverState, SetAcceptsWhatFitsAndRefusesTheRest) {
    struct Case {
        const char *key, *value;
        bool ok;
        const char *shown;
    } cases[] = {
        {"freq.0", "14100000", true, "14100000"}, {"freq.3", "0xFFFFFFFF", true, "4294967295"},
        {"freq.0", "4294967296", false, nullptr}, {"freq.0", "-1", true, "4294967295"},
        {"freq.0", "12ab", false, nullptr},       {"freq.0", "", false, nullptr},
        {"freq.4", "1", false, nullptr},          {"eeprom.6", "65535", true, "65535"},
        {"eeprom.6", "65536", false, nullptr},    {"eeprom.256", "1", false, nullptr},
        {"rfgain.1", "255", true, "255"},         {"rfgain.1", "256", false, nullptr},
        {"mem.99", "1900000", true, "1900000"},   {"ip", "10.1.2.3", true, "10.1.2.3"},
        {"ip", "167838211", true, "10.1.2.3"},    {"ip", "10.1.2.256", false, nullptr},
        {"ip", "10.1.2", false, nullptr},         {"fw", "0x01020304", true, "0x01020304"},
        {"fw", "16909060", true, "0x01020304"},   {"nonsense", "1", false, nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.key) + " " + c.value);
        Receiver rx;
        EXPECT_EQ(rx.set(c.key, c.value), c.ok);
        if (c.ok) {
            EXPECT_EQ(rx.get(c.key), c.shown);
        }
    }
}

TEST(ReceiverState, LoadReadsKeysAndFaultsAndNamesTheBadLine) {
    Receiver rx;
    std::string error;
    ASSERT_TRUE(
        rx.load("# a receiver\n\nfreq.0 7000000\r\nfault.delay_ms 30\nfault.extra_28 1\n", &error))
        << error;
    EXPECT_EQ(rx.get("freq.0"), "7000000");
    EXPECT_EQ(rx.faults.delay_ms, 30);
    EXPECT_TRUE(rx.faults.extra_28);
    EXPECT_FALSE(rx.load("freq.1 5\nfreq.9 5\n", &error));
    EXPECT_EQ(error, "line 2: cannot use \"freq.9 5\"");
    EXPECT_FALSE(rx.load("freq.1 5 6\n", &error));
    EXPECT_FALSE(rx.load("freq.1\n", &error));
}

TEST(ReceiverState, DumpListsEveryKeyOnceAndLoadsBack) {
    Receiver rx;
    rx.set("mem.20", "1900000");
    rx.set("ip", "10.9.8.7");
    std::string text = rx.dump();
    EXPECT_NE(text.find("\nmem.20 1900000\n"), std::string::npos);
    EXPECT_NE(text.find("\nip 10.9.8.7\n"), std::string::npos);
    EXPECT_NE(text.find("\neeprom.6 60928\n"), std::string::npos);
    EXPECT_NE(text.find("\nfw 0x01020304\n"), std::string::npos);
    EXPECT_EQ(text.rfind("freq.0 0\n", 0), 0u);
    Receiver other;
    ASSERT_TRUE(other.load(text, nullptr));
    EXPECT_EQ(other.dump(), text);
}

} // namespace
} // namespace ksim
