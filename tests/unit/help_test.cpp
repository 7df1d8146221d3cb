// The help text: its shape, and its bytes through a fingerprint taken from
// the table of lines it was written from.
#include "help.h"
#include "main.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

std::vector<std::string> help_lines() {
    std::vector<std::string> lines;
    std::string text = help_text;
    size_t start = 0;
    for (size_t at = text.find("\n\r"); at != std::string::npos; at = text.find("\n\r", start)) {
        lines.push_back(text.substr(start, at - start));
        start = at + 2;
    }
    EXPECT_EQ(start, text.size()) << "text after the last separator";
    return lines;
}

uint64_t fnv1a(const std::string &s) {
    uint64_t h = 0xcbf29ce484222325u;
    for (unsigned char c : s)
        h = (h ^ c) * 0x100000001b3u;
    return h;
}

TEST(HelpText, HasItsHundredAndTwentyEightLinesByteForByte) {
    std::string text = help_text;
    EXPECT_EQ(text.size(), 5422u);
    EXPECT_EQ(fnv1a(text), 0x312d5fae3e8707a8u);
    EXPECT_EQ(help_lines().size(), 128u);
    EXPECT_EQ(text.find('%'), std::string::npos) << "the text is printed through %s";
}

TEST(HelpText, OptionBlocksComeInTheirOrder) {
    std::vector<std::string> lines = help_lines();
    ASSERT_EQ(lines.size(), 128u);
    struct Header {
        int line;
        std::string text;
    };
    const Header headers[] = {
        {1, "\tPlease use next commands with TALMIR SDR:"},
        {2, "\t-F <frequency>"},
        {6, "\t-R   "},
        {10, "\t-H      "},
        {14, "\t-V      "},
        {18, "\t-D      "},
        {25, "\t-G <RF_gain>"},
        {30, "\t-I <RF_gain_index>"},
        {37, "\t-E <FE_gain_index>"},
        {42, "\t-S <sample_rate_frequency>"},
        {50, "\t-U <usb_mode>"},
        {58, "\t-L "},
        {62, "\t-C "},
        {68, "\t-A "},
        {75, "\t-q "},
        {86, "\t-P <Path to MSD device or TCP port number>"},
        {91, "\t\t# kestrel -P/media/user/TALMIR/ "},
        {94, "\t-T < TCP IP address>"},
        {96, std::string("\t\t# kestrel -t") + default_ip_address + " -p50000 "},
        {98, "\t-N <usb_serial_number>"},
        {102, "\t-X <data stream state>"},
        {106, "\t-J "},
        {112, "\t-W "},
        {122, "/" + std::string(81, '*') + "/"},
        {128, "    3. Sets TALMIR's FE Gain to x1"},
    };
    for (const Header &h : headers)
        EXPECT_EQ(lines[static_cast<size_t>(h.line - 1)], h.text) << "line " << h.line;
}

} // namespace
