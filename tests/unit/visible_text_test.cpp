// SPDX-License-Identifier: MIT
// Device texts shown with their control characters escaped.
#include "visible_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace {

TEST(VisibleText, ControlCharactersShowEscapedAndTheRestStays) {
    const struct {
        const char *text;
        const char *shown;
    } cases[] = {
        {"/media/u/RX 1", "/media/u/RX 1"},
        {"a\x1b]0;x\x07"
         "b\x7f",
         "a\\x1b]0;x\\x07b\\x7f"},
        {"\xc2\x9b"
         "2J \xc2\xa0",
         "\\x9b2J \xc2\xa0"}, // C1 in UTF-8; U+00A0 stays
        {"\x9b"
         "2J",
         "\\x9b2J"},                                                          // a lone C1 byte
        {"\xc3\xa9t\xc3\xa9 \xe2\x82\xac", "\xc3\xa9t\xc3\xa9 \xe2\x82\xac"}, // UTF-8 letters
        {"caf\xe9", "caf\xe9"},                                               // Latin-1 letter
    };
    for (const auto &c : cases) {
        char out[64];
        EXPECT_STREQ(visible_text(c.text, out, sizeof out), c.shown) << c.text;
    }
    char small[6];
    EXPECT_STREQ(visible_text("ab\x1b"
                              "cd",
                              small, sizeof small),
                 "ab"); // no half escape
}

TEST(VisibleText, WideTextPrintsAsPercentLsWouldButEscaped) {
    setlocale(LC_CTYPE, "C.UTF-8");
    std::string long_shown; // longer than one run of ordinary characters
    for (int i = 0; i < 300; i++)
        long_shown += "\xc3\xa9";
    const struct {
        std::wstring text;
        std::string shown;
    } cases[] = {
        {L"TALMIR SDR", "TALMIR SDR"},
        {L"\x1b[2J\x9b"
         L"1m\x7f",
         "\\x1b[2J\\x9b1m\\x7f"},
        {std::wstring(300, L'\u00e9'), long_shown},
    };
    for (const auto &c : cases) {
        char *buf = nullptr;
        size_t size = 0;
        FILE *f = open_memstream(&buf, &size);
        print_visible_wide(f, c.text.c_str());
        fclose(f);
        EXPECT_EQ(std::string(buf, size), c.shown);
        free(buf);
    }
}

} // namespace
