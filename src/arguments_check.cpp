#include "arguments_check.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "commands.h"
#include "main.h"
#include "user_memory.h"

namespace {

bool is_option(const char *a) {
    return a[0] == '-';
}

// The example of the plain form of a letter: "14100000" for -F.
const char *example_of(int letter) {
    const option_spec *spec = plain_option(letter);
    return spec != nullptr ? spec->example : "";
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
    return static_cast<int>(strnlen(o.arg, o.spec->value_at));
}

// What an option did with the value it kept.
const char *kept_value(const parsed_option &o, int64_t used, char *text, size_t size) {
    if (o.spec->letter == 'F' && used == 0) {
        snprintf(text, size, "%.*s sent nothing", name_length(o), o.arg);
    } else {
        char number[VALUE_TEXT_SIZE];
        snprintf(text, size, "%.*s used its previous value %s", name_length(o), o.arg,
                 value_text(used, o.spec->kind == value_kind::hex, number, sizeof number));
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
    switch (o.spec->letter) {
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
        if (o != &w && o->spec != nullptr && o->spec->pass == option_pass::first)
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
        const option_spec *spec = line.options[i].spec;
        if (spec == nullptr || spec->pass != option_pass::at_once)
            continue;
        if (strcmp(spec->sub, "help") == 0)
            show_help_information();
        else if (strcmp(spec->sub, "list") == 0)
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
            fprintf(stderr,
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
            const size_t after = 2 + strlen(o.spec->sub);
            fprintf(stderr, "kestrel: %s: \"%s\" was ignored: -%.*s takes no value\n", a, a + after,
                    static_cast<int>(after - 1), a + 1);
        }
        // The second pass reports the separate values of its own options.
        if ((o.problems & PROBLEM_SEPARATE_VALUE) != 0 && o.spec->pass == option_pass::first)
            say_separate_receiver_value(o, choice);
        if ((o.problems & PROBLEM_PORT_IN_ADDRESS) != 0) {
            const char *colon = strchr(o.value, ':');
            fprintf(stderr,
                    "kestrel: %s: the port goes in -P, not in -T: write %.*s -P%s (\"%s\" is "
                    "not an address, so no connection is tried)\n",
                    a, static_cast<int>(colon - a), a, colon + 1, o.value);
        }
    }
}

void check_number(const parsed_option &o, int64_t used) {
    const char *a = o.arg;
    const bool hex = o.spec->kind == value_kind::hex;
    char kept[KEPT_TEXT_SIZE];
    char number[VALUE_TEXT_SIZE];
    if (o.value[0] == '\0') {
        if (o.separate != nullptr)
            say_separate_value(o, "%s", kept_value(o, used, kept, sizeof kept));
        return;
    }
    if ((o.problems & PROBLEM_NOT_A_NUMBER) != 0)
        fprintf(stderr,
                "kestrel: %s: \"%s\" is not a number, so %s; write the number in digits, as in "
                "%.*s%s\n",
                a, o.value, kept_value(o, used, kept, sizeof kept), name_length(o), a,
                o.spec->example);
    else if ((o.problems & PROBLEM_NOT_READ_WHOLE) != 0)
        fprintf(stderr,
                "kestrel: %s: \"%s\" was not read, so the value used is %s; write the number "
                "alone in digits, as in %.*s%s\n",
                a, o.number_end, value_text(used, hex, number, sizeof number), name_length(o), a,
                o.spec->example);
}

void check_cell_values(const command_line &line, int cell, int numbers_read, int32_t freq, int mode,
                       int trvtr) {
    const int argc = line.argc;
    char **argv = line.argv;
    const char *a = argv[1];
    if (numbers_read == 0) {
        if (user_memory_cell_exists(cell))
            fprintf(stderr,
                    "kestrel: %s has no values, so cell %d is cleared to zeros (frequency 0, mode "
                    "0, transverter 0); to store values, quote them: kestrel %s \"1900000 1 0\"\n",
                    a, cell, a);
        return;
    }
    if (numbers_read >= 3 || argc <= 3 || is_option(argv[3]))
        return;
    fprintf(stderr, "kestrel: %s ", a);
    print_cell_values_given(stderr, line);
    fprintf(stderr,
            ": only \"%s\" was read, so cell %d takes frequency %d, mode %d, transverter %d; "
            "quote the three numbers: kestrel %s \"",
            argv[2], cell, freq, mode, trvtr, a);
    print_cell_values_given(stderr, line);
    fputs("\"\n", stderr);
}
