// SPDX-License-Identifier: MIT
// Device operations: discovery and start-up, the answer wait, the receiver
// settings, the information report, the user memory cells and the help screen.
#pragma once

#include <cstdint>

#include "fe_operations.h"

// Names of the multichannel modes 0 to 5.
extern const char *const MultiChannelModes[6];

// Discovery, start-up and the answer wait.
int enumerate_talmir_devs(void);
int initialize_hardware(void);
int32_t HID_wait_For_ACK(void);
// The answer wait as an operation's reader: reads one answer as
// read_ack_quiet does, prints what HID_wait_For_ACK prints and marks the run
// failed when no answer came.
ack_reply wait_for_ack(void);

// The outcome of the run. An exchange whose answer did not come, an argument
// refused by its check and a -W job that failed mark the run failed; the run
// still executes every option, and ends with status 1 instead of 0.
void mark_run_failed(void);
// Forgets the failures of a run, for one that starts afresh in this process.
void clear_run_failed(void);
// The status of a run that went through: 1 when it failed, otherwise 0.
int run_exit_status(void);
// The status `status` of a run once its output is flushed: 1 instead of 0
// when standard output or standard error could not be written (a full disk,
// an I/O error), since a script would take a report it never got for one it
// did. 255 (no receiver opened) and 254 (nothing to do) stay: they say more
// about the run. A closed pipe is not seen here: its signal ends the run.
int status_after_output(int status);

// --list: the attached receivers of every identity the open accepts and the
// mounted drives that hold the command files, without opening any. Returns
// the status of the run (0).
int list_receivers_and_drives(void);

// Receiver settings.
int RF_Gain_Db_to_Int(int value);
int set_rf_gain(int gain, int channel);
int set_rf_gain_indexed(int gain, int channel);
int save_defaults(void);
int set_multichannel_mode(int mode, int channel);
int set_leds_on_off(int mode);
int set_fe_gain(int gain);
int set_rx_frequency(uint32_t frequency, int channel);
// 1 when the receiver restarts in the new mode and nothing more can be sent
// to it; 0 otherwise.
int set_usb_mode(uint32_t mode);
int save_main_clock_freq(uint32_t frequency);
int save_usb_sample_rate(uint32_t SampleRate);
int save_diversity_sample_rate(uint32_t SampleRate);
int set_new_sample_rate(uint32_t SampleRate);
int set_agc_mode(int mode);
int get_agc_state(void);
uint32_t get_agc_level_state(void);
int set_r820t_lna_agc_mode(char mode);
int set_r820t_mix_agc_mode(char mode);
int set_r820t_lna_gain(unsigned char gain);
int set_r820t_mix_gain(unsigned char gain);
int save_mac_word(int mac_word);
uint16_t get_mac_word(void);
int start_data_stream(int command);
int reset_sdr(void);

// Information report.
int Get_SDR_Information(void);

// User memory cells and the backup file.
int get_user_memory(int address, uint32_t *freq, int *mode, int *trvtr_index);
int save_user_memory(int address, uint32_t freq, int mode, int trvtr_index);
int read_user_memory_to_file(const char *file_name);
int restore_user_memory_from_file(const char *file_name);

// Help screen.
int show_help_information(void);
