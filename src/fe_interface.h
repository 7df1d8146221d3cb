// SPDX-License-Identifier: MIT
// Front-end protocol: the one connection a run has with the receiver, the
// report builders for every receiver command, the answer decoders and the
// gain scales.
#pragma once

#include <cstdint>
#include <cwchar>

#include <hidapi.h>

#include "fe_transport.h"

// ---------------------------------------------------------------------------
// Connection state. The connection holds one transport (fe_transport.h) and
// the settings of the command line; fe_connection.cpp keeps all of it in
// one struct. The names below are views of that struct.
// ---------------------------------------------------------------------------

// A view of which transport is open, read and set as an int:
// hid_status is 0 for none (or the TCP tunnel), 1 for USB HID, 2 for the
// drive files; hid_tcp_network_flag is 1 while the TCP tunnel is open.
// Setting a value chooses that transport (0: none) without opening or
// closing anything.
struct fe_transport_flag {
    int tunnel; // 0: hid_status, 1: hid_tcp_network_flag
    operator int() const;
    fe_transport_flag &operator=(int value);
};
extern fe_transport_flag hid_status;
extern fe_transport_flag hid_tcp_network_flag;
// The open USB HID receiver, null when none is.
extern hid_device *&fe_handle;
// Report bytes that travel per report and per answer: 5 or 7.
extern int &HID_COMMAND_SIZE;
// 1 from a report that went out until an answer has been read.
extern int &hid_command_send_state;
extern char (&Gpath_name)[256];
extern const char default_path_name[];
extern wchar_t (&USB_Serial_number)[256];
extern wchar_t *&SerialNumber;
extern wchar_t (&wstr)[256];

// Closes whatever local transport is open (the HID device, the drive files)
// and puts every connection variable back to how a fresh process starts, so
// that the next open starts clean. The TCP link has its own reset
// (tcp_shell.h).
void HID_Reset_Connection_State(void);

// How long a read waits for the receiver's answer, in milliseconds, on USB
// HID and on the drive files alike.
constexpr int HID_READ_TIMEOUT_MS = 1000;
// A receiver that lets this many answers in a row run out of time over HID
// or the drive is taken as silent: the rest of the run sends nothing more and
// every later answer wait fails at once.
constexpr int SILENT_AFTER_TIMEOUTS = 3;
// How long HID_Pause_After_Report() gives the receiver, in milliseconds.
constexpr unsigned REPORT_PAUSE_MS = 1000;

// ---------------------------------------------------------------------------
// Connection settings, open, close and report exchange
// ---------------------------------------------------------------------------

void MSD_Envy_Init(void);
int SetMSDPath(const char *p_name);
int Set_USB_Serial_number(wchar_t *serial);

int HID_Device_Enumerate(void);
int HID_Device_Init(char *msg);
int HID_Device_Init_HID(char *msg);
int HID_Device_Init_MSD(char *msg, const char *path_name);
// Connects to a networked receiver over TCP (the low 16 bits of `port`;
// `ip` null: the default address) and makes the tunnel the open transport.
// Returns 0 when connected, -1 when not.
int open_tcp_connection(const char *ip, int port);
// 1: opening the receiver prints none of kestrel's texts (for kestreld,
// which keeps a log of its own), except the hint about a USB receiver that
// is attached but cannot be opened, and the line that says that USB HID is
// not available.
void HID_Set_Console_Quiet(int quiet);
// Why the last HID_Device_Init failed: no receiver found, a USB receiver
// attached that cannot be opened, or drive files given or found that cannot
// be opened.
enum hid_open_failure {
    HID_OPEN_NO_RECEIVER = 0,
    HID_OPEN_USB_NOT_OPENABLE = 1,
    HID_OPEN_DRIVE_NOT_OPENABLE = 2
};
int HID_Open_Failure(void);
// Closes the HID device and the drive files; no local transport is open
// after it. The TCP tunnel stays open.
int HID_Close(void);

// One report out, one answer in, over the open transport, with how each
// ended. HID_Write_Data and HID_Read_Data return the `result` of these.
fe_io HID_Write_Report(unsigned char *report);
fe_io HID_Read_Answer(char *buf);
int HID_Write_Data(unsigned char *report);
int HID_Read_Data(char *buf);
// Gives the receiver REPORT_PAUSE_MS to take a report that went out and has
// not been answered (the composite EEPROM functions send the second report
// of a pair after it); returns at once when there is none. Returns -1 after
// the pause, 0 without it.
int HID_Pause_After_Report(void);

// How the last exchange with the receiver ended (fe_exchange_result), as
// HID_Write_Report and HID_Read_Answer return it.
int HID_Last_Exchange(void);
// 1 when the receiver cannot be reached without opening it again: nothing is
// open, the open transport has failed since it was opened or has been given
// up (a receiver taken as silent), or the TCP link was closed after a
// failure or a time-out.
int HID_Link_Down(void);
// The open transport's name, and why its last exchange failed ("" when
// none did).
const char *HID_Transport_Name(void);
const char *HID_Transport_Error(void);
// Drops answers that are already waiting on the open transport: they belong
// to no report that is about to be sent.
void HID_Drain_Answers(void);

// Makes the TCP tunnel the open transport (1), or no transport (0) when it
// is the open one.
void hid_change_tcp_network_flag(int state);

// ---------------------------------------------------------------------------
// Report builders. Each fills a zeroed 7-byte report, hands it to
// HID_Write_Data and returns that result.
// ---------------------------------------------------------------------------

