// SPDX-License-Identifier: MIT
// Start-up end to end: the empty command line, a run with no receiver, the
// -L listing, the four USB identities, choosing by serial number, and the
// drive files.
#include "harness.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace e2e {
namespace {

const char kNothingToDo[] = "Nothing To Do, please write the command to SDR! \n\r";

std::string listing_record(const std::string &vid_pid, const std::string &path,
                           const std::string &serial, const std::string &manufacturer,
                           const std::string &product) {
    return "Device Found\n  type: " + vid_pid + "\n  path: " + path +
           "\n  serial_number: " + serial + "\n  Manufacturer: " + manufacturer +
           "\n  Product:      " + product + "\n\n";
}

const char kListHead[] = "Trying to enumerate USB-HID devices ->";

TEST(Startup, EmptyCommandLineShowsHelpAndEndsWithMinusTwo) {
    HidSim sim;
    sim.add_device();
    RunResult r = run_kestrel({}, sim);
    EXPECT_EQ(r.status, 254);
    EXPECT_EQ(r.err, "");
    // Banner, the help screen (its text has tests of its own), the closing line.
    EXPECT_EQ(r.out, banner() + help_screen() + kNothingToDo);
    EXPECT_TRUE(sim.requests().empty()); // the receiver is not touched
}

TEST(Startup, HelpOptionShowsTheScreenEachTimeAndGoesOn) {
    HidSim sim;
    sim.add_device();
    RunResult r = run_kestrel({"-H", "-h"}, sim);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, banner() + hid_open_text() + help_screen() + help_screen());
}

TEST(Startup, NoReceiverEndsWithMinusOne) {
    ScratchDir cwd; // the default drive path is relative here: nothing named G:\... exists
    RunResult r = run_kestrel({"-F7000000"}, {.cwd = cwd.path()});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, banner() + no_receiver_text());
    EXPECT_EQ(r.err, "Input file G:\\command.in open  error 2\n\r" + no_receiver_hint());
}

TEST(Startup, HelpNeedsAReceiverWhenOtherwiseNothingOpens) {
    ScratchDir cwd;
    RunResult r = run_kestrel({"-H"}, {.cwd = cwd.path()});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, banner() + no_receiver_text());
}

TEST(Startup, ArgumentsThatAreNoOptionsOpenAndCloseOnly) {
    HidSim sim;
    sim.add_device();
    RunResult r = run_kestrel({"F7000000"}, sim);
    EXPECT_EQ(r.status, 1); // what was skipped fails the run
    EXPECT_EQ(r.out, banner() + hid_open_text());
    EXPECT_EQ(r.err, "kestrel: \"F7000000\" was skipped: it is not an option; a value follows its "
                     "option's letter in the same argument, as in -F14100000\n");
    EXPECT_TRUE(sim.requests().empty());
}

// ---------------------------------------------------------------------------
// -L
// ---------------------------------------------------------------------------

TEST(Listing, NoReceiverListsNothingThenFailsToOpen) {
    ScratchDir cwd;
    RunResult r = run_kestrel({"-L"}, {.cwd = cwd.path()});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out,
              banner() + kListHead + "PID(0x0002)=0 , PID(0x0006)=0\n\r" + no_receiver_text());
}

struct ListingCase {
    const char *name;
    std::vector<HidDevice> devices;
    std::string listing; // between the arrow and the open
    std::string product; // product string of the receiver that opens
};

void PrintTo(const ListingCase &c, std::ostream *os) {
    *os << c.name;
}

class ListingTest : public ::testing::TestWithParam<ListingCase> {};

TEST_P(ListingTest, ListsOnlyTheListedIdentitiesAndOpensTheFirstIdentity) {
    const ListingCase &c = GetParam();
    HidSim sim;
    for (const HidDevice &d : c.devices)
        sim.add_device(d);
    RunResult r = run_kestrel({"-L"}, sim);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, banner() + kListHead + c.listing + hid_open_text(c.product));
}

