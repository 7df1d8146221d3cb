// SPDX-License-Identifier: MIT
// Report builders for every receiver command, and the answer decoders.
//
// Every builder fills a fresh, zeroed 7-byte report and hands it to
// HID_Write_Data, which sends the first HID_COMMAND_SIZE bytes over the open
// transport. Multi-byte fields go least significant byte first; a narrow
// field takes the low bits of its argument, computed on unsigned values so
// that negative and oversized arguments wrap instead of misbehaving.
#include "fe_interface.h"

#include <cstdio>

#include "byte_order.h"

namespace {

constexpr unsigned char REPORT_EEPROM = 1;
constexpr unsigned char REPORT_COMMAND = 2;
constexpr unsigned char REPORT_FREQUENCY = 3;
constexpr unsigned char CMD_EEPROM_WRITE = 0x56;
constexpr unsigned char CMD_EEPROM_READ = 0x55;

constexpr int REPORT_BYTES = 7;

// The low byte of a value, whatever its sign.
unsigned char low_byte(uint32_t value) {
    return static_cast<unsigned char>(value & 0xFFu);
}
unsigned char low_byte_of(int value) {
    return low_byte(static_cast<uint32_t>(value));
}

// A command report with one parameter byte; the other bytes stay zero.
int send_command_byte(unsigned char command, unsigned char parameter) {
    unsigned char report[REPORT_BYTES] = {0};
    report[0] = REPORT_COMMAND;
    report[1] = command;
    report[2] = parameter;
    return HID_Write_Data(report);
}

// A command report with a 16-bit parameter in bytes 2 and 3.
int send_command_u16(unsigned char command, uint32_t parameter) {
    unsigned char report[REPORT_BYTES] = {0};
    report[0] = REPORT_COMMAND;
    report[1] = command;
    put_u16(report + 2, parameter);
    return HID_Write_Data(report);
}

// The receiver's 12-bit offset code of a signed VCO voltage value: -2048
// to 2047 become 0 to 4095, anything else wraps modulo 4096.
uint32_t vco_offset_code(int vco_value) {
    return (static_cast<uint32_t>(vco_value) + 2048u) & 0x0FFFu;
}

} // namespace

// ---------------------------------------------------------------------------
// Shared builders
// ---------------------------------------------------------------------------

int HID_Send_Generic_Command_No_Param(uint8_t command) {
    unsigned char report[REPORT_BYTES] = {0};
    report[0] = REPORT_COMMAND;
    report[1] = command;
    return HID_Write_Data(report);
}

int HID_Send_Generic_Long_Data(uint8_t command, uint32_t eeprom_data) {
    unsigned char report[REPORT_BYTES] = {0};
    report[0] = REPORT_COMMAND;
    report[1] = command;
    put_u32(report + 2, eeprom_data);
    return HID_Write_Data(report);
}

int HID_Send_EEPROM_Data(uint8_t VirtAddress, uint16_t eeprom_data) {
    unsigned char report[REPORT_BYTES] = {0};
    report[0] = REPORT_EEPROM;
    report[1] = CMD_EEPROM_WRITE;
    report[2] = VirtAddress;
    put_u16(report + 3, eeprom_data);
    return HID_Write_Data(report);
}

int HID_Get_EEPROM_Data(uint8_t VirtAddress) {
    return send_command_byte(CMD_EEPROM_READ, VirtAddress);
}

// ---------------------------------------------------------------------------
// The catalogue, by command code
// ---------------------------------------------------------------------------

int HID_Set_Frequency(uint32_t frequency, int channel) {
    unsigned char report[REPORT_BYTES] = {0};
    report[0] = REPORT_FREQUENCY;
    put_u32(report + 1, frequency);
    report[5] = low_byte_of(channel);
    return HID_Write_Data(report);
}

int HID_Get_Frequency(int channel) {
    return send_command_byte(0x01, low_byte_of(channel));
}

// The receiver numbers its FE gain codes from 1: code `index` travels as
// index + 1. The second byte is a plain value, not a device handle.
int HID_ChangeFE_Gain(int index, int value) {
    unsigned char report[REPORT_BYTES] = {0};
    report[0] = REPORT_COMMAND;
    report[1] = 0x02;
    report[2] = low_byte(static_cast<uint32_t>(index) + 1u);
    report[3] = low_byte_of(value);
    return HID_Write_Data(report);
}

long HID_Get_Init_Status(void) {
    return send_command_byte(0x04, 0xFB);
}

int HID_ChangeRF_Gain(int channel, int dac_value) {
    unsigned char report[REPORT_BYTES] = {0};
    report[0] = REPORT_COMMAND;
    report[1] = 0x08;
    report[2] = low_byte_of(dac_value);
    report[3] = low_byte_of(channel);
    return HID_Write_Data(report);
}

// The value is not sent: the receiver answers with its firmware version.
int HID_Check_FW_Version(int /*value*/) {
    return send_command_byte(0x09, 0);
}

