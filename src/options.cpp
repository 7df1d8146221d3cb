// SPDX-License-Identifier: MIT
#include "options.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cmdline.h"
#include "main.h"

namespace {

constexpr int64_t U32_MAX = 4294967295;
// A text fills at most the 256-character buffers of the run, end included.
constexpr int64_t TEXT_MAX = static_cast<int64_t>(RECEIVER_TEXT_SIZE) - 1;

using enum value_kind;
using enum next_value;
using enum option_pass;

} // namespace

// In the order of the help screen, then the options it does not show.
// clang-format off
const option_row option_table[] = {
    // letter, sub, any case, value at, kind, min, max, next, pass, on help screen, example
    {'-', "help",    false, 0, none,         0,        0,        nothing,     at_once,     false, ""},
    {'-', "version", false, 0, none,         0,        0,        nothing,     at_once,     false, ""},
    {'-', "list",    false, 0, none,         0,        0,        nothing,     at_once,     false, ""},
    {'F', "",        false, 2, decimal,      0,        U32_MAX,  nothing,     second,      true,  "14100000"},
    {'R', "",        false, 0, none,         0,        0,        nothing,     second,      true,  ""},
    {'H', "",        false, 0, none,         0,        0,        nothing,     second,      true,  ""},
    {'V', "",        false, 0, none,         0,        0,        nothing,     second,      true,  ""},
    {'D', "",        false, 0, none,         0,        0,        nothing,     second,      true,  ""},
    // RF gain in dB; the R820T tuner's gains travel as one byte.
    {'G', "",        false, 2, decimal,      -10,      35,       nothing,     second,      true,  "10"},
    {'G', "l",       false, 3, decimal,      0,        255,      nothing,     second,      true,  "7"},
    {'G', "m",       false, 3, decimal,      0,        255,      nothing,     second,      true,  "7"},
    {'I', "",        false, 2, decimal,      0,        15,       nothing,     second,      true,  "3"},
    {'I', "l",       false, 3, decimal,      0,        255,      nothing,     second,      true,  "3"},
    {'I', "m",       false, 3, decimal,      0,        255,      nothing,     second,      true,  "3"},
    {'E', "",        false, 2, decimal,      0,        6,        nothing,     second,      true,  "3"},
    // Sample rates in Hz: below 48000 nothing is saved or set.
    {'S', "",        false, 2, decimal,      48000,    U32_MAX,  nothing,     second,      true,  "192000"},
    {'S', "D",       true,  3, decimal,      48000,    U32_MAX,  nothing,     second,      true,  "250000"},
    {'S', "N",       true,  3, decimal,      48000,    U32_MAX,  nothing,     second,      true,  "96000"},
    {'U', "",        false, 2, decimal,      0,        2,        nothing,     second,      true,  "1"},
    {'L', "",        false, 0, none,         0,        0,        nothing,     first,       true,  ""},
    {'C', "",        false, 2, decimal,      0,        3,        nothing,     second,      true,  "1"},
    // The AGC channel mask (one bit per channel); the R820T AGCs are on
    // or off (0).
    {'A', "",        false, 2, decimal,      0,        15,       nothing,     second,      true,  "1"},
    {'A', "?",       false, 0, none,         0,        0,        nothing,     second,      true,  ""},
    {'A', "l",       false, 3, decimal,      0,        1,        nothing,     second,      true,  "1"},
    {'A', "m",       false, 3, decimal,      0,        1,        nothing,     second,      true,  "1"},
    {'Q', "",        false, 2, decimal,      0,        5,        nothing,     second,      true,  "0"},
    {'P', "",        false, 2, path_or_port, 1,        65535,    nothing,     first,       true,  "G:"},
    {'T', "",        false, 2, text,         1,        TEXT_MAX, nothing,     first,       true,  KESTREL_DEFAULT_IP_ADDRESS},
    {'N', "",        false, 2, text,         1,        TEXT_MAX, nothing,     first,       true,  "00011234500"},
    {'X', "",        false, 2, decimal,      0,        1,        nothing,     second,      true,  "1"},
    // The last two bytes of the network MAC address.
    {'J', "",        false, 2, hex,          0,        0xFFFF,   nothing,     second,      true,  "3A34"},
    {'J', "?",       false, 0, none,         0,        0,        nothing,     second,      true,  ""},
    // User memory cells 0 to 99; -ww's values and the backup file name
    // come in the next argument.
    {'W', "r",       false, 3, decimal,      0,        99,       nothing,     user_memory, true,  "10"},
    {'W', "w",       false, 3, decimal,      0,        99,       cell_values, user_memory, true,  "10"},
    {'W', "rf",      false, 0, none,         0,        0,        file_name,   user_memory, true,  "backup.txt"},
    {'W', "wf",      false, 0, none,         0,        0,        file_name,   user_memory, true,  "backup.txt"},
    // LEDs: 0 on, 1 off. The main clock in Hz, above 50 MHz.
    {'B', "",        false, 2, decimal,      0,        1,        nothing,     second,      false, "1"},
    {'M', "",        false, 2, decimal,      50000001, U32_MAX,  nothing,     second,      false, "122880000"},
};
// clang-format on
const size_t option_table_size = sizeof option_table / sizeof option_table[0];

