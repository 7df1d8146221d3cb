#include "run_state.h"

#include <cstring>
#include <cwchar>

#include "fe_interface.h"
#include "main.h"

namespace fuzz {

void reset_connection_state() {
    hid_status = 0;
    fe_handle = nullptr;
    HID_COMMAND_SIZE = 7;
    hid_tcp_network_flag = 0;
    memset(hid_tcp_packet, 0, sizeof hid_tcp_packet);
    hid_command_send_state = 0;
    memset(Gpath_name, 0, sizeof Gpath_name);
    wmemset(USB_Serial_number, 0, 256);
    SerialNumber = nullptr;
    wmemset(wstr, 0, 256);
    network_state = 0;
}

} // namespace fuzz
