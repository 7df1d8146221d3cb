// SPDX-License-Identifier: MIT
// Warnings for arguments that a run skips or refuses. Each is one line on
// standard error that names the argument, says what was done instead and
// shows the form that works; the run then fails (status 1), except for an
// option that a -W command leaves unexecuted. A correct command line gets
// none. What is wrong was found when
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
// port in -T, a separate value of -N, -P or -T, and a -N, -P or -T that the
// choice refused (no receiver is opened then).
void check_arguments(const command_line &line, const receiver_choice &choice);

// In the second pass, once the option has taken its number and `used` holds
// what it used: a value given as the next argument (the run fails).
void check_number(const parsed_option &o, int64_t used);

// An option whose value is refused (value_refused): one line that names it,
// its range and the form that works, with `done`, what was done instead
// ("nothing was sent"); the run fails.
void refuse_value(const parsed_option &o, const char *done);
// A channel-bound option after a refused -C (`channel`): nothing is sent.
void refuse_for_channel(const parsed_option &o, const parsed_option &channel);

// -ww without values: says that the cell is cleared.
void say_cell_cleared(const command_line &line, int cell);
// -ww whose values are not exactly three numbers in the next argument:
// nothing is stored, and the run fails.
void refuse_cell_values(const command_line &line);