INSTANTIATE_TEST_SUITE_P(
    Receivers, ListingTest,
    ::testing::Values(
        ListingCase{"One0002",
                    {HidDevice{}},
                    listing_record("255d 0002", "sim-hid-1", "0001", "TALMIR", "TALMIR SDR") +
                        "PID(0x0002)=1 , PID(0x0006)=0\n\r",
                    "TALMIR SDR"},
        ListingCase{"One0006",
                    {HidDevice{.pid = 0x0006, .serial = "S6", .product = "Six"}},
                    "PID(0x0002)=0 , " +
                        listing_record("255d 0006", "sim-hid-1", "S6", "TALMIR", "Six") +
                        "PID(0x0006)=1\n\r",
                    "Six"},
        ListingCase{"Two0002AndOne0006InListOrder",
                    {HidDevice{.pid = 0x0006, .serial = "C", .product = "Third"},
                     HidDevice{.serial = "A", .product = "First"},
                     HidDevice{.serial = "B", .product = "Second", .path = "/dev/hidraw7"}},
                    listing_record("255d 0002", "sim-hid-2", "A", "TALMIR", "First") +
                        listing_record("255d 0002", "/dev/hidraw7", "B", "TALMIR", "Second") +
                        "PID(0x0002)=2 , " +
                        listing_record("255d 0006", "sim-hid-1", "C", "TALMIR", "Third") +
                        "PID(0x0006)=1\n\r",
                    "First"},
        ListingCase{"Only0001IsNotListedButOpens",
                    {HidDevice{.pid = 0x0001, .product = "One"}},
                    "PID(0x0002)=0 , PID(0x0006)=0\n\r",
                    "One"},
        ListingCase{"Only0483IsNotListedButOpens",
                    {HidDevice{.vid = 0x0483, .pid = 0x5932, .product = "Old"}},
                    "PID(0x0002)=0 , PID(0x0006)=0\n\r",
                    "Old"},
        ListingCase{
            "MissingStringsListAsEmpty",
            {HidDevice{.serial = std::nullopt, .product = "P", .manufacturer = std::nullopt}},
            listing_record("255d 0002", "sim-hid-1", "", "", "P") +
                "PID(0x0002)=1 , PID(0x0006)=0\n\r",
            "P"},
        // A device's strings cannot steer the terminal: C0, DEL and C1
        // show escaped; other letters stay (as '?' in the narrowed product).
        ListingCase{"ControlCharactersShowEscaped",
                    {HidDevice{.serial = "00\x1b[2J01",
                               .product = "\x1b]0;owned\x07RX \xc2\x9b"
                                          "31m\xc3\xa9",
                               .manufacturer = "T\x7f",
                               .path = "/dev/hid\x1b[5mraw0"}},
                    listing_record("255d 0002", "/dev/hid\\x1b[5mraw0", "00\\x1b[2J01", "T\\x7f",
                                   "\\x1b]0;owned\\x07RX \\x9b31m\xc3\xa9") +
                        "PID(0x0002)=1 , PID(0x0006)=0\n\r",
                    "\\x1b]0;owned\\x07RX ?31m?"}),
    [](const ::testing::TestParamInfo<ListingCase> &param_info) { return param_info.param.name; });

TEST(Listing, EveryLListsAgain) {
    HidSim sim;
    sim.add_device({.pid = 0x0001});
    RunResult r = run_kestrel({"-L", "-l"}, sim);
    const std::string empty_list = std::string(kListHead) + "PID(0x0002)=0 , PID(0x0006)=0\n\r";
    EXPECT_EQ(r.out, banner() + empty_list + empty_list + hid_open_text());
}

// ---------------------------------------------------------------------------
// Identities and the serial number
// ---------------------------------------------------------------------------

struct OpenCase {
    const char *name;
    std::vector<HidDevice> devices;
    std::vector<std::string> args;
    std::string opened; // product string of the receiver that opens
};

void PrintTo(const OpenCase &c, std::ostream *os) {
    *os << c.name;
}

class OpenTest : public ::testing::TestWithParam<OpenCase> {};

TEST_P(OpenTest, OpensTheExpectedReceiver) {
    const OpenCase &c = GetParam();
    HidSim sim;
    for (const HidDevice &d : c.devices)
        sim.add_device(d);
    RunResult r = run_kestrel(c.args, sim);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, banner() + hid_open_text(c.opened));
}