int HID_Send_console_char(int value) {
    return send_command_byte(0x0A, low_byte_of(value));
}
int HID_console_On(int value) {
    return send_command_byte(0x0B, low_byte_of(value));
}
int HID_Send_defaults_to_EEPROM(void) {
    return send_command_byte(0x0C, 0xF3);
}

int HID_Get_Sample_Rate(void) {
    return HID_Send_Generic_Command_No_Param(0x0E);
}
// Same command as HID_Get_Sample_Rate; the marker byte asks for the rate
// without setting it again.
int HID_Get_Sample_Rate_No_set(void) {
    return send_command_byte(0x0E, 0x5A);
}
int HID_Get_Diversity_Mode(void) {
    return HID_Send_Generic_Command_No_Param(0x0F);
}
int HID_Get_SDR_IP_Address(void) {
    return HID_Send_Generic_Command_No_Param(0x10);
}
int HID_Get_SDR_IP_Mask(void) {
    return HID_Send_Generic_Command_No_Param(0x11);
}
int HID_Get_Gateway_IP_Address(void) {
    return HID_Send_Generic_Command_No_Param(0x12);
}
int HID_Get_DST_IP_Address(void) {
    return HID_Send_Generic_Command_No_Param(0x13);
}
int HID_Get_UDP_Port(void) {
    return HID_Send_Generic_Command_No_Param(0x14);
}
int HID_Save_SDR_IP_Address(uint32_t ip_address) {
    return HID_Send_Generic_Long_Data(0x15, ip_address);
}
int HID_Save_SDR_IP_Mask(uint32_t ip_mask) {
    return HID_Send_Generic_Long_Data(0x16, ip_mask);
}
int HID_Save_Gateway_IP_Address(uint32_t ip_address) {
    return HID_Send_Generic_Long_Data(0x17, ip_address);
}
int HID_Save_DST_IP_Address(uint32_t ip_address) {
    return HID_Send_Generic_Long_Data(0x18, ip_address);
}
int HID_Save_UDP_Port(uint32_t port) {
    return HID_Send_Generic_Long_Data(0x19, port);
}

int HID_Start_UDP_Stream(uint32_t command) {
    printf("Stream start/stop=> %i\n\r", static_cast<int>(command));
    return send_command_byte(0x1A, low_byte(command));
}

int HID_Get_Serial_Number(void) {
    return HID_Send_Generic_Command_No_Param(0x1D);
}
int HID_Set_New_Sample_Rate(uint32_t SampleRate) {
    return HID_Send_Generic_Long_Data(0x1E, SampleRate);
}
int HID_Change_VCO_voltage(int vco_value) {
    return send_command_u16(0x1F, vco_offset_code(vco_value));
}
int HID_Get_VCO_voltage(void) {
    return send_command_byte(0x20, 0);
}
int HID_Save_Gain_Table(uint16_t gain_table) {
    return send_command_u16(0x21, gain_table);
}
int HID_Get_Gain_Table(void) {
    return HID_Send_Generic_Command_No_Param(0x22);
}
int HID_Change_BPF_Tune(uint16_t bpf_value) {
    return send_command_u16(0x23, bpf_value);
}
int HID_Get_Sync_State(void) {
    return HID_Send_Generic_Command_No_Param(0x24);
}
int HID_Get_HW_CPLD_SN(void) {
    return HID_Send_Generic_Command_No_Param(0x25);
}
int HID_Firmware_Upgrade(void) {
    return HID_Send_Generic_Command_No_Param(0x26);
}

int HID_Send_To_Flash_HalfWord(uint16_t address, uint16_t data) {
    unsigned char report[REPORT_BYTES] = {0};
    report[0] = REPORT_COMMAND;
    report[1] = 0x27;
    put_u16(report + 2, address);
    put_u16(report + 4, data);
    return HID_Write_Data(report);
}

int HID_Set_Broadcast_Flag(uint32_t command) {
    return send_command_byte(0x28, low_byte(command));
}
int HID_Get_Broadcast_Flag(void) {
    return HID_Send_Generic_Command_No_Param(0x29);
}
int HID_Send_LPF_Bypass(int16_t command) {
    return send_command_byte(0x2A, low_byte_of(command));
}

int HID_Set_Multichannel_Mode(int mode, int channel) {
    unsigned char report[REPORT_BYTES] = {0};
    report[0] = REPORT_COMMAND;
    report[1] = 0x30;
    report[2] = low_byte_of(mode);
    report[3] = low_byte_of(channel);
    return HID_Write_Data(report);
}

int HID_Set_Multicast_Flag(uint32_t command) {
    return send_command_byte(0x31, low_byte(command));
}
int HID_Set_ID_String(uint32_t command) {
    return send_command_byte(0x32, low_byte(command));
}
int HID_Get_Emulation_ID(void) {
    return HID_Send_Generic_Command_No_Param(0x33);
}
int HID_Save_Default_ID(uint32_t command) {
    return send_command_byte(0x34, low_byte(command));
}
int HID_SoftReset_SDR(void) {
    return HID_Send_Generic_Command_No_Param(0x35);
}
int HID_Get_DHCP_Server_State(void) {
    return HID_Send_Generic_Command_No_Param(0x36);
}
int HID_Set_DHCP_Server_State(int command) {
    return send_command_byte(0x37, low_byte_of(command));
}

