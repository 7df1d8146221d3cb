// SPDX-License-Identifier: MIT
// The information report (-V): identity and stored parameters of the open
// receiver, one query and one answer at a time, each line printed as soon as
// the answers it shows are in hand. Nothing in the receiver is changed.
#include "commands.h"

#include <cstdio>

#include "fe_interface.h"

namespace {

// Sends nothing itself: reads the one answer to the query just sent.
uint32_t answer(void) {
    return static_cast<uint32_t>(HID_wait_For_ACK());
}

// An IPv4 address with its first octet in the most significant byte.
void print_address(const char *label, uint32_t value) {
    printf("%s: %u.%u.%u.%u\n\r", label, (value >> 24) & 0xFFu, (value >> 16) & 0xFFu,
           (value >> 8) & 0xFFu, value & 0xFFu);
}

} // namespace

int Get_SDR_Information(void) {
    HID_Check_FW_Version(0);
    uint32_t firmware_version = answer();
    HID_Get_Subversion();
    uint32_t value = answer();
    printf("Firmware version: %8.8X / %4.4X\n\r", firmware_version, value);

    HID_Get_Serial_Number();
    printf("SDR serial number: %X\n\r", answer());

    HID_Get_HW_CPLD_SN();
    printf("CPLD serial number: %X\n\r", answer());

    // The main clock lives in two 16-bit EEPROM words, low half first.
    uint32_t main_clock =
        static_cast<uint32_t>(fe_eeprom_pair(FE_EEPROM_READ, 0, 0, wait_for_ack).value);
    printf("Main clock frequency: %u\n\r", main_clock);

    HID_Get_Sample_Rate_No_set();
    printf("USB Sample Rate: %u\n\r", answer());

    HID_Get_Diversity_Mode();
    value = answer();
    if (value > 5)
        printf("Wrong mode: %u\n\r", value);
    else
        printf("The multichannel mode is[%i]: %s\r\n", static_cast<int>(value),
               MultiChannelModes[value]);

    printf("AGC state: 0x%4.4X\n\r", static_cast<uint32_t>(get_agc_state()));

    HID_Get_SDR_IP_Address();
    print_address("SDR IP address", answer());
    HID_Get_SDR_IP_Mask();
    print_address("SDR IP mask", answer());
    HID_Get_Gateway_IP_Address();
    print_address("Gateway IP address", answer());

    HID_Get_UDP_Port();
    printf("UDP port number: %u\n\r", answer());

    HID_Get_DHCP_Server_State();
    printf("DHCP server state: %X\n\r", answer());

    HID_Get_VHF_Reference_Clock();
    printf("VHF reference clock: %u (Hz)\n\r", answer());
    return 0;
}
