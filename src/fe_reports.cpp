// Report builders for every receiver command, and the answer decoders.
#include "fe_interface.h"

uint32_t HID_Read_Frequency(const unsigned char *buf) {
    return uint32_t{buf[1]} | uint32_t{buf[2]} << 8 | uint32_t{buf[3]} << 16 |
           uint32_t{buf[4]} << 24;
}

uint32_t HID_Get_Generic_Report(unsigned char *generic_command, const unsigned char *buf) {
    *generic_command = buf[1];
    return uint32_t{buf[2]} | uint32_t{buf[3]} << 8 | uint32_t{buf[4]} << 16 |
           uint32_t{buf[5]} << 24;
}