const HidDevice kId1{.vid = 0x0483, .pid = 0x5932, .serial = "S1", .product = "Identity 1"};
const HidDevice kId2{.vid = 0x255D, .pid = 0x0002, .serial = "S2", .product = "Identity 2"};
const HidDevice kId3{.vid = 0x255D, .pid = 0x0001, .serial = "S3", .product = "Identity 3"};
const HidDevice kId4{.vid = 0x255D, .pid = 0x0006, .serial = "S4", .product = "Identity 4"};

INSTANTIATE_TEST_SUITE_P(
    Receivers, OpenTest,
    ::testing::Values(
        OpenCase{"Identity1", {kId1}, {"-C0"}, "Identity 1"},
        OpenCase{"Identity2", {kId2}, {"-C0"}, "Identity 2"},
        OpenCase{"Identity3", {kId3}, {"-C0"}, "Identity 3"},
        OpenCase{"Identity4", {kId4}, {"-C0"}, "Identity 4"},
        OpenCase{"IdentityOrderBeatsAttachOrder", {kId4, kId3, kId2, kId1}, {"-C0"}, "Identity 1"},
        OpenCase{"Identity2Before3And4", {kId4, kId3, kId2}, {"-C0"}, "Identity 2"},
        OpenCase{"SerialChoosesAmongTwo",
                 {HidDevice{.serial = "AAA", .product = "A"},
                  HidDevice{.serial = "BBB", .product = "B"}},
                 {"-NBBB"},
                 "B"},
        OpenCase{"NoSerialTakesTheFirst",
                 {HidDevice{.serial = "AAA", .product = "A"},
                  HidDevice{.serial = "BBB", .product = "B"}},
                 {"-C0"},
                 "A"},
        OpenCase{"SerialComparesExactly",
                 {HidDevice{.serial = "BBB1", .product = "Longer"},
                  HidDevice{.serial = "bbb", .product = "Lower"},
                  HidDevice{.serial = "BBB", .product = "Exact"}},
                 {"-NBBB"},
                 "Exact"},
        OpenCase{"SerialSearchesEveryIdentity", {kId1, kId2, kId4}, {"-NS4"}, "Identity 4"},
        OpenCase{"LaterSerialWins",
                 {HidDevice{.serial = "AAA", .product = "A"},
                  HidDevice{.serial = "BBB", .product = "B"}},
                 {"-NBBB", "-NAAA"},
                 "A"},
        OpenCase{"EmptySerialChoosesNone",
                 {HidDevice{.serial = "AAA", .product = "A"},
                  HidDevice{.serial = "BBB", .product = "B"}},
                 {"-N"},
                 "A"},
        OpenCase{"ReceiverWithoutSerialOpensWithoutN",
                 {HidDevice{.serial = std::nullopt, .product = "NoSerial"}},
                 {"-C0"},
                 "NoSerial"}),
    [](const ::testing::TestParamInfo<OpenCase> &param_info) { return param_info.param.name; });

TEST(Open, UnreadableProductStringStillOpens) {
    HidSim sim;
    sim.add_device({.product = std::nullopt});
    RunResult r = run_kestrel({"-C0"}, sim);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, banner() + "Init HID interface - Blocking I/O mode!!! \n"
                                "Unable to read product string device was found!!!\n");
}

TEST(Open, LongProductStringIsCutTo127Characters) {
    HidSim sim;
    sim.add_device({.product = std::string(300, 'p')});
    RunResult r = run_kestrel({"-C0"}, sim);
    EXPECT_EQ(r.out, banner() + hid_open_text(std::string(127, 'p')));
}

TEST(Open, ReceiverThatCannotBeOpenedFallsBackToTheDrive) {
    HidSim sim;
    sim.add_device({.openable = false});
    MsdSim msd;
    RunResult r = run_kestrel({"-P" + msd.drive()}, sim);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, banner() + msd_open_text(msd.drive()));
}

TEST(Open, SerialWithNoMatchFallsBackToTheDrive) {
    HidSim sim;
    sim.add_device({.serial = "AAA"});
    MsdSim msd;
    RunResult r = run_kestrel({"-NZZZ", "-P" + msd.drive()}, sim);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, banner() + msd_open_text(msd.drive()));
}

TEST(Open, SerialNotValidInTheLocaleChoosesNoReceiver) {
    HidSim sim;
    sim.add_device({.serial = "AAA"});
    ScratchDir cwd;
    RunResult r = run_kestrel({"-N\xff\xfe"}, sim, {.cwd = cwd.path()});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, banner() + no_receiver_text());
    EXPECT_NE(r.err.find("\xff\xfe"), std::string::npos) << r.err; // the refusal names it
}

