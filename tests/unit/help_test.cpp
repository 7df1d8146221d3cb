// SPDX-License-Identifier: MIT
// The help text: its shape, and its bytes through a fingerprint taken from
// the table of lines it was written from.
#include "help.h"

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

} // namespace
