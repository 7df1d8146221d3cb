// SPDX-License-Identifier: MIT
// A receiver that is plugged in but cannot be opened gets one hint line on
// standard error; standard output stays what it is without the receiver.
#include "harness.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

using namespace e2e;

namespace {

std::string hint(const std::string &identity, const std::string &path) {
    return "Hint: receiver " + identity + " is attached (" + path +
           ") but cannot be opened; to open it without root, install the udev rules file "
           "60-kestrel.rules and plug it in again; over SSH, also join the group plugdev (see "
           "PERMISSIONS in kestrel(1))\n";
}

struct HintCase {
    const char *name;
    std::vector<HidDevice> devices;
    std::vector<std::string> extra_args;
    // The hint expected in front of the drive's error lines; nullopt: the
    // receiver opens.
    std::optional<std::string> hint;
};

HidDevice closed(uint16_t vid, uint16_t pid, const std::string &path,
                 std::optional<std::string> serial = "0001") {
    return HidDevice{.vid = vid, .pid = pid, .serial = serial, .path = path, .openable = false};
}

TEST(AccessHint, NamesTheReceiverThatCannotBeOpened) {
    const HintCase cases[] = {
        {"one receiver without access",
         {closed(0x255D, 0x0002, "/dev/hidraw7")},
         {},
         hint("255d:0002", "/dev/hidraw7")},
        {"a 5-byte identity",
         {closed(0x0483, 0x5932, "/dev/hidraw1")},
         {},
         hint("0483:5932", "/dev/hidraw1")},
        {"two without access: one line, the first identity tried",
         {closed(0x255D, 0x0006, "/dev/hidraw3"), closed(0x0483, 0x5932, "/dev/hidraw2")},
         {},
         hint("0483:5932", "/dev/hidraw2")},
        {"-N of that receiver",
         {closed(0x255D, 0x0001, "/dev/hidraw4", "00042")},
         {"-N00042"},
         hint("255d:0001", "/dev/hidraw4")},
        {"-N of another receiver: not the one asked for",
         {closed(0x255D, 0x0002, "/dev/hidraw5", "00042")},
         {"-N00043"},
         ""},
        {"-N, and a receiver without serial number",
         {closed(0x255D, 0x0002, "/dev/hidraw5", std::nullopt)},
         {"-N00042"},
         ""},
        {"control characters in the path show escaped",
         {closed(0x255D, 0x0002, "/dev/hid\x1b[5mraw7")},
         {},
         hint("255d:0002", "/dev/hid\\x1b[5mraw7")},
        {"a device that is no receiver", {closed(0x1234, 0x5678, "/dev/hidraw6")}, {}, ""},
        {"another receiver opens",
         {closed(0x0483, 0x5932, "/dev/hidraw2"), HidDevice{}},
         {},
         std::nullopt},
    };
    for (const HintCase &c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        std::string drive = dir.subdir("nodrive"); // holds no command files
        std::vector<std::string> args = c.extra_args;
        args.push_back("-P" + drive);
        args.push_back("-F7000000");

        HidSim sim;
        for (const HidDevice &d : c.devices)
            sim.add_device(d);
        RunResult with = run_kestrel(args, sim);

        if (!c.hint) {
            EXPECT_EQ(with.status, 0);
            EXPECT_EQ(with.out.rfind(banner() + hid_open_text(), 0), 0u) << with.out;
            EXPECT_EQ(with.err, "");
            continue;
        }
        // The same run with nothing plugged in: only the hint may differ.
        HidSim nothing;
        RunResult without = run_kestrel(args, nothing);
        EXPECT_EQ(with.status, 255);
        EXPECT_EQ(with.status, without.status);
        EXPECT_EQ(with.out, without.out);
        EXPECT_EQ(with.out, banner() + no_receiver_text(drive));
        EXPECT_EQ(with.err, *c.hint + without.err);
    }
}

} // namespace
