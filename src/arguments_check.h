// Warnings for arguments that a run skips or reads only in part. Each is one
// line on standard error that names the argument, says what was done instead
// and shows the form that works. They change nothing in what the run does,
// nor its exit status (except for a -W command that is not done: the run
// fails), and a correct command line gets none. What is wrong was found when
// the command line was read (options.h); this prints it.
#pragma once

#include <cstdint>

#include "options.h"

// The long options: true, after doing what they ask (--help prints the help
// screen, --version one line with the name and version, --list what is
// attached and mounted), when the command
// line holds one of them; the run then ends with status 0 and no receiver
// is opened.
bool handle_long_options(const command_line &line);

// After the first pass, before the open, with the receiver `choice` it
// made: arguments that are not options, letters and long options kestrel
// does not have, a -W command that is not the first argument, options that
// the -W mode does not execute, text after an option that takes no value, a
// port in -T, and a separate value of -N, -P or -T.
void check_arguments(const command_line &line, const receiver_choice &choice);

// In the second pass, once the option has taken its number and `used` holds
// what it used: a value given as the next argument, a number followed by
// characters that were not read, and text that is not a number.
void check_number(const parsed_option &o, int64_t used);

// The -ww command stored `cell` with the numbers read from the next
// argument (`numbers_read` of the three): says so when there were none, or
// when more values followed unquoted as arguments of their own.
void check_cell_values(const command_line &line, int cell, int numbers_read, int32_t freq, int mode,
                       int trvtr);
