#include "arguments_check.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cmdline.h"
#include "commands.h"
#include "main.h"
#include "user_memory.h"

namespace {

// The option letters that mean something in one of the two passes.
constexpr const char OPTION_LETTERS[] = "ABCDEFGHIJLMNPQRSTUVWX";
// The letters of the first pass, which the -W mode applies too.
constexpr const char FIRST_PASS_LETTERS[] = "LNPT";

bool is_option(const char *a) {
    return a[0] == '-';
}

int letter_of(const char *a) {
    return toupper(static_cast<unsigned char>(a[1]));
}

bool one_of(int letter, const char *letters) {
    return letter != 0 && strchr(letters, letter) != nullptr;
}

bool is_user_memory_command(const char *a) {
    return a[0] == '-' && (a[1] == 'W' || a[1] == 'w');
}

// -ww<cell> reads its values from the next argument, -wrf and -wwf the file
// name.
bool user_memory_reads_next(const char *a) {
    return a[2] == 'w' || (a[2] == 'r' && a[3] == 'f');
}

// Where an option's value begins (2: after the letter, 3: after a
// sub-letter); 0 when the option takes no value.
size_t value_position(const char *a) {
    const char sub = a[1] != '\0' ? a[2] : '\0';
    switch (letter_of(a)) {
    case 'A':
        return sub == '?' ? 0 : (sub == 'l' || sub == 'm') ? 3 : 2;
    case 'G':
    case 'I':
        return (sub == 'l' || sub == 'm') ? 3 : 2;
    case 'S': {
        const int which = toupper(static_cast<unsigned char>(sub));
        return (which == 'D' || which == 'N') ? 3 : 2;
    }
    case 'J':
        return sub == '?' ? 0 : 2;
    case 'B':
    case 'C':
    case 'E':
    case 'F':
    case 'M':
    case 'N':
    case 'P':
    case 'Q':
    case 'T':
    case 'U':
    case 'X':
        return 2;
    default:
        return 0;
    }
}

// The next argument when it stands where the value of the option argv[arg]
// should be: the option has nothing after its letters, and the next
// argument is not an option. Null otherwise.
const char *separate_value(int argc, char **argv, int arg, size_t pos) {
    const char *a = argv[arg];
    if (pos == 0 || strlen(a) != pos || arg + 1 >= argc || is_option(argv[arg + 1]))
        return nullptr;
    return argv[arg + 1];
}

// A number of the right kind for the option, to show the form that works.
const char *example_number(const char *a, size_t pos) {
    const int sub = toupper(static_cast<unsigned char>(a[2]));
    switch (letter_of(a)) {
    case 'F':
        return "14100000";
    case 'G':
        return pos == 3 ? "7" : "10";
    case 'E':
    case 'I':
        return "3";
    case 'J':
        return "3A34";
    case 'M':
        return "122880000";
    case 'Q':
        return "0";
    case 'S':
        return sub == 'D' ? "250000" : sub == 'N' ? "96000" : "192000";
    default:
        return "1";
    }
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
int name_length(const char *a, size_t pos) {
    return static_cast<int>(strnlen(a, pos));
}

// What an option did with the value it kept.
const char *kept_value(const char *a, size_t pos, int64_t used, bool hex, char *text, size_t size) {
    if (letter_of(a) == 'F' && used == 0) {
        snprintf(text, size, "%.*s sent nothing", name_length(a, pos), a);
    } else {
        char number[VALUE_TEXT_SIZE];
        snprintf(text, size, "%.*s used its previous value %s", name_length(a, pos), a,
                 value_text(used, hex, number, sizeof number));
    }
    return text;
}

// Writes "kestrel -wrf backup.txt -P/tmp/rx/": a -W command placed first,
// with the options of the first pass that the line holds. The arguments can
// be of any length, so they are written as they are, piece by piece.
void print_user_memory_first(FILE *to, int argc, char **argv, int arg, const char *taken) {
    fprintf(to, "kestrel %s", argv[arg]);
    // The values, one space apart after the first that is not empty, are
    // quoted when they hold a space.
    int end = arg + 1;
    bool text = false, space = false;
    for (; end < argc && taken[end] == 2; end++) {
        space = space || text || strchr(argv[end], ' ') != nullptr;
        text = text || argv[end][0] != '\0';
    }
    if (text) {
        fputs(space ? " \"" : " ", to);
        bool started = false;
        for (int i = arg + 1; i < end; i++) {
            fprintf(to, started ? " %s" : "%s", argv[i]);
            started = started || argv[i][0] != '\0';
        }
        if (space)
            fputc('"', to);
    }
    for (int i = 1; i < argc; i++)
        if (i != arg && is_option(argv[i]) && one_of(letter_of(argv[i]), FIRST_PASS_LETTERS))
            fprintf(to, " %s", argv[i]);
}

// Writes the values given to a -ww command: argv[2] and the arguments after
// it up to the next option, one space apart.
void print_cell_values_given(FILE *to, int argc, char **argv) {
    fputs(argv[2], to);
    for (int i = 3; i < argc && !is_option(argv[i]); i++)
        fprintf(to, " %s", argv[i]);
}

} // namespace

bool handle_long_options(int argc, char **argv) {
    for (int arg = 1; arg < argc; arg++) {
        if (strcmp(argv[arg], "--help") == 0) {
            show_help_information();
            return true;
        }
        if (strcmp(argv[arg], "--version") == 0) {
            printf("kestrel %s\n", kestrel_version);
            return true;
        }
    }
    return false;
}

void check_arguments(int argc, char **argv, const first_pass_choice &choice) {
    // 1: the argument is the value of the option before it and is reported
    // with it; 2: ... of a -W command placed elsewhere.
    char *taken = static_cast<char *>(calloc(argc > 0 ? static_cast<size_t>(argc) : 1, 1));
    if (taken == nullptr) {
        fputs("kestrel: the arguments were not checked: out of memory\n", stderr);
        return;
    }
    const bool user_memory_mode = argc > 1 && is_user_memory_command(argv[1]);
    if (user_memory_mode) {
        const char *a = argv[1];
        if (a[2] != 'r' && a[2] != 'w') {
            fprintf(stderr,
                    "kestrel: %s did nothing: the -W commands are -wr<cell>, -ww<cell> "
                    "\"<frequency> <mode> <transverter>\", -wrf <file> and -wwf <file>, in "
                    "lower case after the W\n",
                    a);
            mark_run_failed(); // the job asked for was not done
        } else if (user_memory_reads_next(a) && argc > 2) {
            taken[2] = 1;
            // Unquoted -ww values: reported with the cell that was stored.
            for (int i = 3; a[2] == 'w' && a[3] != 'f' && i < argc && !is_option(argv[i]); i++)
                taken[i] = 1;
        }
    }
    for (int arg = 1; arg < argc; arg++) {
        if (taken[arg] != 0)
            continue;
        const char *a = argv[arg];
        const int letter = letter_of(a);
        if (!is_option(a)) {
            fprintf(stderr,
                    "kestrel: \"%s\" was skipped: it is not an option; a value follows its "
                    "option's letter in the same argument, as in -F14100000\n",
                    a);
        } else if (a[1] == '-') {
            fprintf(stderr,
                    "kestrel: %s was skipped: kestrel has no such option; its long options are "
                    "--help and --version, the others are one letter with the value attached, "
                    "as in -F14100000\n",
                    a);
        } else if (!one_of(letter, OPTION_LETTERS)) {
            fprintf(stderr,
                    "kestrel: %s was skipped: \"-%.1s\" is not an option of kestrel (kestrel "
                    "--help lists them)\n",
                    a, a + 1);
        } else if (letter == 'W') {
            if (arg == 1)
                continue;
            for (int i = arg + 1; user_memory_reads_next(a) && i < argc && !is_option(argv[i]);
                 i++) {
                taken[i] = 2;
                if (a[2] != 'w' || a[3] == 'f')
                    break; // a file name is one argument
            }
            fprintf(stderr,
                    "kestrel: %s was skipped: a -W command must be the first argument, as in ", a);
            print_user_memory_first(stderr, argc, argv, arg, taken);
            fputc('\n', stderr);
            mark_run_failed(); // the job asked for was not done
        } else if (user_memory_mode && !one_of(letter, FIRST_PASS_LETTERS)) {
            if (separate_value(argc, argv, arg, value_position(a)) != nullptr)
                taken[arg + 1] = 1;
            fprintf(stderr,
                    "kestrel: %s was not executed: a -W command runs alone; give %s in a kestrel "
                    "command of its own\n",
                    a, a);
        } else if (value_position(a) == 0) {
            const size_t after = (a[2] == '?' && (letter == 'A' || letter == 'J')) ? 3 : 2;
            if (a[after] != '\0')
                fprintf(stderr, "kestrel: %s: \"%s\" was ignored: -%.*s takes no value\n", a,
                        a + after, static_cast<int>(after - 1), a + 1);
        } else {
            const char *value = separate_value(argc, argv, arg, value_position(a));
            if (value != nullptr)
                taken[arg + 1] = 1;
            if (value != nullptr && letter == 'N')
                fprintf(stderr,
                        "kestrel: %s has no value: \"%s\" is a separate argument and was "
                        "skipped, so %s%s; write %s%s\n",
                        a, value,
                        choice.serial[0] != '\0' ? "the serial number of another -N is used: "
                                                 : "no serial number chooses the receiver",
                        choice.serial, a, value);
            else if (value != nullptr && letter == 'P' && choice.network)
                fprintf(stderr,
                        "kestrel: %s has no value: \"%s\" is a separate argument and was "
                        "skipped, so the TCP port is %u; write %s%s\n",
                        a, value, choice.port, a, value);
            else if (value != nullptr && letter == 'P')
                fprintf(stderr,
                        "kestrel: %s has no value: \"%s\" is a separate argument and was "
                        "skipped, so %s%s; write %s%s\n",
                        a, value,
                        choice.path[0] != '\0' ? "the drive path of another -P is used: "
                                               : "the drive is looked for among the mounts",
                        choice.path, a, value);
            else if (value != nullptr && letter == 'T')
                fprintf(stderr,
                        "kestrel: %s has no value: \"%s\" is a separate argument and was "
                        "skipped, so %s port %u is contacted instead; write %s%s\n",
                        a, value, choice.address, choice.port, a, value);
            if (letter == 'T' && strchr(a + 2, ':') != nullptr) {
                const char *colon = strchr(a + 2, ':');
                fprintf(stderr,
                        "kestrel: %s: the port goes in -P, not in -T: write %.*s -P%s (\"%s\" is "
                        "not an address, so no connection is tried)\n",
                        a, static_cast<int>(colon - a), a, colon + 1, a + 2);
            }
        }
    }
    free(taken);
}

void check_number(int argc, char **argv, int arg, size_t pos, int64_t used, bool hex) {
    const char *a = argv[arg];
    const int name = name_length(a, pos);
    char kept[KEPT_TEXT_SIZE];
    char number[VALUE_TEXT_SIZE];
    if (strlen(a) <= pos) {
        const char *value = separate_value(argc, argv, arg, pos);
        if (value != nullptr)
            fprintf(stderr,
                    "kestrel: %s has no value: \"%s\" is a separate argument and was skipped, so "
                    "%s; write %s%s\n",
                    a, value, kept_value(a, pos, used, hex, kept, sizeof kept), a, value);
        return;
    }
    const char *text = a + pos;
    const char *end = text;
    bool read;
    if (hex) {
        uint64_t v;
        read = scan_hex(text, &v, &end);
    } else {
        int64_t v;
        read = scan_decimal(text, &v, &end);
    }
    const char *rest = end;
    while (*rest != '\0' && isspace(static_cast<unsigned char>(*rest)))
        rest++;
    if (!read)
        fprintf(stderr,
                "kestrel: %s: \"%s\" is not a number, so %s; write the number in digits, as in "
                "%.*s%s\n",
                a, text, kept_value(a, pos, used, hex, kept, sizeof kept), name, a,
                example_number(a, pos));
    else if (*rest != '\0')
        fprintf(stderr,
                "kestrel: %s: \"%s\" was not read, so the value used is %s; write the number "
                "alone in digits, as in %.*s%s\n",
                a, end, value_text(used, hex, number, sizeof number), name, a,
                example_number(a, pos));
}

void check_cell_values(int argc, char **argv, int cell, int numbers_read, int32_t freq, int mode,
                       int trvtr) {
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
    print_cell_values_given(stderr, argc, argv);
    fprintf(stderr,
            ": only \"%s\" was read, so cell %d takes frequency %d, mode %d, transverter %d; "
            "quote the three numbers: kestrel %s \"",
            argv[2], cell, freq, mode, trvtr, a);
    print_cell_values_given(stderr, argc, argv);
    fputs("\"\n", stderr);
}
