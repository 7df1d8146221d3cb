// SPDX-License-Identifier: MIT
// The command-line driver: banner, a first pass that gathers how to reach the
// receiver, the open, then either one user-memory command (-W) or a second
// pass that executes every option from left to right.
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
#include "options.h"
#include "platform/platform.h"
#include "tcp_shell.h"
#include "user_memory.h"

namespace {

// The exit statuses of a run that did nothing, the same on every system and
// in every shell (0 and 1 come from run_exit_status).
constexpr int STATUS_NOT_OPENED = 255;    // no receiver could be opened
constexpr int STATUS_NOTHING_TO_DO = 254; // the command line is empty

// The driver's run state, put back to a fresh one at the start of a run.
struct driver_state {
    receiver_choice receiver = fresh_receiver_choice();
};
driver_state state;

// -N: the serial number that chooses among attached receivers.
void apply_serial_number(const char *text) {
    static wchar_t serial[256];
    wmemset(serial, 0, 256);
    if (!plat_text_to_wide(text, serial, strlen(text))) {
        // A serial number that cannot be read in this locale must not end up
        // choosing some other receiver: it is replaced by one that no
        // receiver carries.
        fprintf(stderr, "The serial number %s is not valid text in this locale\n", text);
        serial[0] = L'\xFFFD';
        serial[1] = L'\0';
    }
    Set_USB_Serial_number(serial);
}

void first_pass(const command_line &line) {
    receiver_choice &receiver = state.receiver;
    for (int i = 0; i < line.count; i++) {
        const parsed_option &o = line.options[i];
        if (o.row == nullptr || o.row->pass != option_pass::first)
            continue;
        switch (o.row->letter) {
        case 'L':
            enumerate_talmir_devs();
            break;
        case 'N':
            if (read_receiver_option(o, &receiver)) // -N with no text: no serial number
                apply_serial_number(receiver.serial);
            break;
        case 'P':
            read_receiver_option(o, &receiver);
            SetMSDPath(receiver.path);
            break;
        case 'T':
            read_receiver_option(o, &receiver);
            network_state = 1;
            break;
        default:
            break;
        }
    }
}

int open_receiver(void) {
    const receiver_choice &receiver = state.receiver;
    if (network_state == 1) {
        printf("SDR IP=%s:%u\r\n", receiver.address, static_cast<unsigned>(receiver.port));
        return fe_open(receiver.address, receiver.port, nullptr) == FE_OPEN_OK ? 0 : -1;
    }
    return initialize_hardware();
}

// A number for the -W mode, as "%d" reads it. A number beyond the range of
// an int is held at the nearest limit and `fits` turns false, so that it
// can never wrap around into a cell or a value that was not asked for.
void hold_user_memory_number(int64_t v, int32_t *var, bool *fits) {
    if (v < INT32_MIN || v > INT32_MAX)
        *fits = false;
    *var = static_cast<int32_t>(v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : v);
}

bool scan_user_memory_number(const char *text, int32_t *var, const char **end, bool *fits) {
    int64_t v;
    if (!scan_decimal(text, &v, end))
        return false;
    hold_user_memory_number(v, var, fits);
    return true;
}

// The -wrf and -wwf commands: all cells to or from the backup file, named
// whole by the next argument (blanks included). A name too long for the
// buffer is refused rather than cut, since a cut name is another file.
void user_memory_file(const parsed_option &o, bool reading) {
    static char str[256];
    memset(str, 0, sizeof str);
    const char *next = o.next != nullptr ? o.next : "";
    const size_t length = strlen(next);
    if (length == 0) {
        // A file operation without a file name has nothing to work on.
        const int name = static_cast<int>(2 + strlen(o.row->sub)); // "-wrf" as typed
        fprintf(stderr,
                "kestrel: %.*s has no file name: nothing was %s; give one, as in kestrel %.*s "
                "%s\n",
                name, o.arg, reading ? "written" : "restored", name, o.arg, o.row->example);
        mark_run_failed();
    } else if (length >= sizeof str) {
        fprintf(stderr, "The backup file name is longer than %zu characters: nothing done\n",
                sizeof str - 1);
        mark_run_failed();
        return;
    }
    memcpy(str, next, length + 1);
    if ((reading ? read_user_memory_to_file(str) : restore_user_memory_from_file(str)) < 0)
        mark_run_failed();
}

// The -W mode: one user-memory command taken from the first argument.
void user_memory_mode(const command_line &line) {
    const parsed_option &o = line.options[0];
    if (o.row == nullptr)
        return; // a -W without r or w does nothing
    const bool reading = o.row->sub[0] == 'r';
    if (o.row->next == next_value::file_name) {
        user_memory_file(o, reading);
        return;
    }
    if (value_refused(o) && (o.problems & PROBLEM_OUT_OF_RANGE) == 0) {
        // A cell out of range is refused by the cell operations themselves.
        refuse_value(o, reading ? "nothing was read" : "nothing was stored");
        return;
    }
    int32_t tmpf = 0;
    int cell = 0, mode = 0, trvtr = 0;
    bool fits = true;
    if (o.number_read)
        hold_user_memory_number(o.number, &cell, &fits);
    if (reading) {
        uint32_t freq = 0;
        if (get_user_memory(cell, &freq, &mode, &trvtr) < 0)
            mark_run_failed();
        tmpf = static_cast<int32_t>(freq);
        if (user_memory_cell_exists(cell)) // otherwise nothing was read
            printf("Frequency: %d , Mode: %d , TRVTR: %d\r\n", tmpf, mode, trvtr);
        return;
    }
    // An option of kestrel after -ww is no value: the cell is cleared.
    const char *values = o.next != nullptr && find_option(o.next) == nullptr ? o.next : nullptr;
    if (values != nullptr) {
        // Exactly three numbers in one argument, and no more values apart.
        const char *p = values;
        int32_t *targets[] = {&tmpf, &mode, &trvtr};
        int numbers_read = 0;
        for (int32_t *t : targets) {
            if (!scan_user_memory_number(p, t, &p, &fits))
                break;
            numbers_read++;
        }
        p += strspn(p, " \t\n\v\f\r");
        if (numbers_read < 3 || *p != '\0' || (line.argc > 3 && line.argv[3][0] != '-')) {
            refuse_cell_values(line);
            return;
        }
    }
    printf("addr: %d, Frequency: %d , Mode: %d , TRVTR: %d\r\n", cell, tmpf, mode, trvtr);
    if (values == nullptr)
        say_cell_cleared(line, cell);
    if (!fits) {
        fprintf(stderr, "User memory cell %d not stored: a number is out of range\n", cell);
        mark_run_failed();
    } else if (tmpf < 0) {
        fprintf(stderr, "User memory cell %d not stored: the frequency is negative\n", cell);
        mark_run_failed();
    } else if (save_user_memory(cell, static_cast<uint32_t>(tmpf), mode, trvtr) < 0) {
        mark_run_failed();
    }
}

// The last step of a run that resets the receiver: the reset closes the
// device, and the run ends after it.
void end_after_reset(void) {
    reset_sdr();
    printf("Please Wait till SDR will be restarted again \n\r");
}

void second_pass(const command_line &line) {
    int current_channel = 0;
    uint32_t tmp = 0;
    int RF_Gain = 0, FE_Gain = 0, LNA_Gain = 0, MIX_Gain = 0;
    int mult_mode = 0, agc_mode = 0, led_off = 0, macw = 0;

    // The -C that was refused, until a -C with a channel follows: the
    // options bound to a channel are not sent to another one.
    const parsed_option *refused_channel = nullptr;

    for (int i = 0; i < line.count; i++) {
        const parsed_option &o = line.options[i];
        if (o.row == nullptr || o.row->pass != option_pass::second)
            continue; // not an option, a letter kestrel does not have, or done already
        const int letter = o.row->letter;
        if (value_refused(o)) {
            const char *done = "nothing was sent";
            if (letter == 'C') {
                done = "the channel is not changed, and -F, -G, -I and -Q are refused up to the "
                       "next -C";
                refused_channel = &o;
            }
            refuse_value(o, done);
            continue;
        }
        if (letter == 'C' && o.number_read)
            refused_channel = nullptr;
        if (refused_channel != nullptr &&
            (letter == 'F' || letter == 'G' || letter == 'I' || letter == 'Q')) {
            refuse_for_channel(o, *refused_channel);
            continue;
        }
        // The form: "" for the plain one, or its sub-letter.
        const char sub = o.row->sub[0];
        switch (o.row->letter) {
        case 'A':
            if (sub == '?') {
                get_agc_level_state();
                break;
            }
            // The "l" and "m" forms set the R820T AGCs and then the channel
            // mask, all with their one number.
            take_number(o, &agc_mode);
            if (sub == 'l')
                set_r820t_lna_agc_mode(static_cast<char>(agc_mode));
            if (sub == 'l' || sub == 'm')
                set_r820t_mix_agc_mode(static_cast<char>(agc_mode));
            check_number(o, agc_mode);
            set_agc_mode(agc_mode);
            break;
        case 'B':
            take_number(o, &led_off);
            check_number(o, led_off);
            set_leds_on_off(led_off);
            break;
        case 'C':
            take_number(o, &current_channel);
            check_number(o, current_channel);
            break;
        case 'D':
            save_defaults();
            break;
        case 'E':
            take_number(o, &FE_Gain);
            check_number(o, FE_Gain);
            set_fe_gain(FE_Gain);
            break;
        case 'F':
            take_number(o, &tmp);
            check_number(o, tmp);
            if (tmp != 0)
                set_rx_frequency(tmp, current_channel);
            break;
        case 'G':
        case 'I':
            // The "l" and "m" forms set the R820T gains, then send the RF
            // gain last read by a plain -G or -I again.
            if (sub == 'l') {
                take_number(o, &LNA_Gain);
                set_r820t_lna_gain(static_cast<unsigned char>(LNA_Gain));
            }
            if (sub == 'l' || sub == 'm') {
                take_number(o, &MIX_Gain);
                set_r820t_mix_gain(static_cast<unsigned char>(MIX_Gain));
                check_number(o, MIX_Gain);
            } else {
                take_number(o, &RF_Gain);
                check_number(o, RF_Gain);
            }
            set_rf_gain(RF_Gain, current_channel);
            if (o.row->letter == 'I')
                set_rf_gain_indexed(RF_Gain, current_channel);
            break;
        case 'H':
            show_help_information();
            break;
        case 'J':
            if (sub == '?') {
                get_mac_word();
            } else {
                take_number(o, &macw);
                check_number(o, static_cast<uint32_t>(macw));
                save_mac_word(macw);
                printf("The new MAC will be active after SDR reset: %X",
                       static_cast<unsigned>(macw));
            }
            break;
        case 'M':
            take_number(o, &tmp);
            check_number(o, tmp);
            if (tmp > 50000000u)
                save_main_clock_freq(tmp);
            else {
                printf("The Main Clock value is too low!\r\n");
                mark_run_failed();
            }
            break;
        case 'Q':
            take_number(o, &mult_mode);
            check_number(o, mult_mode);
            set_multichannel_mode(mult_mode, current_channel);
            break;
        case 'R':
            end_after_reset();
            return;
        case 'S':
            take_number(o, &tmp);
            check_number(o, tmp);
            if (tmp > 47999u) {
                if (sub == '\0') {
                    save_usb_sample_rate(tmp);
                } else if (sub == 'N') {
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
                        o.arg, sub == 'N' ? "set" : "saved");
                mark_run_failed();
            }
            end_after_reset();
            return;
        case 'U':
            take_number(o, &tmp);
            check_number(o, tmp);
            if (set_usb_mode(tmp) != 0)
                return; // the receiver restarts: nothing more reaches it
            break;
        case 'V':
            Get_SDR_Information();
            break;
        case 'X':
            take_number(o, &tmp);
            check_number(o, tmp);
            start_data_stream(static_cast<int>(tmp));
            break;
        default:
            break; // L, N, P, T, W and the long options: nothing here
        }
    }
}

// One run over the command line, read: its exit status.
int run(const command_line &line) {
    if (handle_long_options(line))
        return 0;
    clear_run_failed();
    printf("kestrel v.%s\n\r", kestrel_version);
    MSD_Envy_Init();
    Set_USB_Serial_number(nullptr);

    if (line.count == 0) {
        show_help_information();
        printf("Nothing To Do, please write the command to SDR! \n\r");
        return STATUS_NOTHING_TO_DO;
    }

    first_pass(line);
    choose_receiver_port(&state.receiver);
    check_arguments(line, state.receiver);
    if (state.receiver.refused != nullptr) {
        // A receiver that was not named whole, or a port that does not
        // exist: no receiver is tried.
        printf("Cannot open TALMIR SDR!\n\r");
        return STATUS_NOT_OPENED;
    }

    if (open_receiver() < 0) {
        printf("Cannot open TALMIR SDR!\n\r");
        return STATUS_NOT_OPENED;
    }

    if (line.user_memory_mode)
        user_memory_mode(line);
    else
        second_pass(line);

    HID_Close();
    return run_exit_status();
}

} // namespace

int main(int argc, char **argv) {
    // Before anything is opened: a closed standard descriptor must not
    // become a command file of the receiver's drive.
    if (!plat_ensure_std_descriptors()) {
        fprintf(stderr, "Standard input, output or error is closed and cannot be opened on the "
                        "null device: nothing done\n");
        return STATUS_NOT_OPENED;
    }
    plat_start(&argc, &argv);
    setlocale(LC_CTYPE, "");
    state = driver_state{};
    command_line line;
    if (!read_command_line(argc, argv, &line)) {
        fputs("kestrel: the command line was not read: out of memory\n", stderr);
        return 1;
    }
    const int status = status_after_output(run(line));
    free_command_line(&line);
    return status;
}
