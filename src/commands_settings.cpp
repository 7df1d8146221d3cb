// SPDX-License-Identifier: MIT
// Receiver settings operations: each sends its report (or, for a networked
// receiver, its control message), reads one answer after every report and
// tells the user what was done. The exchanges that kestreld shares go
// through the operations layer (fe_operations.h).
#include "commands.h"

#include <cstdio>

#include "fe_interface.h"
#include "main.h"
#include "platform/platform.h"
#include "tcp_shell.h"

const char *const MultiChannelModes[6] = {
    "Single Channel",
    "Diversity (Dual Channel)",
    "Dual Channel",
    "Diversity (Single Channel)",
    "Diversity (Quad Channel)",
    "Quad Channel",
};

namespace {

// EEPROM addresses of the low halves of the 32-bit settings; the high half
// sits at the next address.
constexpr uint8_t EEPROM_MAIN_CLOCK = 0;
constexpr uint8_t EEPROM_USB_SAMPLE_RATE = 6;
constexpr uint8_t EEPROM_DIVERSITY_SAMPLE_RATE = 9;

} // namespace

int RF_Gain_Db_to_Int(int value) {
    return fe_rf_gain_code(value);
}

int set_rf_gain(int gain, int channel) {
    int v = fe_rf_gain_code(gain);
    fe_set_rf_gain(channel, v, wait_for_ack);
    printf("RF gain %idB => %i\r\n", gain, v);
    return 0;
}

int set_rf_gain_indexed(int gain, int channel) {
    // Index times eight, wrapping rather than overflowing for absurd indices.
    int v = static_cast<int>(static_cast<uint32_t>(gain) * uint32_t{FE_RF_CODES_PER_STEP});
    fe_set_rf_gain(channel, v, wait_for_ack);
    printf("RF gain index => %i\r\n", v);
    return 0;
}

int save_defaults(void) {
    HID_Send_defaults_to_EEPROM();
    printf("The default parameters will be saved in SDR's EEPROM.\r\n");
    HID_wait_For_ACK();
    return 0;
}

int set_multichannel_mode(int mode, int channel) {
    if (mode < 0 || mode > 5) {
        printf("Wrong mode arg \n\r");
        mark_run_failed();
        return 0;
    }
    HID_Set_Multichannel_Mode(mode, channel);
    HID_wait_For_ACK();
    printf("The new multichannel mode is %s\r\n", MultiChannelModes[mode]);
    return 0;
}

int set_leds_on_off(int mode) {
    HID_Set_LED_On_Off(static_cast<char>(mode));
    HID_wait_For_ACK();
    if (mode == 0)
        printf("The LEDs is On\r\n");
    else
        printf("The LEDs is Off\r\n");
    return 0;
}

int set_fe_gain(int gain) {
    if (gain < 0 || gain > 6) {
        printf("Error - FE gain out of range! \n\r");
        printf("FE Gain should be: 0 to 6 \n\r");
        mark_run_failed();
        return -1;
    }
    HID_ChangeFE_Gain(GainIndex[gain], 0);
    HID_wait_For_ACK();
    printf("FE gain %f\r\n", GainTable[gain]);
    return 0;
}

int set_rx_frequency(uint32_t frequency, int channel) {
    printf("RX Frequency %u (Hz) for the channel %u\r\n", frequency,
           static_cast<unsigned>(channel));
    // Over TCP the receiver answers the control message itself; a link that
    // fails first fails the run, as a time-out does.
    if (fe_set_frequency(frequency, channel, wait_for_ack).result != FE_ANSWERED)
        mark_run_failed();
    return 0;
}

int set_usb_mode(uint32_t mode) {
    HID_Send_USB_Mode(static_cast<int16_t>(mode));
    if (mode == 2) {
        // The receiver restarts in the other mode at once: nothing will answer.
        printf("SDR will be restarted in OpenHPSDR mode!\n\r");
        return 1;
    }
    HID_wait_For_ACK();
    if (mode != 0)
        printf("The new mode is USB Audio...\r\n");
    else
        printf("The new mode is USB MSD ...\r\n");
    return 0;
}

