// SPDX-License-Identifier: MIT
#include "arguments_check.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "cmdline.h"
#include "commands.h"
#include "main.h"
#include "user_memory.h"

namespace {

// The example of the plain form of a letter: "14100000" for -F.
const char *example_of(int letter) {
    const option_row *row = plain_option(letter);
    return row != nullptr ? row->example : "";
}

// Room for a number in decimal or hexadecimal, sign included.
constexpr size_t VALUE_TEXT_SIZE = 24;
// Room for what an option did with its kept value: the option's letters
// (at most three) and a number.
constexpr size_t KEPT_TEXT_SIZE = 64;

const char *value_text(int64_t used, bool hex, char *text, size_t size) {
    if (hex)
        snprintf(text, size, "%llX", static_cast<unsigned long long>(used));
    else
        snprintf(text, size, "%lld", static_cast<long long>(used));
    return text;
}

// The length of the option's letters without its value, as typed: "-F",
// "-Gl".
int name_length(const parsed_option &o) {
    return static_cast<int>(strnlen(o.arg, o.row->value_at));
}

// What an option did with the value it kept.
const char *kept_value(const parsed_option &o, int64_t used, char *text, size_t size) {
    if (o.row->letter == 'F' && used == 0) {
        snprintf(text, size, "%.*s sent nothing", name_length(o), o.arg);
    } else {
        char number[VALUE_TEXT_SIZE];
        snprintf(text, size, "%.*s used its previous value %s", name_length(o), o.arg,
                 value_text(used, o.row->kind == value_kind::hex, number, sizeof number));
    }
    return text;
}

// An option whose value was given as the next argument: says what was done
// instead (a printf format and its arguments) and the form that works.
[[gnu::format(printf, 2, 3)]] void say_separate_value(const parsed_option &o, const char *instead,
                                                      ...) {
    fprintf(stderr, "kestrel: %s has no value: \"%s\" is a separate argument and was skipped, so ",
            o.arg, o.separate);
    va_list ap;
    va_start(ap, instead);
    vfprintf(stderr, instead, ap);
    va_end(ap);
    fprintf(stderr, "; write %s%s\n", o.arg, o.separate);
}

// A separate value of -N, -P or -T, with what the run uses instead.
void say_separate_receiver_value(const parsed_option &o, const receiver_choice &choice) {
    switch (o.row->letter) {
    case 'N':
        say_separate_value(o, "%s%s",
                           choice.serial[0] != '\0' ? "the serial number of another -N is used: "
                                                    : "no serial number chooses the receiver",
                           choice.serial);
        break;
    case 'P':
        if (choice.network)
            say_separate_value(o, "the TCP port is %u", static_cast<unsigned>(choice.port));
        else
            say_separate_value(o, "%s%s",
                               choice.path[0] != '\0' ? "the drive path of another -P is used: "
                                                      : "the drive is looked for among the mounts",
                               choice.path);
        break;
    case 'T':
        say_separate_value(o, "%s port %u is contacted instead", choice.address,
                           static_cast<unsigned>(choice.port));
        break;
    default:
        break;
    }
}

// Writes "kestrel -wrf backup.txt -P/tmp/rx/": a -W command placed first,
// with the options of the first pass that the line holds. The arguments can
// be of any length, so they are written as they are, piece by piece.
void print_user_memory_first(FILE *to, const command_line &line, const parsed_option &w) {
    fprintf(to, "kestrel %s", w.arg);
    // The values, one space apart after the first that is not empty, are
    // quoted when they hold a space.
    const parsed_option *values = &w + 1;
    const parsed_option *end = line.options + line.count;
    const parsed_option *last = values;
    bool text = false, space = false;
    for (; last < end && (last->problems & PROBLEM_VALUE_OF_W) != 0; last++) {
        space = space || text || strchr(last->arg, ' ') != nullptr;
        text = text || last->arg[0] != '\0';
    }
    if (text) {
        fputs(space ? " \"" : " ", to);
        bool started = false;
        for (const parsed_option *v = values; v < last; v++) {
            fprintf(to, started ? " %s" : "%s", v->arg);
            started = started || v->arg[0] != '\0';
        }
        if (space)
            fputc('"', to);
    }
    for (const parsed_option *o = line.options; o < end; o++)
        if (o != &w && o->row != nullptr && o->row->pass == option_pass::first)
            fprintf(to, " %s", o->arg);
}

// Writes the values given to a -ww command: argv[2] and the arguments after
// it up to the next option, one space apart.
void print_cell_values_given(FILE *to, const command_line &line) {
    fputs(line.argv[2], to);
    for (int i = 3; i < line.argc && !is_option(line.argv[i]); i++)
        fprintf(to, " %s", line.argv[i]);
}

} // namespace