namespace {

int upper(char c) {
    return toupper(static_cast<unsigned char>(c));
}

// The sub-letters `sub` stand at the start of `text`.
bool sub_matches(const char *text, const option_row &row) {
    for (size_t i = 0; row.sub[i] != '\0'; i++) {
        if (text[i] == '\0')
            return false;
        if (text[i] != row.sub[i] && !(row.sub_any_case && upper(text[i]) == row.sub[i]))
            return false;
    }
    return true;
}

} // namespace

bool is_option(const char *a) {
    return a[0] == '-';
}

const option_row *find_option(const char *a) {
    if (!is_option(a) || a[1] == '\0')
        return nullptr;
    if (a[1] == '-') {
        for (const option_row &row : option_table)
            if (row.letter == '-' && strcmp(a + 2, row.sub) == 0)
                return &row;
        return nullptr;
    }
    // The longest form that matches: -wrf before -wr.
    const int letter = upper(a[1]);
    const option_row *best = nullptr;
    for (const option_row &row : option_table)
        if (row.letter == letter && sub_matches(a + 2, row) &&
            (best == nullptr || strlen(row.sub) > strlen(best->sub)))
            best = &row;
    return best;
}

bool option_letter_exists(int letter) {
    for (const option_row &row : option_table)
        if (row.letter != '-' && row.letter == letter)
            return true;
    return false;
}

const option_row *plain_option(int letter) {
    for (const option_row &row : option_table)
        if (row.letter != '-' && row.letter == letter && row.sub[0] == '\0')
            return &row;
    return nullptr;
}

parsed_option read_option(int argc, char **argv, int index) {
    parsed_option o{};
    o.index = index;
    o.arg = argv[index];
    o.next = index + 1 < argc ? argv[index + 1] : nullptr;
    o.value = "";
    o.number_end = o.value;
    const char *a = o.arg;
    if (!is_option(a)) {
        o.problems = PROBLEM_NOT_OPTION;
        return o;
    }
    o.letter = upper(a[1]);
    o.row = find_option(a);
    if (a[1] == '-') {
        if (o.row == nullptr)
            o.problems = PROBLEM_UNKNOWN_LONG;
        return o;
    }
    if (o.row == nullptr) {
        if (!option_letter_exists(o.letter))
            o.problems = PROBLEM_UNKNOWN_LETTER;
        return o;
    }
    const size_t at = o.row->value_at;
    if (at == 0)
        return o;
    o.value = arg_at(a, at);
    o.number_end = o.value;
    // Nothing after the letters, and the next argument is no option: it is
    // most likely the value, given apart.
    if (o.value[0] == '\0' && o.next != nullptr && !is_option(o.next))
        o.separate = o.next;
    if (o.value[0] == '\0' || (o.row->kind != decimal && o.row->kind != hex))
        return o;
    if (o.row->kind == hex) {
        uint64_t v = 0;
        o.number_read = scan_hex(o.value, &v, &o.number_end);
        o.number = static_cast<int64_t>(v);
    } else {
        o.number_read = scan_decimal(o.value, &o.number, &o.number_end);
    }
    const char *rest = o.number_end;
    while (*rest != '\0' && isspace(static_cast<unsigned char>(*rest)))
        rest++;
    if (!o.number_read)
        o.problems |= PROBLEM_NOT_A_NUMBER;
    else if (*rest != '\0')
        o.problems |= PROBLEM_NOT_READ_WHOLE;
    else if (o.number < o.row->min || o.number > o.row->max)
        o.problems |= PROBLEM_OUT_OF_RANGE;
    return o;
}

bool value_refused(const parsed_option &o) {
    return o.row != nullptr && o.value[0] != '\0' && (o.problems & PROBLEMS_REFUSING_VALUE) != 0;
}