int save_main_clock_freq(uint32_t frequency) {
    fe_eeprom_pair(FE_EEPROM_WRITE, EEPROM_MAIN_CLOCK, frequency, wait_for_ack);
    printf("The new Main Clock frequency was saved:  %u (Hz)\r\n", frequency);
    return 0;
}

int save_usb_sample_rate(uint32_t SampleRate) {
    fe_eeprom_pair(FE_EEPROM_WRITE, EEPROM_USB_SAMPLE_RATE, SampleRate, wait_for_ack);
    printf("The new USB sample rate was saved:  %u (Hz)\r\n", SampleRate);
    return 0;
}

int save_diversity_sample_rate(uint32_t SampleRate) {
    fe_eeprom_pair(FE_EEPROM_WRITE, EEPROM_DIVERSITY_SAMPLE_RATE, SampleRate, wait_for_ack);
    printf("The new Diversity sample rate was saved:  %u (Hz)\r\n", SampleRate);
    return 0;
}

int set_new_sample_rate(uint32_t SampleRate) {
    int result;
    if (network_state != 0) {
        result = tcp_send_sample_rate(SampleRate);
        if (result < 0)
            mark_run_failed();
    } else {
        result = HID_Set_New_Sample_Rate(SampleRate);
        HID_wait_For_ACK();
    }
    printf("The new  sample rate was set in SDR:  %u (Hz)\r\n", SampleRate);
    return result;
}

int set_agc_mode(int mode) {
    fe_set_agc_mask(mode, wait_for_ack);
    return 0;
}

int get_agc_state(void) {
    HID_Get_AGC_State();
    return HID_wait_For_ACK();
}

uint32_t get_agc_level_state(void) {
    HID_Get_AGC_Level(0);
    uint32_t result = static_cast<uint32_t>(HID_wait_For_ACK());
    printf("RF gain per channels:\n\r");
    for (int i = 0; i < 4; i++) {
        int code = static_cast<int>((result >> (8 * i)) & 0xFFu);
        printf("ch[%i] = %+idB \r\n", i, RF_Gain_Calc(code));
    }
    return result;
}

int set_r820t_lna_agc_mode(char mode) {
    HID_Set_R820T_LNA_AGC(mode);
    HID_wait_For_ACK();
    printf(mode != 0 ? "LNA AGC is On\n\r" : "LNA AGC is Off\n\r");
    return 0;
}

int set_r820t_mix_agc_mode(char mode) {
    HID_Set_R820T_Mixer_AGC(mode);
    HID_wait_For_ACK();
    printf(mode != 0 ? "Mixer AGC is On\n\r" : "Mixer AGC is Off\n\r");
    return 0;
}

int set_r820t_lna_gain(unsigned char gain) {
    HID_Set_R820T_LNA_Gain(gain);
    HID_wait_For_ACK();
    printf("LNA Gain is %u\n\r", static_cast<unsigned>(gain));
    return 0;
}

int set_r820t_mix_gain(unsigned char gain) {
    HID_Set_R820T_MIX_Gain(gain);
    HID_wait_For_ACK();
    printf("Mixer Gain is %u\n\r", static_cast<unsigned>(gain));
    return 0;
}

int save_mac_word(int mac_word) {
    HID_Save_MAC_word(static_cast<uint32_t>(mac_word));
    HID_wait_For_ACK();
    return 0;
}

uint16_t get_mac_word(void) {
    HID_Get_MAC_word();
    int32_t result = HID_wait_For_ACK();
    printf("MAC word is: %4.4X\n\r", static_cast<unsigned>(result));
    return static_cast<uint16_t>(static_cast<uint32_t>(result) & 0xFFFFu);
}

int start_data_stream(int command) {
    if (command != 0)
        printf("The Data stream has been started\r\n");
    else
        printf("The Data stream has been stopped\r\n");
    if (network_state == 0) {
        HID_Start_UDP_Stream(static_cast<uint32_t>(command));
        HID_wait_For_ACK();
    } else {
        if (tcp_set_udp_rx_state(command != 0 ? 2 : 1) < 0)
            mark_run_failed();
    }
    return 0;
}

int reset_sdr(void) {
    HID_SoftReset_SDR(); // the receiver restarts: no answer comes
    HID_Close();
    plat_sleep_ms(1);
    printf("Reset SDR!\n\r");
    return 0;
}
