#include "cmdline.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

struct DecimalCase {
    const char *text;
    bool read;
    int64_t value;
};

TEST(CommandLineNumbers, DecimalReadsLikeTheFormattedScan) {
    const DecimalCase cases[] = {
        {"14100000", true, 14100000},
        {"  -5", true, -5},
        {"+7x", true, 7},
        {"", false, 0},
        {"x12", false, 0},
        {"-", false, 0},
        {"99999999999", true, 99999999999},
        {"99999999999999999999999", true, INT64_MAX},  // held at the limit
        {"-99999999999999999999999", true, INT64_MIN}, // held at the limit
        {"\t\n 42", true, 42},
    };
    for (const DecimalCase &c : cases) {
        int64_t v = 0;
        EXPECT_EQ(scan_decimal(c.text, &v), c.read) << c.text;
        if (c.read) {
            EXPECT_EQ(v, c.value) << c.text;
        }
    }
}

TEST(CommandLineNumbers, NarrowVariablesKeepTheLowBits) {
    uint32_t u = 5;
    EXPECT_TRUE(scan_int("99999999999", &u));
    EXPECT_EQ(u, static_cast<uint32_t>(99999999999ULL)); // 1215752191
    int i = 5;
    EXPECT_TRUE(scan_int("-1", &i));
    EXPECT_EQ(i, -1);
    EXPECT_TRUE(scan_int("99999999999999999999", &i));
    EXPECT_EQ(i, -1); // INT64_MAX cut to 32 bits
    EXPECT_FALSE(scan_int("abc", &i));
    EXPECT_EQ(i, -1); // unchanged
}

TEST(CommandLineNumbers, HexWithAndWithoutPrefix) {
    struct {
        const char *text;
        bool read;
        uint64_t value;
    } cases[] = {
        {"0x3A34", true, 0x3A34}, {"3a34", true, 0x3A34},   {"0X1f", true, 0x1F}, {"0xg", true, 0},
        {"g", false, 0},          {"-1", true, UINT64_MAX}, {"", false, 0},
    };
    for (const auto &c : cases) {
        uint64_t v = 0;
        EXPECT_EQ(scan_hex(c.text, &v), c.read) << c.text;
        if (c.read) {
            EXPECT_EQ(v, c.value) << c.text;
        }
    }
}

TEST(CommandLineText, WordStopsAtWhiteSpaceAndIsCut) {
    char out[8];
    EXPECT_TRUE(scan_word("my file.txt", out, sizeof out));
    EXPECT_STREQ(out, "my");
    EXPECT_TRUE(scan_word("abcdefghijk", out, sizeof out));
    EXPECT_STREQ(out, "abcdefg");
    EXPECT_FALSE(scan_word("   ", out, sizeof out));
    EXPECT_STREQ(arg_at("-F", 2), "");
    EXPECT_STREQ(arg_at("-", 3), "");
    EXPECT_STREQ(arg_at("-F12", 2), "12");
}

TEST(CommandLineNumbers, DecimalReportsWhereTheNumberEnds) {
    const char *text = "1900000 1 0";
    const char *p = text;
    int64_t v = 0;
    ASSERT_TRUE(scan_decimal(p, &v, &p));
    EXPECT_EQ(v, 1900000);
    ASSERT_TRUE(scan_decimal(p, &v, &p));
    EXPECT_EQ(v, 1);
    ASSERT_TRUE(scan_decimal(p, &v, &p));
    EXPECT_EQ(v, 0);
    EXPECT_FALSE(scan_decimal(p, &v, &p));
    EXPECT_EQ(*p, '\0');
}

} // namespace