bool handle_long_options(const command_line &line) {
    for (int i = 0; i < line.count; i++) {
        const option_row *row = line.options[i].row;
        if (row == nullptr || row->pass != option_pass::at_once)
            continue;
        if (strcmp(row->sub, "help") == 0)
            show_help_information();
        else if (strcmp(row->sub, "list") == 0)
            list_receivers_and_drives();
        else
            printf("kestrel %s\n", kestrel_version);
        return true;
    }
    return false;
}

void check_arguments(const command_line &line, const receiver_choice &choice) {
    for (int i = 0; i < line.count; i++) {
        const parsed_option &o = line.options[i];
        const char *a = o.arg;
        if ((o.problems & (PROBLEM_VALUE_OF_OPTION | PROBLEM_VALUE_OF_W)) != 0)
            continue; // judged with its option
        if ((o.problems & PROBLEM_NOT_OPTION) != 0)
            fprintf(stderr,
                    "kestrel: \"%s\" was skipped: it is not an option; a value follows its "
                    "option's letter in the same argument, as in -F%s\n",
                    a, example_of('F'));
        if ((o.problems & PROBLEM_UNKNOWN_LONG) != 0)
            fprintf(
                stderr,
                "kestrel: %s was skipped: kestrel has no such option; its long options are "
                "--help, --version and --list, the others are one letter with the value attached, "
                "as in -F%s\n",
                a, example_of('F'));
        if ((o.problems & PROBLEM_UNKNOWN_LETTER) != 0)
            fprintf(stderr,
                    "kestrel: %s was skipped: \"-%.1s\" is not an option of kestrel (kestrel "
                    "--help lists them)\n",
                    a, a + 1);
        if ((o.problems & PROBLEM_NO_COMMAND) != 0) {
            fprintf(stderr,
                    "kestrel: %s did nothing: the -W commands are -wr<cell>, -ww<cell> "
                    "\"<frequency> <mode> <transverter>\", -wrf <file> and -wwf <file>, in "
                    "lower case after the W\n",
                    a);
            mark_run_failed(); // the job asked for was not done
        }
        if ((o.problems & PROBLEM_MISPLACED_W) != 0) {
            fprintf(stderr,
                    "kestrel: %s was skipped: a -W command must be the first argument, as in ", a);
            print_user_memory_first(stderr, line, o);
            fputc('\n', stderr);
            mark_run_failed(); // the job asked for was not done
        }
        if ((o.problems & PROBLEM_NOT_EXECUTED) != 0)
            fprintf(stderr,
                    "kestrel: %s was not executed: a -W command runs alone; give %s in a kestrel "
                    "command of its own\n",
                    a, a);
        if ((o.problems & PROBLEM_TEXT_IGNORED) != 0) {
            const size_t after = 2 + strlen(o.row->sub);
            fprintf(stderr, "kestrel: %s: \"%s\" was ignored: -%.*s takes no value\n", a, a + after,
                    static_cast<int>(after - 1), a + 1);
        }
        // The second pass reports the separate values of its own options.
        if ((o.problems & PROBLEM_SEPARATE_VALUE) != 0 && o.row->pass == option_pass::first)
            say_separate_receiver_value(o, choice);
        // What was skipped fails the run (a value given apart from an
        // option of the second pass fails it there).
        constexpr uint16_t skipped = PROBLEM_NOT_OPTION | PROBLEM_UNKNOWN_LONG |
                                     PROBLEM_UNKNOWN_LETTER | PROBLEM_TEXT_IGNORED |
                                     PROBLEM_SEPARATE_VALUE;
        if ((o.problems & skipped) != 0 &&
            ((o.problems & PROBLEM_SEPARATE_VALUE) == 0 || o.row->pass == option_pass::first))
            mark_run_failed();
        if ((o.problems & PROBLEM_PORT_IN_ADDRESS) != 0) {
            const char *colon = strchr(o.value, ':');
            fprintf(stderr,
                    "kestrel: %s: the port goes in -P, not in -T: write %.*s -P%s (\"%s\" is "
                    "not an address, so no connection is tried)\n",
                    a, static_cast<int>(colon - a), a, colon + 1, o.value);
        }
    }
    if (choice.refused == nullptr)
        return;
    const char *r = choice.refused;
    if (strlen(arg_at(r, 2)) >= RECEIVER_TEXT_SIZE)
        fprintf(stderr,
                "kestrel: %s: the text is longer than %zu characters, so no receiver is opened; "
                "give it whole, as in -%c%s\n",
                r, RECEIVER_TEXT_SIZE - 1, r[1], find_option(r)->example);
    else
        fprintf(stderr,
                "kestrel: %s: with -T the TCP port is a number from %lld to %lld, so no "
                "connection is tried; write it alone in digits, as in -P%u\n",
                r, static_cast<long long>(port_option().min),
                static_cast<long long>(port_option().max), unsigned{DEFAULT_RECEIVER_PORT});
}

