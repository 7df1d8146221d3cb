// SPDX-License-Identifier: MIT
#include "run_state.h"

#include "fe_interface.h"
#include "main.h"
#include "tcp_shell.h"

namespace fuzz {

void reset_connection_state() {
    HID_Reset_Connection_State();
    tcp_reset_link_state();
    network_state = 0;
}

} // namespace fuzz
