// SPDX-License-Identifier: MIT
#include "cmdline.h"
#include "fe_access_hint.h"
#include "help.h"
#include "main.h"
#include "options.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

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

// How one argument of a command line is read: its form, its value and what
// is wrong with it, alone and beside the others.
struct ReadCase {
    std::vector<const char *> args; // after the program name
    int index;                      // the argument looked at
    const char *form;               // letter and sub-letters; null: no form
    const char *value;
    uint16_t problems;
};

TEST(OptionTable, ArgumentsAreReadIntoFormsValuesAndProblems) {
    const ReadCase cases[] = {
        {{"-Gl7"}, 1, "Gl", "7", 0},
        {{"-gL7"}, 1, "G", "L7", PROBLEM_NOT_A_NUMBER},
        {{"-Sd96000"}, 1, "SD", "96000", 0},
        {{"-F7x"}, 1, "F", "7x", PROBLEM_NOT_READ_WHOLE},
        {{"-G36"}, 1, "G", "36", PROBLEM_OUT_OF_RANGE},
        {{"-J-1"}, 1, "J", "-1", PROBLEM_OUT_OF_RANGE},
        {{"-F99999999999999999999"}, 1, "F", "99999999999999999999", PROBLEM_OUT_OF_RANGE},
        {{"-A?x"}, 1, "A?", "", PROBLEM_TEXT_IGNORED},
        {{"-F", "14100000"}, 1, "F", "", PROBLEM_SEPARATE_VALUE},
        {{"-F", "14100000"}, 2, nullptr, "", PROBLEM_NOT_OPTION | PROBLEM_VALUE_OF_OPTION},
        {{"-T10.0.0.5:6000"}, 1, "T", "10.0.0.5:6000", PROBLEM_PORT_IN_ADDRESS},
        {{"-Z5"}, 1, nullptr, "", PROBLEM_UNKNOWN_LETTER},
        {{"--bogus"}, 1, nullptr, "", PROBLEM_UNKNOWN_LONG},
        {{"-Wx"}, 1, nullptr, "", PROBLEM_NO_COMMAND},
        {{"-wrf", "-F1"}, 1, "Wrf", "", 0},
        {{"-wrf", "-F1"}, 2, "F", "1", PROBLEM_VALUE_OF_OPTION},
        {{"-ww3", "1", "2", "-C1"}, 3, nullptr, "", PROBLEM_NOT_OPTION | PROBLEM_VALUE_OF_OPTION},
        {{"-ww3", "1", "2", "-C1"}, 4, "C", "1", PROBLEM_NOT_EXECUTED},
        {{"-F1", "-ww5", "1", "2"}, 2, "Ww", "5", PROBLEM_MISPLACED_W},
        {{"-F1", "-ww5", "1", "2"}, 4, nullptr, "", PROBLEM_NOT_OPTION | PROBLEM_VALUE_OF_W},
    };
    for (const ReadCase &c : cases) {
        std::vector<char *> argv = {const_cast<char *>("kestrel")};
        for (const char *a : c.args)
            argv.push_back(const_cast<char *>(a));
        command_line line;
        ASSERT_TRUE(read_command_line(static_cast<int>(argv.size()), argv.data(), &line));
        const parsed_option &o = line.options[c.index - 1];
        std::string form = o.row == nullptr ? "" : std::string(1, o.row->letter) + o.row->sub;
        EXPECT_EQ(form, c.form != nullptr ? c.form : "") << c.args[0] << " #" << c.index;
        EXPECT_STREQ(o.value, c.value) << c.args[0] << " #" << c.index;
        EXPECT_EQ(o.problems, c.problems) << c.args[0] << " #" << c.index;
        free_command_line(&line);
    }
}

TEST(OptionTable, ReceiverOptionsChooseSerialPathAddressAndPort) {
    const struct {
        std::vector<const char *> args;
        const char *serial, *path, *address;
        unsigned port;
        bool refused = false; // no receiver is tried
    } cases[] = {
        {{"-Nabc", "-N", "-PG:"}, "abc", "G:", KESTREL_DEFAULT_IP_ADDRESS, 50000},
        {{"-T127.0.0.1", "-P6000"}, "", "6000", "127.0.0.1", 6000},
        {{"-P65535", "-t127.0.0.1", "-T"}, "", "65535", "127.0.0.1", 65535},
        {{"-PMY RX/", "-N0001 2"}, "0001 2", "MY RX/", KESTREL_DEFAULT_IP_ADDRESS, 50000},
        {{"-P6000"}, "", "6000", KESTREL_DEFAULT_IP_ADDRESS, 50000}, // no -T: a drive path
        {{"-T", "-P65536"}, "", "65536", KESTREL_DEFAULT_IP_ADDRESS, 50000, true},
        {{"-T", "-P80x"}, "", "80x", KESTREL_DEFAULT_IP_ADDRESS, 50000, true},
    };
    for (const auto &c : cases) {
        std::vector<char *> argv = {const_cast<char *>("kestreld")};
        for (const char *a : c.args)
            argv.push_back(const_cast<char *>(a));
        receiver_choice choice = fresh_receiver_choice();
        for (int i = 1; i < static_cast<int>(argv.size()); i++)
            read_receiver_option(read_option(static_cast<int>(argv.size()), argv.data(), i),
                                 &choice);
        choose_receiver_port(&choice);
        EXPECT_STREQ(choice.serial, c.serial) << c.args[0];
        EXPECT_STREQ(choice.path, c.path) << c.args[0];
        EXPECT_STREQ(choice.address, c.address) << c.args[0];
        EXPECT_EQ(choice.port, c.port) << c.args[0];
        EXPECT_EQ(choice.refused != nullptr, c.refused) << c.args[0];
    }
}

