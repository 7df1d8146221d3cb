// SPDX-License-Identifier: MIT
// Every unit test starts with the connection as a fresh process has it: no
// transport open, no TCP link, every connection variable at its start value.
// A test that leaves something open or changed cannot reach the next one,
// whatever order the tests run in (--gtest_shuffle).
#include "fe_interface.h"
#include "tcp_shell.h"

#include <gtest/gtest.h>

namespace {

void reset_connection() {
    tcp_reset_link_state();
    HID_Reset_Connection_State();
}

class FreshConnection : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo &) override { reset_connection(); }
    // Closing at the end too releases the files and sockets of the last test.
    void OnTestEnd(const testing::TestInfo &) override { reset_connection(); }
};

// Registered before main() runs the tests; the listener list owns it.
[[maybe_unused]] const bool registered = [] {
    testing::UnitTest::GetInstance()->listeners().Append(new FreshConnection);
    return true;
}();

} // namespace
