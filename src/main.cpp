// The command-line driver: banner, a first pass that gathers how to reach the
// receiver, the open, then either one user-memory command (-W) or a second
// pass that executes every option from left to right.
#include <cctype>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "arguments_check.h"
#include "cmdline.h"
#include "commands.h"
#include "fe_interface.h"
#include "main.h"
#include "platform/platform.h"
#include "tcp_shell.h"
#include "user_memory.h"

namespace {

char tmp_serial_number[256];
char tmp_path_name[256];
char sdr_ip_address[256];
uint16_t tcp_port = 50000;

int upper_letter(const char *arg) {
    return toupper(static_cast<unsigned char>(arg[1]));
}

bool is_option(const char *arg) {
    return arg[0] == '-';
}

// -N: the serial number that chooses among attached receivers.
void apply_serial_number(const char *arg) {
    if (!scan_word(arg_at(arg, 2), tmp_serial_number, sizeof tmp_serial_number))
        return; // -N with no text: no serial number is chosen
    static wchar_t serial[256];
    wmemset(serial, 0, 256);
    if (!plat_text_to_wide(tmp_serial_number, serial, strlen(tmp_serial_number))) {
        // A serial number that cannot be read in this locale must not end up
        // choosing some other receiver: it is replaced by one that no
        // receiver carries.
        fprintf(stderr, "The serial number %s is not valid text in this locale\n",
                tmp_serial_number);
        serial[0] = L'\xFFFD';
        serial[1] = L'\0';
    }
    Set_USB_Serial_number(serial);
}

void first_pass(int argc, char **argv) {
    for (int arg = 1; arg < argc; arg++) {
        const char *a = argv[arg];
        if (!is_option(a))
            continue;
        switch (upper_letter(a)) {
        case 'L':
            enumerate_talmir_devs();
            break;
        case 'N':
            apply_serial_number(a);
            break;
        case 'P':
            scan_word(arg_at(a, 2), tmp_path_name, sizeof tmp_path_name);
            SetMSDPath(tmp_path_name);
            break;
        case 'T':
            scan_word(arg_at(a, 2), sdr_ip_address, sizeof sdr_ip_address);
            network_state = 1;
            break;
        default:
            break;
        }
    }
}

// Over TCP, -P gives the port when it begins with a digit.
void choose_tcp_port(void) {
    if (network_state == 1 && tmp_path_name[0] >= '0' && tmp_path_name[0] <= '9') {
        int64_t port = 0;
        scan_decimal(tmp_path_name, &port); // its leading digits, as atoi gives them
        tcp_port = static_cast<uint16_t>(static_cast<uint64_t>(port));
    }
}

int open_receiver(void) {
    if (network_state == 1) {
        printf("SDR IP=%s:%u\r\n", sdr_ip_address, static_cast<unsigned>(tcp_port));
        return fe_open(sdr_ip_address, tcp_port, nullptr) == FE_OPEN_OK ? 0 : -1;
    }
    return initialize_hardware();
}

// Reads "%d" for the -W mode. A number beyond the range of an int is held
// at the nearest limit and `fits` turns false, so that it can never wrap
// around into a cell or a value that was not asked for.
bool scan_user_memory_number(const char *text, int32_t *var, const char **end, bool *fits) {
    int64_t v;
    if (!scan_decimal(text, &v, end))
        return false;
    if (v < INT32_MIN || v > INT32_MAX)
        *fits = false;
    *var = static_cast<int32_t>(v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : v);
    return true;
}

// Reads the file name of -wrf and -wwf. A name too long for the buffer is
// refused rather than cut, since a cut name is another file.
bool scan_backup_file_name(const char *text, char *str, size_t size) {
    const char *white = " \t\n\v\f\r"; // as the "%s" reading takes it
    const char *p = text + strspn(text, white);
    size_t length = strcspn(p, white);
    if (length >= size) {
        fprintf(stderr, "The backup file name is longer than %zu characters: nothing done\n",
                size - 1);
        return false;
    }
    scan_word(p, str, size);
    return true;
}

// The -W mode: one user-memory command taken from the first argument.
void user_memory_mode(int argc, char **argv) {
    static char str[256];
    int32_t tmpf = 0;
    int cell = 0, mode = 0, trvtr = 0;
    memset(str, 0, sizeof str);
    const char *a = argv[1];
    const char *next = argc > 2 ? argv[2] : "";
    char action = a[2];
    bool to_file = action != '\0' && a[3] == 'f';
    bool fits = true;
    // A file operation without a file name has nothing to work on.
    if (to_file && (action == 'r' || action == 'w') && !scan_word(next, str, sizeof str)) {
        fprintf(stderr,
                "kestrel: %.4s has no file name: nothing was %s; give one, as in kestrel %.4s "
                "backup.txt\n",
                a, action == 'r' ? "written" : "restored", a);
        mark_run_failed();
    }
    if (action == 'r') {
        if (to_file) {
            if (!scan_backup_file_name(next, str, sizeof str) || read_user_memory_to_file(str) < 0)
                mark_run_failed();
        } else {
            scan_user_memory_number(arg_at(a, 3), &cell, nullptr, &fits);
            uint32_t freq = 0;
            if (get_user_memory(cell, &freq, &mode, &trvtr) < 0)
                mark_run_failed();
            tmpf = static_cast<int32_t>(freq);
            if (user_memory_cell_exists(cell)) // otherwise nothing was read
                printf("Frequency: %d , Mode: %d , TRVTR: %d\r\n", tmpf, mode, trvtr);
        }
    } else if (action == 'w') {
        if (to_file) {
            if (!scan_backup_file_name(next, str, sizeof str) ||
                restore_user_memory_from_file(str) < 0)
                mark_run_failed();
        } else {
            scan_user_memory_number(arg_at(a, 3), &cell, nullptr, &fits);
            int numbers_read = 0;
            if (argc > 2) {
                // Three numbers in one argument; those that cannot be read stay 0.
                const char *p = next;
                int32_t *targets[] = {&tmpf, &mode, &trvtr};
                for (int32_t *t : targets) {
                    if (!scan_user_memory_number(p, t, &p, &fits))
                        break;
                    numbers_read++;
                }
            }
            printf("addr: %d, Frequency: %d , Mode: %d , TRVTR: %d\r\n", cell, tmpf, mode, trvtr);
            check_cell_values(argc, argv, cell, numbers_read, tmpf, mode, trvtr);
            if (!fits) {
                fprintf(stderr, "User memory cell %d not stored: a number is out of range\n", cell);
                mark_run_failed();
            } else if (tmpf < 0) {
                fprintf(stderr, "User memory cell %d not stored: the frequency is negative\n",
                        cell);
                mark_run_failed();
            } else if (save_user_memory(cell, static_cast<uint32_t>(tmpf), mode, trvtr) < 0) {
                mark_run_failed();
            }
        }
    }
}

// The last step of a run that resets the receiver: the reset closes the
// device, and the run ends after it.
void end_after_reset(void) {
    reset_sdr();
    printf("Please Wait till SDR will be restarted again \n\r");
}

void second_pass(int argc, char **argv) {
    int current_channel = 0;
    uint32_t tmp = 0;
    int arg_shift = 2;
    int RF_Gain = 0, FE_Gain = 0, LNA_Gain = 0, MIX_Gain = 0;
    int mult_mode = 0, agc_mode = 0, led_off = 0, macw = 0;

    for (int arg = 1; arg < argc; arg++) {
        const char *a = argv[arg];
        if (!is_option(a))
            continue;
        const char sub = a[1] != '\0' ? a[2] : '\0';
        switch (upper_letter(a)) {
        case 'A':
            if (sub == '?') {
                get_agc_level_state();
                break;
            }
            if (sub == 'l') {
                scan_int(arg_at(a, 3), &agc_mode);
                set_r820t_lna_agc_mode(static_cast<char>(agc_mode));
            }
            if (sub == 'l' || sub == 'm') {
                scan_int(arg_at(a, 3), &agc_mode);
                set_r820t_mix_agc_mode(static_cast<char>(agc_mode));
            }
            scan_int(arg_at(a, 2), &agc_mode);
            check_number(argc, argv, arg, (sub == 'l' || sub == 'm') ? 3 : 2, agc_mode);
            set_agc_mode(agc_mode);
            break;
        case 'B':
            scan_int(arg_at(a, 2), &led_off);
            check_number(argc, argv, arg, 2, led_off);
            set_leds_on_off(led_off);
            break;
        case 'C':
            scan_int(arg_at(a, 2), &current_channel);
            check_number(argc, argv, arg, 2, current_channel);
            break;
        case 'D':
            save_defaults();
            break;
        case 'E':
            scan_int(arg_at(a, 2), &FE_Gain);
            check_number(argc, argv, arg, 2, FE_Gain);
            set_fe_gain(FE_Gain);
            break;
        case 'F':
            scan_int(arg_at(a, 2), &tmp);
            check_number(argc, argv, arg, 2, tmp);
            if (tmp != 0)
                set_rx_frequency(tmp, current_channel);
            break;
        case 'G':
        case 'I':
            if (sub == 'l') {
                scan_int(arg_at(a, 3), &LNA_Gain);
                set_r820t_lna_gain(static_cast<unsigned char>(LNA_Gain));
            }
            if (sub == 'l' || sub == 'm') {
                scan_int(arg_at(a, 3), &MIX_Gain);
                set_r820t_mix_gain(static_cast<unsigned char>(MIX_Gain));
            }
            scan_int(arg_at(a, 2), &RF_Gain);
            if (sub == 'l' || sub == 'm')
                check_number(argc, argv, arg, 3, MIX_Gain);
            else
                check_number(argc, argv, arg, 2, RF_Gain);
            set_rf_gain(RF_Gain, current_channel);
            if (upper_letter(a) == 'I') {
                scan_int(arg_at(a, 2), &RF_Gain);
                set_rf_gain_indexed(RF_Gain, current_channel);
            }
            break;
        case 'H':
            show_help_information();
            break;
        case 'J':
            if (sub == '?') {
                get_mac_word();
            } else {
                scan_hex_int(arg_at(a, 2), &macw);
                check_number(argc, argv, arg, 2, static_cast<uint32_t>(macw), true);
                save_mac_word(macw);
                printf("The new MAC will be active after SDR reset: %X",
                       static_cast<unsigned>(macw));
            }
            break;
        case 'M':
            scan_int(arg_at(a, 2), &tmp);
            check_number(argc, argv, arg, 2, tmp);
            if (tmp > 50000000u)
                save_main_clock_freq(tmp);
            else {
                printf("The Main Clock value is too low!\r\n");
                mark_run_failed();
            }
            break;
        case 'Q':
            scan_int(arg_at(a, 2), &mult_mode);
            check_number(argc, argv, arg, 2, mult_mode);
            set_multichannel_mode(mult_mode, current_channel);
            break;
        case 'R':
            end_after_reset();
            return;
        case 'S': {
            const char which = static_cast<char>(toupper(static_cast<unsigned char>(sub)));
            arg_shift = (which == 'D' || which == 'N') ? 3 : 2;
            scan_int(arg_at(a, static_cast<size_t>(arg_shift)), &tmp);
            check_number(argc, argv, arg, static_cast<size_t>(arg_shift), tmp);
            if (tmp > 47999u) {
                if (arg_shift == 2) {
                    save_usb_sample_rate(tmp);
                } else if (which == 'N') {
                    set_new_sample_rate(tmp);
                    break; // no reset: the run goes on
                } else {
                    save_diversity_sample_rate(tmp);
                }
            } else {
                // A rate too low is refused; the reset still follows.
                fprintf(stderr,
                        "kestrel: %s: a sample rate must be 48000 or more: nothing was %s, and "
                        "the receiver is reset as by -R\n",
                        a, which == 'N' ? "set" : "saved");
                mark_run_failed();
            }
            end_after_reset();
            return;
        }
        case 'U':
            scan_int(arg_at(a, 2), &tmp);
            check_number(argc, argv, arg, 2, tmp);
            if (set_usb_mode(tmp) != 0)
                return; // the receiver restarts: nothing more reaches it
            break;
        case 'V':
            Get_SDR_Information();
            break;
        case 'X':
            scan_int(arg_at(a, 2), &tmp);
            check_number(argc, argv, arg, 2, tmp);
            start_data_stream(static_cast<int>(tmp));
            break;
        default:
            break; // K, L, N, O, P, T, W and anything else: nothing here
        }
    }
}

} // namespace

