// SPDX-License-Identifier: MIT
// kestrel's options: one table of every option form, and the command line
// read once into a list of parsed options that the first pass, the argument
// checks and the second pass all work from.
//
// An option is one argument: "-", a letter in either case, then for some
// options sub-letters (case-sensitive, except -S's D and N), then the value
// attached in the same argument (-F14100000, -Gl7, -SN96000, -PG:). The -W
// commands read the argument after them too. Nothing here prints: kestrel's
// texts about a command line live in arguments_check, and kestreld reads
// its receiver options (-N, -P, -T) through the same functions.
#pragma once

#include <cstddef>
#include <cstdint>

// What the value attached to an option is.
enum class value_kind : uint8_t {
    none,         // the option takes no value (-D, -A?, -wrf)
    decimal,      // a signed decimal number, read as "%d" / "%ld"
    hex,          // a hexadecimal number with or without "0x", read as "%x"
    text,         // text up to the first white space, read as "%s"
    path_or_port, // text: a drive path, or with -T a decimal TCP port
};

// What the argument after the option holds for it.
enum class next_value : uint8_t {
    nothing,     // the option reads no further argument
    cell_values, // -ww: "<frequency> <mode> <transverter>", quoted together
    file_name,   // -wrf, -wwf: the backup file
};

// When an option is executed.
enum class option_pass : uint8_t {
    at_once,     // --help, --version, --list: before the banner, and the run ends
    first,       // -L, -N, -P, -T: before the receiver is opened
    second,      // every other option, from left to right once it is open
    user_memory, // -W: the one command of the run, when it is the first argument
};

// One option form. The range is what the receiver and the option's report
// field take; for a text it is its length (-P: with -T, the range of a TCP
// port). A value outside it, or not read whole, is refused: nothing is sent
// for the option.
struct option_row {
    char letter;         // the letter in upper case; '-' for a long option
    const char *sub;     // what follows the letter: "", "l", "?", "D", "rf"; a long option's name
    bool sub_any_case;   // the sub-letters match in either case (-SD, -Sd)
    uint8_t value_at;    // where the attached value begins (2 after the letter, 3 after
                         // a sub-letter); 0 when it takes none
    value_kind kind;     // the attached value
    int64_t min, max;    // its range
    next_value next;     // what the following argument holds
    option_pass pass;    // when it is executed
    bool on_help_screen; // the help screen documents its letter (not -B, -M, --help, --version)
    const char *example; // a value of the right kind, for the hints: "14100000"
};

extern const option_row option_table[];
extern const size_t option_table_size;

// True when argument `a` is written as an option (it begins with '-').
bool is_option(const char *a);
// The form that the argument `a` (starting with "-") is, or null when no
// form matches: a letter kestrel does not have, a long option it does not
// have, or a -W without r or w.
const option_row *find_option(const char *a);
// True when some form has this letter (upper case).
bool option_letter_exists(int letter);
// The plain form of a letter (the one without sub-letters), or null.
const option_row *plain_option(int letter);

// What is wrong with one argument, as far as can be told before the run.
enum option_problem : uint16_t {
    PROBLEM_NONE = 0,
    PROBLEM_NOT_OPTION = 1 << 0,       // does not begin with "-"
    PROBLEM_UNKNOWN_LONG = 1 << 1,     // "--" and a name kestrel does not have
    PROBLEM_UNKNOWN_LETTER = 1 << 2,   // a letter kestrel does not have
    PROBLEM_NO_COMMAND = 1 << 3,       // a first -W without r or w
    PROBLEM_MISPLACED_W = 1 << 4,      // a -W command after the first argument
    PROBLEM_NOT_EXECUTED = 1 << 5,     // a -W command runs alone: this option is not run
    PROBLEM_TEXT_IGNORED = 1 << 6,     // text after an option that takes no value
    PROBLEM_SEPARATE_VALUE = 1 << 7,   // no value attached; the next argument looks like it
    PROBLEM_NOT_A_NUMBER = 1 << 8,     // the value is not a number
    PROBLEM_NOT_READ_WHOLE = 1 << 9,   // characters follow the number
    PROBLEM_PORT_IN_ADDRESS = 1 << 10, // -T<address>:<port>
    PROBLEM_VALUE_OF_OPTION = 1 << 11, // this argument is the value of the option before it
    PROBLEM_VALUE_OF_W = 1 << 12,      // ... of a -W command placed after the first argument
    PROBLEM_OUT_OF_RANGE = 1 << 13,    // the number is outside the form's range
};
// The problems that refuse an option's value: nothing is done for it.
constexpr uint16_t PROBLEMS_REFUSING_VALUE =
    PROBLEM_NOT_A_NUMBER | PROBLEM_NOT_READ_WHOLE | PROBLEM_OUT_OF_RANGE;

