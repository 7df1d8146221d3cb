// The help screen end to end: on an empty command line, and for -H once a
// receiver is open.
#include "harness.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace e2e {
namespace {

const char kVersionLine[] = "Kestrel utility version 1.27\n\r";
const char kNothingToDo[] = "Nothing To Do, please write the command to SDR! \n\r";
// Length and FNV-1a fingerprint of the 128-line help text.
constexpr size_t kHelpLength = 5422;
constexpr uint64_t kHelpFingerprint = 0x312d5fae3e8707a8u;

uint64_t fnv1a(const std::string &s) {
    uint64_t h = 0xcbf29ce484222325u;
    for (unsigned char c : s)
        h = (h ^ c) * 0x100000001b3u;
    return h;
}

// Checks that `screen` is the version line, the help text and one more
// "\n\r", byte for byte.
void expect_help_screen(const std::string &screen) {
    ASSERT_EQ(screen.size(), sizeof kVersionLine - 1 + kHelpLength + 2);
    EXPECT_EQ(screen.substr(0, sizeof kVersionLine - 1), kVersionLine);
    std::string text = screen.substr(sizeof kVersionLine - 1, kHelpLength);
    EXPECT_EQ(fnv1a(text), kHelpFingerprint) << text;
    EXPECT_EQ(text.substr(0, 44), "\tPlease use next commands with TALMIR SDR:\n\r");
    EXPECT_EQ(screen.substr(screen.size() - 6), "x1\n\r\n\r");
}

TEST(HelpScreen, EmptyCommandLine) {
    RunResult r = run_kestrel({});
    EXPECT_EQ(r.status, 254);
    EXPECT_EQ(r.err, "");
    const std::string head = banner(), tail = kNothingToDo;
    ASSERT_GT(r.out.size(), head.size() + tail.size());
    EXPECT_EQ(r.out.substr(0, head.size()), head);
    EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
    expect_help_screen(r.out.substr(head.size(), r.out.size() - head.size() - tail.size()));
}

TEST(HelpScreen, EachHelpOptionShowsItOnceTheReceiverIsOpen) {
    HidSim sim;
    sim.add_device();
    RunResult r = run_kestrel({"-H", "-h"}, sim);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    const std::string head = banner() + hid_open_text();
    ASSERT_GT(r.out.size(), head.size());
    EXPECT_EQ(r.out.substr(0, head.size()), head);
    std::string screens = r.out.substr(head.size());
    ASSERT_EQ(screens.size() % 2, 0u);
    expect_help_screen(screens.substr(0, screens.size() / 2));
    expect_help_screen(screens.substr(screens.size() / 2));
    EXPECT_TRUE(sim.requests().empty());
}

} // namespace
} // namespace e2e
