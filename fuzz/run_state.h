// SPDX-License-Identifier: MIT
// Puts the utility's module state back to how a fresh process starts, so
// that one fuzz input runs like one kestrel run whatever ran before it.
#pragma once

namespace fuzz {

// The connection (fe_interface.h), the TCP link (tcp_shell.h) and the
// driver's network_state.
void reset_connection_state();

} // namespace fuzz
