// Warnings for arguments that a run skips or reads only in part. Each is one
// line on standard error that names the argument, says what was done instead
// and shows the form that works. They change nothing in what the run does,
// nor its exit status (except for a -W command that is not done: the run
// fails), and a correct command line gets none.
#pragma once

#include <cstddef>
#include <cstdint>

// How the first pass chose to reach the receiver.
struct first_pass_choice {
    bool network;        // -T was given
    const char *address; // the address contacted over TCP
    unsigned port;       // the TCP port
    const char *path;    // the drive path of -P ("" when none)
    const char *serial;  // the serial number of -N ("" when none)
};

// The long options: true, after doing what they ask (--help prints the help
// screen, --version one line with the name and version), when the command
// line holds one of them; the run then ends with status 0 and no receiver
// is opened.
bool handle_long_options(int argc, char **argv);

// After the first pass, before the open: arguments that are not options,
// letters and long options kestrel does not have, a -W command that is not
// the first argument, options that the -W mode does not execute, text after
// an option that takes no value, a port in -T, and a separate value of -N,
// -P or -T.
void check_arguments(int argc, char **argv, const first_pass_choice &choice);

// In the second pass, once the option argv[arg] has read its number at
// position `pos` (hexadecimal with `hex`) and `used` holds what it used: a
// value given as the next argument, a number followed by characters that
// were not read, and text that is not a number.
void check_number(int argc, char **argv, int arg, size_t pos, int64_t used, bool hex = false);

// The -ww command stored `cell` with the numbers read from the next
// argument (`numbers_read` of the three): says so when there were none, or
// when more values followed unquoted as arguments of their own.
void check_cell_values(int argc, char **argv, int cell, int numbers_read, int32_t freq, int mode,
                       int trvtr);