void check_number(const parsed_option &o, int64_t used) {
    char kept[KEPT_TEXT_SIZE];
    if (o.value[0] == '\0' && o.separate != nullptr) {
        say_separate_value(o, "%s", kept_value(o, used, kept, sizeof kept));
        mark_run_failed();
    }
}

void refuse_value(const parsed_option &o, const char *done) {
    const char *a = o.arg;
    const bool hex = o.row->kind == value_kind::hex;
    char low[VALUE_TEXT_SIZE], high[VALUE_TEXT_SIZE];
    value_text(o.row->min, hex, low, sizeof low);
    value_text(o.row->max, hex, high, sizeof high);
    const char *kind = hex ? "hexadecimal number" : "number";
    if ((o.problems & PROBLEM_NOT_A_NUMBER) != 0)
        fprintf(stderr,
                "kestrel: %s: \"%s\" is not a %s, so %s; write a %s from %s to %s, as in "
                "%.*s%s\n",
                a, o.value, kind, done, kind, low, high, name_length(o), a, o.row->example);
    else if ((o.problems & PROBLEM_NOT_READ_WHOLE) != 0)
        fprintf(stderr,
                "kestrel: %s: \"%s\" is not part of a %s, so %s; write a %s from %s to %s "
                "alone, as in %.*s%s\n",
                a, o.number_end, kind, done, kind, low, high, name_length(o), a, o.row->example);
    else
        fprintf(stderr,
                "kestrel: %s: %s is outside %s to %s, so %s; write a %s in that range, as in "
                "%.*s%s\n",
                a, o.value, low, high, done, kind, name_length(o), a, o.row->example);
    mark_run_failed();
}

void refuse_for_channel(const parsed_option &o, const parsed_option &channel) {
    fprintf(stderr,
            "kestrel: %s: nothing was sent, since the %s before it was refused; choose the "
            "channel from %lld to %lld, as in -C%s %s\n",
            o.arg, channel.arg, static_cast<long long>(channel.row->min),
            static_cast<long long>(channel.row->max), channel.row->example, o.arg);
    mark_run_failed();
}

void say_cell_cleared(const command_line &line, int cell) {
    const char *a = line.argv[1];
    if (user_memory_cell_exists(cell))
        fprintf(stderr,
                "kestrel: %s has no values, so cell %d is cleared to zeros (frequency 0, mode "
                "0, transverter 0); to store values, quote them: kestrel %s \"1900000 1 0\"\n",
                a, cell, a);
}

void refuse_cell_values(const command_line &line) {
    char **argv = line.argv;
    const char *a = argv[1];
    if (line.argc > 3 && !is_option(argv[3])) {
        fprintf(stderr, "kestrel: %s ", a);
        print_cell_values_given(stderr, line);
        fprintf(stderr,
                ": only \"%s\" was read, so nothing was stored; quote the three numbers: "
                "kestrel %s \"",
                argv[2], a);
        print_cell_values_given(stderr, line);
        fputs("\"\n", stderr);
    } else {
        fprintf(stderr,
                "kestrel: %s \"%s\": the values are not three numbers, so nothing was stored; "
                "give the frequency, mode and transverter index in one argument, as in kestrel "
                "%s \"1900000 1 0\"\n",
                a, argv[2], a);
    }
    mark_run_failed();
}
