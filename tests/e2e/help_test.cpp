// SPDX-License-Identifier: MIT
// The help screen end to end: on an empty command line, and for each -H once
// a receiver is open. The text itself is pinned by the unit tests.
#include "harness.h"

#include <gtest/gtest.h>

#include <string>

namespace e2e {
namespace {

TEST(HelpScreen, EmptyCommandLine) {
    RunResult r = run_kestrel({});
    EXPECT_EQ(r.status, 254);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              banner() + help_screen() + "Nothing To Do, please write the command to SDR! \n\r");
    EXPECT_EQ(help_screen().substr(0, 30), "Kestrel utility version 1.27\n\r");
    EXPECT_EQ(help_screen().size(), 30u + 5422u + 2u); // the 128 lines and one more "\n\r"
}

TEST(HelpScreen, EachHelpOptionShowsItOnceTheReceiverIsOpen) {
    HidSim sim;
    sim.add_device();
    RunResult r = run_kestrel({"-H", "-h"}, sim);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, banner() + hid_open_text() + help_screen() + help_screen());
    EXPECT_TRUE(sim.requests().empty());
}

} // namespace
} // namespace e2e