// ---------------------------------------------------------------------------
// The drive files
// ---------------------------------------------------------------------------

TEST(Drive, OpensTheFilesAtThePath) {
    MsdSim msd;
    RunResult r = run_kestrel({"-P" + msd.drive()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, banner() + msd_open_text(msd.drive()));
}

TEST(Drive, PathIsUsedAsGivenWithoutASeparator) {
    // "DIR/drive" without the final "/" names the files "DIR/drivecommand.in"
    // and "DIR/drivecommand.out".
    ScratchDir dir;
    dir.write("drivecommand.in", std::string(512, '\0'));
    dir.write("drivecommand.out", std::string(512, '\0'));
    RunResult r = run_kestrel({"-P" + dir.file("drive")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, banner() + msd_open_text(dir.file("drive")));
}

TEST(Drive, MissingAnswerFile) {
    ScratchDir dir;
    const std::string drive = dir.subdir("drive");
    dir.write("drive/command.out", std::string(512, '\0'));
    RunResult r = run_kestrel({"-P" + drive});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, banner() + no_receiver_text(drive));
    EXPECT_EQ(r.err, "Input file " + drive + "command.in open  error 2\n\r" +
                         drive_hint(drive, "command.in", "holds no"));
}

TEST(Drive, MissingRequestFile) {
    ScratchDir dir;
    const std::string drive = dir.subdir("drive");
    dir.write("drive/command.in", std::string(512, '\0'));
    RunResult r = run_kestrel({"-P" + drive});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, banner() + "Init HID interface - Blocking I/O mode!!! \nThe TALMIR path is: " +
                         drive +
                         "\n\rUnable to open Output device!\r\nCannot open TALMIR SDR!\n\r");
    EXPECT_EQ(r.err, "Output file error 2\n\r" + drive_hint(drive, "command.out", "holds no"));
}

// Another kestrel holding the drive: both files are locked while it runs.
TEST(Drive, FilesInUseByAnotherRunDoNotOpen) {
    MsdSim msd;
    for (const char *held : {"command.in", "command.out"}) {
        SCOPED_TRACE(held);
        int fd = open((msd.drive() + held).c_str(), O_RDWR);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
        RunResult r = run_kestrel({"-P" + msd.drive()});
        close(fd);
        EXPECT_EQ(r.status, 255);
        if (std::string(held) == "command.in") {
            EXPECT_EQ(r.out, banner() + no_receiver_text(msd.drive()));
            EXPECT_EQ(r.err, "Input file " + msd.drive() + "command.in open  error 11\n\r" +
                                 drive_hint(msd.drive(), held, "in use"));
        } else {
            EXPECT_EQ(r.err, "Output file error 11\n\r" + drive_hint(msd.drive(), held, "in use"));
        }
    }
}

// A failed open ends with one line that says why in words and what to do.
TEST(Drive, FailedOpenSaysWhatToDo) {
    ScratchDir dir;
    const std::string drive = dir.subdir("drive");
    dir.write("drive/command.in", std::string(512, '\0'));
    dir.write("drive/command.out", std::string(512, '\0'));
    const std::string no_slash = drive.substr(0, drive.size() - 1);
    const std::pair<std::string, std::string> cases[] = {
        {no_slash, "kestrel: " + no_slash + "command.in does not exist, but " + drive +
                       "command.in does: the drive path must end in \"/\": write -P" + drive +
                       "\n"},
        {drive + "gone/", "kestrel: the directory " + drive +
                              "gone/ does not exist (No such file or directory): mount the "
                              "receiver's drive and give its directory, ending in \"/\", as "
                              "-P<dir>/\n"},
        // A path that holds an escape sequence is shown with it made visible.
        {drive + "gone\x1b[2J/", "kestrel: the directory " + drive +
                                     "gone\\x1b[2J/ does not exist (No such file or directory): "
                                     "mount the receiver's drive and give its directory, ending in "
                                     "\"/\", as -P<dir>/\n"},
    };
    for (const auto &[path, hint] : cases) {
        std::string shown = path;
        if (size_t esc = shown.find('\x1b'); esc != std::string::npos)
            shown.replace(esc, 1, "\\x1b");
        RunResult r = run_kestrel({"-P" + path, "-V"});
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.out, banner() + no_receiver_text(shown));
        EXPECT_EQ(r.err, "Input file " + shown + "command.in open  error 2\n\r" + hint);
    }
}

