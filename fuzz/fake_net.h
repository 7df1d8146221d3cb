// SPDX-License-Identifier: MIT
// A stand-in for the TCP sockets (platform/net.h) inside the fuzzing
// process: the link "connects" to the fuzz receiver (fake_receiver.h) and
// never to any address, so a fuzzed -T can reach nothing. Waits move the
// stand-in clock (fake_platform.h) instead of taking time.
#pragma once

#include <cstdint>

namespace fuzz {

// How the link behaves in the next run, from one byte:
//   bit 0  the connection is refused     bit 1  the connect times out
//   bit 2  reading keep-alive fails      bit 3  setting keep-alive fails
//   bit 4  no socket can be created      bit 5  sends fail
void link_configure(uint8_t config);

} // namespace fuzz