// The phase travels as a 16-bit two's complement value, then the channel.
int HID_Set_Phase_Shift(int phase, int channel) {
    unsigned char report[REPORT_BYTES] = {0};
    report[0] = REPORT_COMMAND;
    report[1] = 0x38;
    put_u16(report + 2, static_cast<uint32_t>(phase));
    report[4] = low_byte_of(channel);
    return HID_Write_Data(report);
}

int HID_Get_CPLD2_SN(void) {
    return HID_Send_Generic_Command_No_Param(0x39);
}
int HID_Send_USB_Mode(int16_t command) {
    return send_command_byte(0x44, low_byte_of(command));
}
int HID_Set_Overload_Mode(int mode) {
    return send_command_byte(0x45, low_byte_of(mode));
}
int HID_Get_AGC_Level(int channel) {
    return send_command_byte(0x46, low_byte_of(channel));
}
int HID_Get_AGC_State(void) {
    return send_command_byte(0x47, 0);
}
int HID_Set_MultiStream_Mode(int mode) {
    return send_command_byte(0x48, low_byte_of(mode));
}
int HID_Get_MultiStream_Mode(void) {
    return send_command_byte(0x49, 0);
}
int HID_Save_Multistream_mode(uint16_t mode) {
    return send_command_byte(0x4A, low_byte(mode));
}
int HID_Set_LED_On_Off(char mode) {
    return send_command_byte(0x4B, low_byte_of(mode));
}
int HID_Set_R820T_frequency(uint32_t frequency) {
    return HID_Send_Generic_Long_Data(0x4E, frequency);
}
int HID_Set_R820T_LNA_Gain(uint8_t gain) {
    return send_command_byte(0x4F, gain);
}
int HID_Set_R820T_MIX_Gain(uint8_t gain) {
    return send_command_byte(0x50, gain);
}
int HID_Set_R820T_VGA_Gain(uint8_t gain) {
    return send_command_byte(0x51, gain);
}
int HID_Set_R820T_LNA_AGC(char mode) {
    return send_command_byte(0x52, low_byte_of(mode));
}
int HID_Set_R820T_Mixer_AGC(char mode) {
    return send_command_byte(0x53, low_byte_of(mode));
}
int HID_Set_R820T_IF_BW(uint8_t bw) {
    return send_command_byte(0x54, bw);
}
int HID_Set_R820T_PWR_On_Off(char mode) {
    return send_command_byte(0x57, low_byte_of(mode));
}
int HID_Set_R820T_HP_BW(uint8_t bw) {
    return send_command_byte(0x58, bw);
}
int HID_Set_R820T_LP_BW(uint8_t bw) {
    return send_command_byte(0x59, bw);
}
int HID_Save_VHF_Reference_Clock(int Reference_clock) {
    return HID_Send_Generic_Long_Data(0x5A, static_cast<uint32_t>(Reference_clock));
}
int HID_Get_VHF_Reference_Clock(void) {
    return HID_Send_Generic_Command_No_Param(0x5B);
}
int HID_Save_MAC_word(uint32_t macw) {
    return HID_Send_Generic_Long_Data(0x5C, macw);
}
int HID_Get_MAC_word(void) {
    return HID_Send_Generic_Command_No_Param(0x5D);
}

// The cell address, then the 32-bit word in bytes 3 to 6.
int HID_Save_User_Memory(int address, uint32_t data) {
    unsigned char report[REPORT_BYTES] = {0};
    report[0] = REPORT_COMMAND;
    report[1] = 0x63;
    report[2] = low_byte_of(address);
    put_u32(report + 3, data);
    return HID_Write_Data(report);
}

int HID_Get_User_Memory(int address) {
    return send_command_byte(0x64, low_byte_of(address));
}
int HID_Get_Subversion(void) {
    return HID_Send_Generic_Command_No_Param(0x65);
}
int HID_Init_FE(void) {
    return send_command_byte(0xE1, 0x1E);
}

// ---------------------------------------------------------------------------
// EEPROM words
// ---------------------------------------------------------------------------

int HID_Send_Diversity_Mode(int16_t mode) {
    return HID_Send_EEPROM_Data(8, static_cast<uint16_t>(mode));
}

int HID_Save_Default_VCO_voltage(int vco_value) {
    return HID_Send_EEPROM_Data(0x1B, static_cast<uint16_t>(vco_offset_code(vco_value)));
}

// ---------------------------------------------------------------------------
// Answer decoders
// ---------------------------------------------------------------------------

uint32_t HID_Read_Frequency(const unsigned char *buf) {
    return get_u32(buf + 1);
}

uint32_t HID_Get_Generic_Report(unsigned char *generic_command, const unsigned char *buf) {
    *generic_command = buf[1];
    return get_u32(buf + 2);
}
