// SPDX-License-Identifier: MIT
// User memory cells: the backup line reader, which cells and values may be
// stored, and restoring a file with no receiver answering (no transport
// open, so the first store ends the restore at once; the rest of the file is
// still read, to name the cells that were not restored).
#include "commands.h"
#include "fe_interface.h"
#include "user_memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

namespace {

struct LineCase {
    const char *name;
    std::string text;
    bool whole;
    backup_line_kind kind;
    backup_line values;
};

TEST(BackupLine, ReadsWhatTheWriterWritesAndRefusesWhatIsNotFourNumbers) {
    const std::string long_blanks(250, ' ');
    const LineCase cases[] = {
        {"written line", "10 1900000 1 0 \r", true, BACKUP_DATA, {10, 1900000, 1, 0}},
        {"negative frequency", "3 -1 65535 65535 \r", true, BACKUP_DATA, {3, -1, 65535, 65535}},
        {"tabs, signs, CR CR", "\t+7\t-5 +2  9\r\r", true, BACKUP_DATA, {7, -5, 2, 9}},
        {"text after the fourth", "1 2 3 4 anything", true, BACKUP_DATA, {1, 2, 3, 4}},
        {"no line end at file end", "1 2 3 4", true, BACKUP_DATA, {1, 2, 3, 4}},
        {"huge number held, not wrapped",
         "4294967306 1 0 0",
         true,
         BACKUP_DATA,
         {4294967306, 1, 0, 0}},
        {"comment", "# 5 100 1 0", true, BACKUP_COMMENT, {}},
        {"blank", "", true, BACKUP_TOO_FEW_NUMBERS, {}},
        {"carriage return only", "\r", true, BACKUP_TOO_FEW_NUMBERS, {}},
        {"blank then #", "  # 5 100 1 0", true, BACKUP_TOO_FEW_NUMBERS, {}},
        {"truncated", "5 100 1", true, BACKUP_TOO_FEW_NUMBERS, {}},
        {"not numbers", "five 100 1 0", true, BACKUP_TOO_FEW_NUMBERS, {}},
        {"zero byte inside", std::string("5 100\0 1 0", 10), true, BACKUP_TOO_FEW_NUMBERS, {}},
        {"long line, numbers complete",
         "5 100 1 0 " + std::string(244, 'x'),
         false,
         BACKUP_DATA,
         {5, 100, 1, 0}},
        {"long line, last number at the cut", long_blanks + "5 1 0 1", false, BACKUP_TOO_LONG, {}},
        {"long line, numbers beyond the cut", long_blanks + "5 1", false, BACKUP_TOO_LONG, {}},
    };
    for (const LineCase &c : cases) {
        backup_line got{-9, -9, -9, -9};
        EXPECT_EQ(parse_backup_line(c.text.c_str(), c.text.size(), c.whole, &got), c.kind)
            << c.name;
        if (c.kind == BACKUP_DATA) {
            EXPECT_EQ(got.address, c.values.address) << c.name;
            EXPECT_EQ(got.freq, c.values.freq) << c.name;
            EXPECT_EQ(got.mode, c.values.mode) << c.name;
            EXPECT_EQ(got.trvtr_index, c.values.trvtr_index) << c.name;
        }
    }
}

struct StoreCase {
    int64_t cell, freq, mode, trvtr;
    int report_size;
    bool storable;
    const char *reason_part;
};

TEST(UserMemoryCell, StoresOnlyExistingCellsWithValuesThatArriveWhole) {
    const StoreCase cases[] = {
        {0, 1900000, 1, 0, 7, true, ""},
        {99, 4294967295, 65535, 65535, 7, true, ""},
        {99, INT32_MIN, 0, 0, 7, true, ""},
        {100, 1, 0, 0, 7, false, "cell 100"},
        {128, 1, 0, 0, 7, false, "cell 128"}, // would land on cell 0
        {-1, 1, 0, 0, 7, false, "cell -1"},
        {5, 4294967296, 0, 0, 7, false, "frequency 4294967296"},
        {5, int64_t{INT32_MIN} - 1, 0, 0, 7, false, "frequency"},
        {5, 1, 65536, 0, 7, false, "mode 65536"},
        {5, 1, -1, 0, 7, false, "mode -1"},
        {5, 1, 0, 65536, 7, false, "transverter index 65536"},
        {5, 1, 0, -2, 7, false, "transverter index -2"},
        // A 5-byte report carries only the low 16 bits of a word.
        {5, 65535, 65535, 0, 5, true, ""},
        {5, 65536, 0, 0, 5, false, "the frequency"},
        {5, -1, 0, 0, 5, false, "the frequency"},
        {5, 1000, 2, 1, 5, false, "transverter"},
    };
    for (const StoreCase &c : cases) {
        char why[160] = "";
        bool ok = user_memory_cell_storable(c.cell, c.freq, c.mode, c.trvtr, c.report_size, why,
                                            sizeof why);
        EXPECT_EQ(ok, c.storable) << c.cell << " " << c.freq << " " << c.mode << " " << c.trvtr;
        if (!c.storable) {
            EXPECT_NE(std::string(why).find(c.reason_part), std::string::npos) << why;
        }
    }
}

// A scratch directory with nothing open towards any receiver.
class NoReceiver : public ::testing::Test {
  protected:
    void SetUp() override {
        hid_status = 0;
        hid_tcp_network_flag = 0;
        HID_COMMAND_SIZE = 7;
        char tmpl[] = "/tmp/kestrel-memory-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override {
        HID_COMMAND_SIZE = 7;
        std::string cmd = "rm -rf '" + dir + "'";
        ASSERT_EQ(system(cmd.c_str()), 0);
    }
    void write_file(const std::string &name, const std::string &content) {
        std::ofstream f(dir + "/" + name, std::ios::binary);
        f << content;
    }
    std::string dir;
};

size_t count(const std::string &text, const std::string &what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        n++;
    return n;
}

TEST_F(NoReceiver, RestoreSkipsWhatCannotBeStoredExactlyAndNamesTheLine) {
    const std::string file = "# header\r\n"             // 1
                             "\r\n"                     // 2 blank
                             "  # indented comment\r\n" // 3
                             "1 1000 2 3 \r\n"          // 4 stored
                             "2 2000\r\n"               // 5 truncated
                             "128 3000 1 0 \r\n"        // 6 no such cell
                             "4294967299 3000 1 0 \r\n" // 7 would wrap to 3
                             "4 -1 65536 0 \r\n"        // 8 mode too big
                             "#" +
                             std::string(300, 'c') +
                             " 9 9 9 9\r\n" // 9 long comment
                             "5 5000 1 0 " +
                             std::string(300, 'x') + "\r\n" // 10 stored
                             + std::string(260, ' ') +
                             "6 6000 1 0\r\n"    // 11 too long
                             "7 -1 65535 65535"; // 12 stored, no line end
    write_file("b.txt", file);
    std::string path = dir + "/b.txt";
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    int result = restore_user_memory_from_file(path.c_str());
    std::string out = testing::internal::GetCapturedStdout();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(result, -1);
    EXPECT_EQ(count(out, "UM: cell="), 1u) << out;
    EXPECT_NE(out.find("1 1000 2 3 \n\r"), std::string::npos);
    EXPECT_NE(out.find("restore from backup file: " + path + "\r\n"), std::string::npos);
    for (int line : {2, 3})
        EXPECT_NE(err.find("line " + std::to_string(line) + " skipped"), std::string::npos)
            << "line " << line << "\n"
            << err;
    // Of the lines after the stop, only those that would have been stored
    // name their cells; the end of the long comment is none.
    EXPECT_NE(err.find("User memory cell 1 got no answer to its store: the restore stops at line 4 "
                       "of the backup file\nUser memory cells restored: none\nUser memory cells "
                       "not restored: 1, 5, 7\n"),
              std::string::npos)
        << err;
}

TEST_F(NoReceiver, RestoreStopsAfterAHundredStoredLinesNotCountingSkippedOnes) {
    std::string file;
    for (int i = 0; i < 5; i++)
        file += "\r\n"; // skipped, not counted
    // Cell 0 on 99 lines, cell 1 on the 100th, cells 2 to 6 after it.
    for (int i = 0; i < 105; i++)
        file += std::to_string(i < 99 ? 0 : i - 98) + " " + std::to_string(1000 + i) + " 0 0 \r\n";
    write_file("b.txt", file);
    std::string path = dir + "/b.txt";
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    restore_user_memory_from_file(path.c_str());
    testing::internal::GetCapturedStdout();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("User memory cells not restored: 0-1\n"), std::string::npos) << err;
}

} // namespace