// One argument of the command line, read.
struct parsed_option {
    int index;              // in argv
    const char *arg;        // argv[index]
    const option_row *row;  // the form, or null
    int letter;             // the letter in upper case (0 for "-" alone or no option)
    const char *value;      // the text from the form's value position on ("" when none)
    const char *next;       // the following argument, or null at the end
    const char *separate;   // the next argument when it stands where the value should be
    bool number_read;       // a decimal or hex value was read
    int64_t number;         // the number read (hex: its 64 bits)
    const char *number_end; // just past the number (the value when none was read)
    uint16_t problems;      // option_problem bits
};

// The command line, read once.
struct command_line {
    int argc;
    char **argv;
    parsed_option *options; // one per argument from argv[1] on (argc - 1 of them)
    int count;
    bool user_memory_mode; // the first argument is a -W command: it runs alone
};

// The option has a value attached that cannot be used: not a number, not
// read whole, or outside its form's range.
bool value_refused(const parsed_option &o);

// Reads one argument on its own (no problems that depend on the others).
parsed_option read_option(int argc, char **argv, int index);
// Reads the whole command line. False when the list could not be allocated.
bool read_command_line(int argc, char **argv, command_line *line);
void free_command_line(command_line *line);

// The number of a decimal or hexadecimal option, into a variable of its
// type (its low bits, as the C library's scan gives them). False, with the
// variable unchanged, when no number was read.
template <typename T> bool take_number(const parsed_option &o, T *var) {
    if (!o.number_read)
        return false;
    *var = static_cast<T>(static_cast<uint64_t>(o.number));
    return true;
}

// How to reach the receiver, as -N, -P and -T give it.
constexpr size_t RECEIVER_TEXT_SIZE = 256;
constexpr uint16_t DEFAULT_RECEIVER_PORT = 50000;
struct receiver_choice {
    char serial[RECEIVER_TEXT_SIZE];  // of the last -N with a text ("" when none)
    char path[RECEIVER_TEXT_SIZE];    // of the last -P with a text: a drive path or a TCP port
    char address[RECEIVER_TEXT_SIZE]; // of the last -T with a text; the default address before
    bool network;                     // a -T was given
    uint16_t port;                    // the TCP port (see choose_receiver_port)
    const char *path_arg;             // the -P argument that gave `path`
    const char *refused;              // a -N or -P whose text is longer than the
                                      // buffer, or a -P that is no TCP port; null when none
};
// A choice with nothing given: no serial number, no path, the default
// address, port 50000.
receiver_choice fresh_receiver_choice(void);
// Takes -N, -P or -T into the choice (a later one overrides an earlier one;
// -T sets `network` even without a text). -N and -P take their text whole,
// blanks included; -T its text up to the first blank. True when the option
// held a text. A text too long for the buffer is not taken: `refused` then
// names the argument.
bool read_receiver_option(const parsed_option &o, receiver_choice *choice);
// Over TCP, the port is -P's text when it begins with a digit: a number read
// whole, 1 to 65535. Otherwise it stays 50000. False, with `refused` naming
// the -P, when the text begins with a digit but is no such port.
bool choose_receiver_port(receiver_choice *choice);
// The range of a TCP port, as -P takes it.
const option_row &port_option(void);
