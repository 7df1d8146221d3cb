// Receiver settings operations. (Not yet wired: each does nothing.)
#include "commands.h"

const char *const MultiChannelModes[6] = {
    "Single Channel",
    "Diversity (Dual Channel)",
    "Dual Channel",
    "Diversity (Single Channel)",
    "Diversity (Quad Channel)",
    "Quad Channel",
};

int RF_Gain_Db_to_Int(int value) {
    return (value + 10) * 8 / 3;
}
int set_rf_gain(int, int) {
    return 0;
}
int set_rf_gain_indexed(int, int) {
    return 0;
}
int save_defaults(void) {
    return 0;
}
int set_multichannel_mode(int, int) {
    return 0;
}
int set_leds_on_off(int) {
    return 0;
}
int set_fe_gain(int) {
    return 0;
}
int set_rx_frequency(uint32_t, int) {
    return 0;
}
int set_usb_mode(uint32_t) {
    return 0;
}
int save_main_clock_freq(uint32_t) {
    return 0;
}
int save_usb_sample_rate(uint32_t) {
    return 0;
}
int save_diversity_sample_rate(uint32_t) {
    return 0;
}
int set_new_sample_rate(uint32_t) {
    return 0;
}
int set_agc_mode(int) {
    return 0;
}
int get_agc_state(void) {
    return 0;
}
uint32_t get_agc_level_state(void) {
    return 0;
}
int set_r820t_lna_agc_mode(char) {
    return 0;
}
int set_r820t_mix_agc_mode(char) {
    return 0;
}
int set_r820t_lna_gain(unsigned char) {
    return 0;
}
int set_r820t_mix_gain(unsigned char) {
    return 0;
}
int save_mac_word(int) {
    return 0;
}
uint16_t get_mac_word(void) {
    return 0;
}
int start_data_stream(int) {
    return 0;
}
int reset_sdr(void) {
    return 0;
}