TEST(Drive, OverlongPathOpensNothingAndSaysSo) {
    ScratchDir cwd;
    const std::string path(250, 'd');
    RunResult r = run_kestrel({"-P" + path + "/"}, {.cwd = cwd.path()});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, banner() + no_receiver_text(path + "/"));
    EXPECT_NE(r.err, "");
}

TEST(Drive, HidReceiverIsPreferredToTheDrive) {
    HidSim sim;
    sim.add_device();
    MsdSim msd;
    RunResult r = run_kestrel({"-P" + msd.drive()}, sim);
    EXPECT_EQ(r.out, banner() + hid_open_text());
}

// ---------------------------------------------------------------------------
// What the run skips or reads only in part: one line on standard error each
// ---------------------------------------------------------------------------

TEST(LongOptions, HelpAndVersionOpenNothing) {
    for (const char *option : {"--help", "--version"}) {
        ScratchDir cwd; // no receiver: an open would fail
        RunResult r = run_kestrel({"-F7000000", option}, {.cwd = cwd.path()});
        EXPECT_EQ(r.status, 0) << option;
        EXPECT_EQ(r.err, "") << option;
        EXPECT_EQ(r.out, option[2] == 'h' ? help_screen() : "kestrel " KESTREL_VERSION_TEXT "\n");
    }
}

// Output that cannot be written fails the run; 255 stays 255.
TEST(LostOutput, AFullDiskEndsWithOneUnlessNothingOpened) {
    HidSim sim;
    sim.add_device();
    const struct {
        std::vector<std::string> args;
        int status;
    } cases[] = {
        {{"--version"}, 1}, {{"--help"}, 1}, {{"-V"}, 1}, {{"-P/nonexistent/", "-N9"}, 255}};
    for (const auto &c : cases) {
        std::vector<std::string> args = {"-c", "exec \"$@\" >/dev/full", "sh", kestrel_binary()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        RunResult r = run_process("/bin/sh", args, {.env = sim.env()});
        EXPECT_EQ(r.status, c.status) << c.args[0];
    }
}

// Each line with an argument that is skipped or read only in part prints
// what its correct form prints on standard output, and one line on standard
// error; the correct form prints nothing there.
TEST(Arguments, SkippedOrPartlyReadSaySoAndPrintWhatTheirCorrectFormPrints) {
    struct Case {
        std::vector<std::string> args, correct;
        std::string err; // part of the first line
        int status = 1;
        long lines = 1;
    };
    const Case cases[] = {
        {{"-F", "14100000"}, {"-F"}, "so -F sent nothing; write -F14100000"},
        {{"-F7000000", "-G", "10"},
         {"-F7000000", "-G"},
         "so -G used its previous value 0; write -G10"},
        {{"-N", "0001", "-C0"}, {"-C0"}, "so no serial number chooses the receiver; write -N0001"},
        {{"-P", "/media/x/"},
         {"-C0"},
         "so the drive is looked for among the mounts; write -P/media/x/"},
        {{"-f14.1M"},
         {"-C0"},
         "-f14.1M: \".1M\" is not part of a number, so nothing was sent; write a number from 0 "
         "to 4294967295 alone, as in -f14100000"},
        {{"-Gfoo"}, {"-C0"}, "-Gfoo: \"foo\" is not a number, so nothing was sent;"},
        {{"-G99", "-F7000000"}, {"-F7000000"}, "-G99: 99 is outside -10 to 35, so nothing was"},
        {{"-G-11"}, {"-C0"}, "-G-11: -11 is outside -10 to 35"},
        {{"-Gl256"}, {"-C0"}, "-Gl256: 256 is outside 0 to 255"},
        {{"-F-1"}, {"-C0"}, "-F-1: -1 is outside 0 to 4294967295"},
        {{"-F4294967296"}, {"-C0"}, "-F4294967296: 4294967296 is outside 0 to 4294967295"},
        {{"-C7", "-F7000000", "-G10", "-C1", "-F7000000"},
         {"-C1", "-F7000000"},
         "-C7: 7 is outside 0 to 3, so the channel is not changed",
         1,
         3},
        {{"-Jzz"}, {"-C0"}, "-Jzz: \"zz\" is not a hexadecimal number, so nothing was sent"},
        {{"-J10000"}, {"-C0"}, "-J10000: 10000 is outside 0 to FFFF"},
        {{"-S47999", "-V"}, {"-V"}, "-S47999: 47999 is outside 48000 to 4294967295"},
        {{"-Z5", "-C0"}, {"-C0"}, "-Z5 was skipped: \"-Z\" is not an option"},
        {{"--frequency=14100000"},
         {"-C0"},
         "--frequency=14100000 was skipped: kestrel has no such option"},
        {{"-Vx"}, {"-V"}, "-Vx: \"x\" was ignored: -V takes no value"},
        {{"-J3A34x"}, {"-C0"}, "\"x\" is not part of a hexadecimal number, so nothing was"},
        {{"-F7000000", "-wrf", "b.txt"},
         {"-F7000000"},
         "-wrf was skipped: a -W command must be the first argument, as in kestrel -wrf b.txt"},
        {{"-wr10", "-F7000000"},
         {"-wr10"},
         "-F7000000 was not executed: a -W command runs alone",
         0},
        {{"-wrx"}, {"-C0"}, "-wrx: \"x\" is not a number, so nothing was read"},
        {{"-ww10"}, {"-ww10", "0 0 0"}, "-ww10 has no values, so cell 10 is cleared to zeros", 0},
        {{"-ww10", "1900000", "1", "0"},
         {"-C0"},
         "only \"1900000\" was read, so nothing was stored; quote the three numbers: kestrel "
         "-ww10 \"1900000 1 0\""},
        {{"-ww10", "1900000 1"}, {"-C0"}, "the values are not three numbers, so nothing was"},
    };
    HidSim sim;
    sim.add_device();
    for (const Case &c : cases) {
        RunResult correct = run_kestrel(c.correct, sim);
        RunResult r = run_kestrel(c.args, sim);
        const std::string name = c.args[0] + " " + (c.args.size() > 1 ? c.args[1] : "");
        EXPECT_EQ(correct.err, "") << name;
        EXPECT_EQ(r.out, correct.out) << name;
        EXPECT_EQ(r.status, c.status) << name;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), c.lines) << name << ": " << r.err;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << name << ": " << r.err;
    }
}