bool read_command_line(int argc, char **argv, command_line *line) {
    *line = command_line{};
    line->argc = argc;
    line->argv = argv;
    line->count = argc > 1 ? argc - 1 : 0;
    line->options = static_cast<parsed_option *>(
        calloc(line->count > 0 ? static_cast<size_t>(line->count) : 1, sizeof(parsed_option)));
    if (line->options == nullptr)
        return false;
    for (int i = 1; i < argc; i++)
        line->options[i - 1] = read_option(argc, argv, i);

    // What the arguments are to each other, in order: an argument that is
    // the value of an option before it is judged with that option.
    parsed_option *opts = line->options - 1; // indexed as argv
    const parsed_option &lead = opts[1];
    line->user_memory_mode = argc > 1 && lead.letter == 'W';
    if (line->user_memory_mode) {
        if (lead.row == nullptr) {
            opts[1].problems |= PROBLEM_NO_COMMAND;
        } else if (lead.row->next != next_value::nothing && argc > 2) {
            opts[2].problems |= PROBLEM_VALUE_OF_OPTION;
            // Unquoted -ww values: judged with the cell that was stored.
            for (int i = 3;
                 lead.row->next == next_value::cell_values && i < argc && !is_option(argv[i]); i++)
                opts[i].problems |= PROBLEM_VALUE_OF_OPTION;
        }
    }
    for (int i = 1; i < argc; i++) {
        parsed_option &o = opts[i];
        if ((o.problems & (PROBLEM_VALUE_OF_OPTION | PROBLEM_VALUE_OF_W)) != 0 ||
            (o.problems & (PROBLEM_NOT_OPTION | PROBLEM_UNKNOWN_LONG | PROBLEM_UNKNOWN_LETTER)) !=
                0 ||
            o.arg[1] == '-')
            continue;
        if (o.letter == 'W') {
            if (i == 1)
                continue;
            o.problems |= PROBLEM_MISPLACED_W;
            const next_value next = o.row != nullptr ? o.row->next : next_value::nothing;
            for (int j = i + 1; next != next_value::nothing && j < argc && !is_option(argv[j]);
                 j++) {
                opts[j].problems |= PROBLEM_VALUE_OF_W;
                if (next != next_value::cell_values)
                    break; // a file name is one argument
            }
        } else if (line->user_memory_mode && o.row->pass != option_pass::first) {
            o.problems |= PROBLEM_NOT_EXECUTED;
            if (o.separate != nullptr)
                opts[i + 1].problems |= PROBLEM_VALUE_OF_OPTION;
        } else if (o.row->value_at == 0) {
            if (o.arg[2 + strlen(o.row->sub)] != '\0')
                o.problems |= PROBLEM_TEXT_IGNORED;
        } else {
            if (o.separate != nullptr) {
                o.problems |= PROBLEM_SEPARATE_VALUE;
                opts[i + 1].problems |= PROBLEM_VALUE_OF_OPTION;
            }
            if (o.letter == 'T' && strchr(o.value, ':') != nullptr)
                o.problems |= PROBLEM_PORT_IN_ADDRESS;
        }
    }
    return true;
}

void free_command_line(command_line *line) {
    free(line->options);
    *line = command_line{};
}

receiver_choice fresh_receiver_choice(void) {
    receiver_choice c{};
    snprintf(c.address, sizeof c.address, "%s", default_ip_address);
    c.port = DEFAULT_RECEIVER_PORT;
    return c;
}

namespace {

// The whole text of -N or -P into `out`; a text longer than `out` is not
// taken, since a cut name or path is another one.
bool take_whole_text(const parsed_option &o, char *out, size_t size, receiver_choice *choice) {
    const size_t length = strlen(o.value);
    if (length == 0)
        return false;
    if (length >= size) {
        choice->refused = o.arg;
        return false;
    }
    memcpy(out, o.value, length + 1);
    return true;
}

} // namespace

bool read_receiver_option(const parsed_option &o, receiver_choice *choice) {
    if (o.row == nullptr || o.row->pass != option_pass::first)
        return false;
    switch (o.row->letter) {
    case 'N':
        return take_whole_text(o, choice->serial, sizeof choice->serial, choice);
    case 'P':
        if (!take_whole_text(o, choice->path, sizeof choice->path, choice))
            return false;
        choice->path_arg = o.arg;
        return true;
    case 'T':
        choice->network = true;
        return scan_word(o.value, choice->address, sizeof choice->address);
    default:
        return false;
    }
}

const option_row &port_option(void) {
    return *plain_option('P');
}

bool choose_receiver_port(receiver_choice *choice) {
    if (!choice->network || choice->path[0] < '0' || choice->path[0] > '9')
        return true;
    int64_t port = 0;
    const char *end = choice->path;
    scan_decimal(choice->path, &port, &end);
    while (*end != '\0' && isspace(static_cast<unsigned char>(*end)))
        end++;
    if (*end != '\0' || port < port_option().min || port > port_option().max) {
        choice->refused = choice->path_arg;
        return false;
    }
    choice->port = static_cast<uint16_t>(port);
    return true;
}