// Every form's example, as the hints print it, is read back whole as that
// form with a value in its range.
TEST(OptionTable, ExamplesAreReadWholeAndInRange) {
    for (size_t i = 0; i < option_table_size; i++) {
        const option_row &row = option_table[i];
        if (row.value_at == 0)
            continue;
        std::string a = std::string("-") + row.letter + row.sub + row.example;
        char *argv[] = {const_cast<char *>("kestrel"), a.data()};
        parsed_option o = read_option(2, argv, 1);
        EXPECT_EQ(o.row, &row) << a;
        EXPECT_STREQ(o.value, row.example) << a;
        EXPECT_EQ(o.problems, 0) << a;
        if (row.kind == value_kind::decimal || row.kind == value_kind::hex) {
            EXPECT_GE(o.number, row.min) << a;
            EXPECT_LE(o.number, row.max) << a;
        }
    }
}

// The folder of a drive path, as the open hints name it: "\\" and drive
// letters count on Windows only.
TEST(DrivePath, FolderIsCutAfterTheLastSeparatorOfTheSystem) {
    const struct {
        const char *path;
        size_t posix, windows;
    } cases[] = {
        {"/media/me/RX/", 13, 13}, {"rx", 0, 0},  {"C:\\nosuchdir\\", 0, 13},
        {"C:/a/b", 5, 5},          {"C:", 0, 2},  {"d:rx\\x", 0, 5},
        {"./a\\b", 2, 4},          {"1:x", 0, 0},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(path_folder_length(c.path, false), c.posix) << c.path;
        EXPECT_EQ(path_folder_length(c.path, true), c.windows) << c.path;
    }
}

// The Windows build checks the table on Linux only: the sources are the same.
#ifdef KESTREL_SOURCE_DIR
// The table, the help screen, the man page and the bash completion list the
// same options. A form is keyed as "-" and its upper-case letter and
// sub-letters ("-Gl", "-Wrf"); a long option as it is written.
std::string form_key(std::string typed) {
    if (typed.size() > 1 && typed[1] != '-')
        typed[1] = static_cast<char>(toupper(static_cast<unsigned char>(typed[1])));
    if (typed.size() > 2 && typed[1] == 'S') // -S's D and N in either case
        typed[2] = static_cast<char>(toupper(static_cast<unsigned char>(typed[2])));
    return typed;
}

std::string read_source_file(const char *name) {
    std::ifstream in(std::string(KESTREL_SOURCE_DIR) + "/" + name);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(OptionTable, HelpManPageAndCompletionListTheTablesOptions) {
    std::set<std::string> forms, valued, help_letters;
    for (size_t i = 0; i < option_table_size; i++) {
        const option_row &row = option_table[i];
        std::string key = row.letter == '-' ? std::string("--") + row.sub
                                            : std::string("-") + row.letter + row.sub;
        forms.insert(key);
        if (row.value_at != 0)
            valued.insert(key);
        if (row.on_help_screen)
            help_letters.insert(std::string("-") + row.letter);
    }
    // The help screen: the letters of its option headers ("\t-F <frequency>").
    std::set<std::string> help;
    std::string text = help_text;
    for (size_t at = 0; (at = text.find("\n\r\t-", at)) != std::string::npos; at += 4)
        if (isalpha(static_cast<unsigned char>(text[at + 4])))
            help.insert(form_key(text.substr(at + 3, 2)));
    EXPECT_EQ(help, help_letters);

    // The completion's forms; "=" marks those that take a value attached.
    std::string completion = read_source_file("dist/kestrel.bash-completion");
    std::smatch list;
    ASSERT_TRUE(std::regex_search(completion, list, std::regex(R"(_kestrel_forms=\(([^)]*)\))")));
    std::set<std::string> offered, offered_valued;
    std::istringstream words(list[1].str());
    for (std::string w; words >> w;) {
        bool takes_value = w.back() == '=';
        std::string key = form_key(takes_value ? w.substr(0, w.size() - 1) : w);
        offered.insert(key);
        if (takes_value)
            offered_valued.insert(key);
    }
    EXPECT_EQ(offered, forms);
    EXPECT_EQ(offered_valued, valued);

    // The man page: the forms that head the entries of its OPTIONS section.
    std::string man = read_source_file("dist/kestrel.1");
    size_t begin = man.find(".SH OPTIONS"), end = man.find(".SH ", begin + 1);
    ASSERT_NE(begin, std::string::npos);
    std::istringstream section(man.substr(begin, end - begin));
    std::set<std::string> entries;
    bool heading = false;
    const std::regex form(R"(\\-(\\-)?[A-Za-z?]+)");
    for (std::string l; std::getline(section, l); heading = l == ".TP") {
        if (!heading)
            continue;
        for (std::sregex_iterator m(l.begin(), l.end(), form), none; m != none; ++m)
            entries.insert(form_key(std::regex_replace(m->str(), std::regex(R"(\\)"), "")));
    }
    EXPECT_EQ(entries, forms);
}

#endif

} // namespace