int main(int argc, char **argv) {
    // Before anything is opened: a closed standard descriptor must not
    // become a command file of the receiver's drive.
    if (!plat_ensure_std_descriptors()) {
        fprintf(stderr, "Standard input, output or error is closed and cannot be opened on the "
                        "null device: nothing done\n");
        return -1;
    }
    plat_start(&argc, &argv);
    setlocale(LC_CTYPE, "");
    if (handle_long_options(argc, argv))
        return 0;
    clear_run_failed();
    printf("kestrel v.%s\n\r", kestrel_version);
    MSD_Envy_Init();
    Set_USB_Serial_number(nullptr);
    memset(tmp_path_name, 0, sizeof tmp_path_name);
    memset(sdr_ip_address, 0, sizeof sdr_ip_address);
    snprintf(sdr_ip_address, sizeof sdr_ip_address, "%s", default_ip_address);

    if (argc < 2) {
        show_help_information();
        printf("Nothing To Do, please write the command to SDR! \n\r");
        return -2;
    }

    first_pass(argc, argv);
    choose_tcp_port();
    check_arguments(
        argc, argv,
        {network_state == 1, sdr_ip_address, tcp_port, tmp_path_name, tmp_serial_number});

    if (open_receiver() < 0) {
        printf("Cannot open TALMIR SDR!\n\r");
        return -1;
    }

    const char *first = argv[1];
    if (first[0] == '-' && (first[1] == 'W' || first[1] == 'w'))
        user_memory_mode(argc, argv);
    else
        second_pass(argc, argv);

    HID_Close();
    return run_exit_status();
}
