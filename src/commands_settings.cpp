// Receiver settings operations: each sends its report (or, for a networked
// receiver, its control message), reads one answer after every report and
// tells the user what was done.
#include "commands.h"

#include <cstdio>
#include <cstdlib>

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

// Stores a 32-bit value as two EEPROM words, reading the receiver's answer
// after each.
void save_eeprom_value(uint8_t low_address, uint32_t value) {
    HID_Send_EEPROM_Data(low_address, static_cast<uint16_t>(value & 0xFFFFu));
    HID_wait_For_ACK();
    HID_Send_EEPROM_Data(static_cast<uint8_t>(low_address + 1u),
                         static_cast<uint16_t>(value >> 16));
    HID_wait_For_ACK();
}

} // namespace

// The RF gain code of a gain in dB: eight codes to each 3 dB step from
// -10 dB. Worked out in 64 bits so that any int converts; the code is the
// quotient's low 32 bits (only its low byte travels).
int RF_Gain_Db_to_Int(int value) {
    int64_t rf_gain = (int64_t{value} + 10) * 8 / 3;
    return static_cast<int>(rf_gain);
}

int set_rf_gain(int gain, int channel) {
    int v = RF_Gain_Db_to_Int(gain);
    HID_ChangeRF_Gain(channel, v);
    HID_wait_For_ACK();
    printf("RF gain %idB => %i\r\n", gain, v);
    return 0;
}

int set_rf_gain_indexed(int gain, int channel) {
    // Index times eight, wrapping rather than overflowing for absurd indices.
    int v = static_cast<int>(static_cast<uint32_t>(gain) * 8u);
    HID_ChangeRF_Gain(channel, v);
    HID_wait_For_ACK();
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
    if (network_state != 0) {
        // The receiver answers the control message; a link that fails
        // first fails the run, as a time-out does.
        if (tcp_send_frequency(frequency, channel) < 0)
            mark_run_failed();
    } else {
        HID_Set_Frequency(frequency, channel);
        HID_wait_For_ACK();
    }
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
    save_eeprom_value(EEPROM_MAIN_CLOCK, frequency);
    printf("The new Main Clock frequency was saved:  %u (Hz)\r\n", frequency);
    return 0;
}

int save_usb_sample_rate(uint32_t SampleRate) {
    save_eeprom_value(EEPROM_USB_SAMPLE_RATE, SampleRate);
    printf("The new USB sample rate was saved:  %u (Hz)\r\n", SampleRate);
    return 0;
}

int save_diversity_sample_rate(uint32_t SampleRate) {
    save_eeprom_value(EEPROM_DIVERSITY_SAMPLE_RATE, SampleRate);
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
    HID_Set_Overload_Mode(mode);
    HID_wait_For_ACK();
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