// -T with its address as a separate argument contacts another address; the
// later -T here keeps that on this machine.
TEST(Arguments, TcpAddressAndPort) {
    MsdSim sim({.tcp = true});
    const std::string port = std::to_string(sim.tcp_port());
    RunResult r = run_kestrel({"-T", "127.0.0.1", "-T127.0.0.1", "-P" + port, "-F7000000"});
    RunResult correct = run_kestrel({"-T127.0.0.1", "-P" + port, "-F7000000"});
    EXPECT_EQ(r.status, 1); // the separate value was skipped
    EXPECT_EQ(r.out, correct.out);
    EXPECT_EQ(r.err, "kestrel: -T has no value: \"127.0.0.1\" is a separate argument and was "
                     "skipped, so 127.0.0.1 port " +
                         port + " is contacted instead; write -T127.0.0.1\n");
    for (const char *p : {"-P65536", "-P115535", "-P0", "-P5000x"}) {
        r = run_kestrel({"-T127.0.0.1", p, "-F7000000"});
        EXPECT_EQ(r.status, 255) << p;
        EXPECT_EQ(r.out, banner() + "Cannot open TALMIR SDR!\n\r") << p;
        EXPECT_EQ(r.err, "kestrel: " + std::string(p) +
                             ": with -T the TCP port is a number from 1 to 65535, so no "
                             "connection is tried; write it alone in digits, as in -P50000\n");
    }
    r = run_kestrel({"-T127.0.0.1:" + port, "-F7000000"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "kestrel: -T127.0.0.1:" + port +
                         ": the port goes in -P, not in -T: write "
                         "-T127.0.0.1 -P" +
                         port + " (\"127.0.0.1:" + port +
                         "\" is not an address, so no connection is tried)\n"
                         "Cannot connect to  SDR!\n\r");
}

} // namespace
} // namespace e2e