int HID_Send_Generic_Command_No_Param(uint8_t command);
int HID_Send_Generic_Long_Data(uint8_t command, uint32_t eeprom_data);
int HID_Send_EEPROM_Data(uint8_t VirtAddress, uint16_t eeprom_data);
int HID_Get_EEPROM_Data(uint8_t VirtAddress);

int HID_Set_Frequency(uint32_t frequency, int channel);
int HID_Get_Frequency(int channel);
int HID_ChangeFE_Gain(int index, int fe_handle);
long HID_Get_Init_Status(void);
int HID_ChangeRF_Gain(int channel, int dac_value);
int HID_Check_FW_Version(int value);
int HID_Send_console_char(int value);
int HID_console_On(int value);
int HID_Send_defaults_to_EEPROM(void);
int HID_Get_Sample_Rate(void);
int HID_Get_Sample_Rate_No_set(void);
int HID_Get_Diversity_Mode(void);
int HID_Get_SDR_IP_Address(void);
int HID_Get_SDR_IP_Mask(void);
int HID_Get_Gateway_IP_Address(void);
int HID_Get_DST_IP_Address(void);
int HID_Get_UDP_Port(void);
int HID_Save_SDR_IP_Address(uint32_t ip_address);
int HID_Save_SDR_IP_Mask(uint32_t ip_mask);
int HID_Save_Gateway_IP_Address(uint32_t ip_address);
int HID_Save_DST_IP_Address(uint32_t ip_address);
int HID_Save_UDP_Port(uint32_t port);
int HID_Start_UDP_Stream(uint32_t command);
int HID_Get_Serial_Number(void);
int HID_Set_New_Sample_Rate(uint32_t SampleRate);
int HID_Change_VCO_voltage(int vco_value);
int HID_Get_VCO_voltage(void);
int HID_Save_Gain_Table(uint16_t gain_table);
int HID_Get_Gain_Table(void);
int HID_Change_BPF_Tune(uint16_t bpf_value);
int HID_Get_Sync_State(void);
int HID_Get_HW_CPLD_SN(void);
int HID_Firmware_Upgrade(void);
int HID_Send_To_Flash_HalfWord(uint16_t address, uint16_t data);
int HID_Set_Broadcast_Flag(uint32_t command);
int HID_Get_Broadcast_Flag(void);
int HID_Send_LPF_Bypass(int16_t command);
int HID_Set_Multichannel_Mode(int mode, int channel);
int HID_Set_Multicast_Flag(uint32_t command);
int HID_Set_ID_String(uint32_t command);
int HID_Get_Emulation_ID(void);
int HID_Save_Default_ID(uint32_t command);
int HID_SoftReset_SDR(void);
int HID_Get_DHCP_Server_State(void);
int HID_Set_DHCP_Server_State(int command);
int HID_Set_Phase_Shift(int phase, int channel);
int HID_Get_CPLD2_SN(void);
int HID_Send_USB_Mode(int16_t command);
int HID_Set_Overload_Mode(int mode);
int HID_Get_AGC_Level(int channel);
int HID_Get_AGC_State(void);
int HID_Set_MultiStream_Mode(int mode);
int HID_Get_MultiStream_Mode(void);
int HID_Save_Multistream_mode(uint16_t mode);
int HID_Set_LED_On_Off(char mode);
int HID_Set_R820T_frequency(uint32_t frequency);
int HID_Set_R820T_LNA_Gain(uint8_t gain);
int HID_Set_R820T_MIX_Gain(uint8_t gain);
int HID_Set_R820T_VGA_Gain(uint8_t gain);
int HID_Set_R820T_LNA_AGC(char mode);
int HID_Set_R820T_Mixer_AGC(char mode);
int HID_Set_R820T_IF_BW(uint8_t bw);
int HID_Set_R820T_PWR_On_Off(char mode);
int HID_Set_R820T_HP_BW(uint8_t bw);
int HID_Set_R820T_LP_BW(uint8_t bw);
int HID_Save_VHF_Reference_Clock(int Reference_clock);
int HID_Get_VHF_Reference_Clock(void);
int HID_Save_MAC_word(uint32_t macw);
int HID_Get_MAC_word(void);
int HID_Save_User_Memory(int address, uint32_t data);
int HID_Get_User_Memory(int address);
int HID_Get_Subversion(void);
int HID_Init_FE(void);

// Composite EEPROM functions: two EEPROM reports, with a pause between them
// when the first one went out (HID_Pause_After_Report).
int HID_Get_Main_Clock_Frequency(void);
int HID_Send_Main_Clock_Frequency(uint32_t main_frequency);
int HID_Send_Sample_Rate(uint32_t SampleRate);
int HID_Send_Diversity_Sample_Rate(uint32_t SampleRate);
int HID_Send_Diversity_Mode(int16_t mode);
int HID_Save_Default_VCO_voltage(int vco_value);

// Answer decoders.
uint32_t HID_Read_Frequency(const unsigned char *buf);
uint32_t HID_Get_Generic_Report(unsigned char *generic_command, const unsigned char *buf);

// ---------------------------------------------------------------------------
// RF and FE gain scales
// ---------------------------------------------------------------------------

extern const int GainIndex[7];
extern const double GainTable[7];
int RF_Gain_Calc(int value);
double RF_Gain_Int_2_Double(int value);
int RF_Gain_IntDb_2_Int(int gain);
