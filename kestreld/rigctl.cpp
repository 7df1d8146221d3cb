// SPDX-License-Identifier: MIT
// The request lines of the network radio protocol and their replies. What
// the receiver can do maps onto the protocol like this:
//   F/f          the channel's centre frequency (f asks the receiver)
//   L/l RF       the channel's RF gain, the level 0..1 on the 16 steps of
//                3 dB from -10 to +35 dB
//   L/l AGC      the channel's bit of the receiver's AGC mask: 0 OFF, 6 AUTO
//   M/m          mode and passband, kept here (the host demodulates)
//   V/v, S/s     one VFO, VFOA; split off
//   T/t          refused: the receiver has no transmitter
#include "rigctl.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fe_operations.h"
#include "rig.h"

namespace {

// ---------------------------------------------------------------------------
// What the server keeps of each channel
// ---------------------------------------------------------------------------

struct channel_state {
    uint32_t last_frequency = 0; // the last frequency set, 0 before any
    char mode[16] = "USB";
    long passband = 2400;
};

channel_state channels[RIGCTL_MAX_CHANNELS];

// The receiver's tuning range: whatever its frequency report carries.
constexpr double TUNE_LOW_HZ = 1.0;
constexpr double TUNE_HIGH_HZ = 4294967295.0;

// The RF level 0..1 runs over the receiver's RF gain steps 0 to 15 (-10 to
// +35 dB).
constexpr int RF_STEPS = 15;

constexpr int AGC_OFF = 0;
constexpr int AGC_AUTO = 6;

// The modes offered, and Hamlib's bits for them and for the two levels.
struct mode_info {
    const char *name;
    unsigned bit;
};
constexpr mode_info modes[] = {
    {"AM", 0x1},      {"CW", 0x2},       {"USB", 0x4},      {"LSB", 0x8},
    {"RTTY", 0x10},   {"FM", 0x20},      {"WFM", 0x40},     {"CWR", 0x80},
    {"RTTYR", 0x100}, {"PKTLSB", 0x400}, {"PKTUSB", 0x800},
};
constexpr unsigned MODE_BITS = 0xDFF;
constexpr unsigned LEVEL_RF = 0x10;
constexpr unsigned LEVEL_AGC = 0x20000;

// The filters of the state dump: the modes each is for, and its width in Hz.
// A mode's first filter is its normal width, which a passband of 0 asks for,
// as clients read it from the dump.
struct filter_info {
    unsigned mode_bits;
    long width;
};
constexpr filter_info filters[] = {
    {0xc0c, 2400}, {0x182, 500}, {0x110, 300}, {0x1, 6000}, {0x20, 12000}, {0x40, 230000},
};

// Names of the one VFO; any other VFO name is refused.
constexpr const char *own_vfo_names[] = {"VFOA", "VFO", "currVFO", "Main", "MainA", "RX"};
constexpr const char *other_vfo_names[] = {"VFOB",  "VFOC",  "Sub", "SubA", "SubB", "SubC",
                                           "MainB", "MainC", "MEM", "TX",   "None"};

// ---------------------------------------------------------------------------
// Commands
// ---------------------------------------------------------------------------

enum command_id {
    SET_FREQ,
    GET_FREQ,
    SET_LEVEL,
    GET_LEVEL,
    SET_MODE,
    GET_MODE,
    SET_VFO,
    GET_VFO,
    SET_SPLIT,
    GET_SPLIT,
    SET_PTT,
    GET_PTT,
    GET_POWERSTAT,
    CHK_VFO,
    SET_VFO_OPT,
    GET_LOCK_MODE,
    DUMP_STATE,
    AOS,
    LOS,
    QUIT,
    UNKNOWN,
};

struct command_info {
    char letter; // 0: long name only
    const char *name;
    command_id id;
    int min_args, max_args; // besides a leading VFO name
};

constexpr command_info commands[] = {
    {'F', "set_freq", SET_FREQ, 1, 1},
    {'f', "get_freq", GET_FREQ, 0, 0},
    {'L', "set_level", SET_LEVEL, 2, 2},
    {'l', "get_level", GET_LEVEL, 1, 1},
    {'M', "set_mode", SET_MODE, 1, 2},
    {'m', "get_mode", GET_MODE, 0, 0},
    {'V', "set_vfo", SET_VFO, 1, 1},
    {'v', "get_vfo", GET_VFO, 0, 0},
    {'S', "set_split_vfo", SET_SPLIT, 1, 2},
    {'s', "get_split_vfo", GET_SPLIT, 0, 0},
    {'T', "set_ptt", SET_PTT, 0, 1},
    {'t', "get_ptt", GET_PTT, 0, 0},
    {0, "get_powerstat", GET_POWERSTAT, 0, 0},
    {0, "chk_vfo", CHK_VFO, 0, 0},
    {0, "set_vfo_opt", SET_VFO_OPT, 1, 1},
    {0, "get_lock_mode", GET_LOCK_MODE, 0, 0},
    {0, "dump_state", DUMP_STATE, 0, 0},
    {0, "AOS", AOS, 0, 0},
    {0, "LOS", LOS, 0, 0},
    {'q', "quit", QUIT, 0, 0},
    {'Q', "quit", QUIT, 0, 0},
};

// ---------------------------------------------------------------------------
// Replies
// ---------------------------------------------------------------------------

// One reply being written. In the default form a query answers its values
// one a line and a setting answers "RPRT n"; in an extended form every reply
// starts with the command's long name and its arguments, labels each value,
// and ends with "RPRT n", its records ended by the separator and the whole
// reply by "\n".
struct reply_writer {
    std::string *out;
    bool extended;
    char separator;
};

void put_record(reply_writer &w, const char *label, const char *value) {
    if (w.extended && label != nullptr) {
        w.out->append(label);
        w.out->append(": ");
    }
    w.out->append(value);
    w.out->push_back(w.extended ? w.separator : '\n');
}

void put_status(reply_writer &w, int status) {
    char text[16];
    snprintf(text, sizeof text, "RPRT %d\n", status);
    w.out->append(text);
}

bool same(const char *a, const char *b) {
    return strcmp(a, b) == 0;
}

template <size_t N> bool one_of(const char *word, const char *const (&names)[N]) {
    for (const char *n : names)
        if (same(word, n))
            return true;
    return false;
}

// A decimal number, with a fraction and an exponent allowed; no hexadecimal,
// infinity or not-a-number.
bool parse_number(const char *text, double *value) {
    if (text[0] == '\0' || strspn(text, "0123456789+-.eE") != strlen(text))
        return false;
    char *end = nullptr;
    errno = 0;
    double v = strtod(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(v))
        return false;
    *value = v;
    return true;
}

// A whole number of the passband, -1 to 10 MHz.
bool parse_passband(const char *text, long *value) {
    double v;
    if (!parse_number(text, &v) || v != std::floor(v) || v < -1 || v > 10000000)
        return false;
    *value = static_cast<long>(v);
    return true;
}

// ---------------------------------------------------------------------------
// The commands that reach the receiver
// ---------------------------------------------------------------------------

int set_freq(int channel, const char *text) {
    double hz;
    if (!parse_number(text, &hz))
        return RIG_EINVAL;
    hz = std::nearbyint(hz);
    if (hz < TUNE_LOW_HZ || hz > TUNE_HIGH_HZ)
        return RIG_EINVAL;
    uint32_t value = static_cast<uint32_t>(hz);
    int r = rig_set_frequency(channel, value);
    if (r == RIG_OK)
        channels[channel].last_frequency = value;
    return r;
}

// The channel's frequency as the receiver says it; the last one set when
// the receiver answers without one. Never 0: a receiver that cannot say
// before any frequency was set gives "not available". A receiver that does
// not answer at all is an error like any other.
int get_freq(int channel, uint32_t *hz) {
    uint32_t value = 0;
    int r = rig_get_frequency(channel, &value);
    if (r != RIG_OK)
        return r;
    if (value == 0)
        value = channels[channel].last_frequency;
    if (value == 0)
        return RIG_ENAVAIL;
    *hz = value;
    return RIG_OK;
}

int set_level(int channel, const char *name, const char *text) {
    double v;
    bool rf = same(name, "RF"), agc = same(name, "AGC");
    if (!rf && !agc)
        return RIG_ENAVAIL;
    if (!parse_number(text, &v))
        return RIG_EINVAL;
    if (rf) {
        if (v < 0 || v > 1)
            return RIG_EINVAL;
        int step = static_cast<int>(std::lround(v * RF_STEPS));
        return rig_set_rf_gain(channel,
                               fe_rf_gain_code(FE_RF_GAIN_LOW_DB + step * FE_RF_GAIN_STEP_DB));
    }
    if (v != AGC_OFF && v != AGC_AUTO)
        return RIG_EINVAL;
    return rig_set_agc(channel, v == AGC_AUTO);
}

int get_level(int channel, const char *name, char *value, size_t size) {
    if (same(name, "AGC")) {
        bool on = false;
        int r = rig_get_agc(channel, &on);
        if (r == RIG_OK)
            snprintf(value, size, "%d", on ? AGC_AUTO : AGC_OFF);
        return r;
    }
    if (!same(name, "RF"))
        return RIG_ENAVAIL;
    uint32_t codes = 0;
    int r = rig_get_rf_gains(&codes);
    if (r != RIG_OK)
        return r;
    int step = static_cast<int>((codes >> (8 * channel)) & 0xFFu) / FE_RF_CODES_PER_STEP;
    if (step > RF_STEPS)
        step = RF_STEPS;
    snprintf(value, size, "%f", static_cast<double>(step) / RF_STEPS);
    return RIG_OK;
}

// The mode and its passband: -1 (or none given) keeps the passband, 0 takes
// the mode's normal width.
int set_mode(int channel, const char *mode, const char *passband) {
    long width = -1;
    const mode_info *known = nullptr;
    for (const mode_info &m : modes)
        if (same(mode, m.name))
            known = &m;
    if (known == nullptr || (passband != nullptr && !parse_passband(passband, &width)))
        return RIG_EINVAL;
    for (const filter_info &f : filters)
        if (width == 0 && (f.mode_bits & known->bit) != 0)
            width = f.width;
    channel_state &c = channels[channel];
    snprintf(c.mode, sizeof c.mode, "%s", mode);
    if (width != -1)
        c.passband = width;
    return RIG_OK;
}

// ---------------------------------------------------------------------------
// The state dump that a client reads when it opens
// ---------------------------------------------------------------------------

void put_dump_state(reply_writer &w) {
    char line[160];
    auto put = [&](const char *text) { put_record(w, nullptr, text); };
    put("1"); // protocol version
    put("2"); // the model of a network radio
    put("0"); // ITU region: none
    snprintf(line, sizeof line, "%f %f 0x%x -1 -1 0x1 0x0", TUNE_LOW_HZ, TUNE_HIGH_HZ, MODE_BITS);
    put(line);
    put("0 0 0 0 0 0 0"); // end of the receive ranges
    put("0 0 0 0 0 0 0"); // no transmit range
    snprintf(line, sizeof line, "0x%x 1", MODE_BITS);
    put(line); // tuning step: 1 Hz in every mode
    put("0 0");
    // Filters: what each mode usually takes; the host filters.
    for (const filter_info &f : filters) {
        snprintf(line, sizeof line, "0x%x %ld", f.mode_bits, f.width);
        put(line);
    }
    put("0 0");
    put("0");   // no RIT
    put("0");   // no XIT
    put("0");   // no IF shift
    put("0");   // no announcements
    put("");    // no preamplifier
    put("");    // no attenuator
    put("0x0"); // functions read
    put("0x0"); // functions set
    snprintf(line, sizeof line, "0x%x", LEVEL_RF | LEVEL_AGC);
    put(line);  // levels read
    put(line);  // levels set
    put("0x0"); // parameters read
    put("0x0"); // parameters set
    put("vfo_ops=0x0");
    put("ptt_type=0x0");
    put("targetable_vfo=0x0");
    put("has_set_vfo=1");
    put("has_get_vfo=1");
    put("has_set_freq=1");
    put("has_get_freq=1");
    put("has_set_conf=0");
    put("has_get_conf=0");
    put("has_power2mW=0");
    put("has_mW2power=0");
    put("timeout=0");
    put("rig_model=2");
    put("rigctld_version=kestreld " KESTREL_VERSION);
    snprintf(line, sizeof line, "agc_levels=%d=OFF %d=AUTO", AGC_OFF, AGC_AUTO);
    put(line);
    put("done");
}

// ---------------------------------------------------------------------------
// One request line
// ---------------------------------------------------------------------------

constexpr int MAX_WORDS = 6;
constexpr size_t WORD_SIZE = 64;

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// Splits the line at runs of blanks. Returns the number of words, or -1 when
// there are too many or one is too long.
int split_words(const char *line, size_t length, char (*words)[WORD_SIZE]) {
    int count = 0;
    size_t i = 0;
    for (;;) {
        while (i < length && is_blank(line[i]))
            i++;
        if (i >= length)
            return count;
        size_t start = i;
        while (i < length && !is_blank(line[i]))
            i++;
        if (count == MAX_WORDS || i - start >= WORD_SIZE)
            return -1;
        memcpy(words[count], line + start, i - start);
        words[count][i - start] = '\0';
        count++;
    }
}

const command_info *find_command(const char *word) {
    for (const command_info &c : commands) {
        if (word[0] == '\\' ? same(word + 1, c.name) && c.letter != 'Q'
                            : (c.letter != 0 ? word[0] == c.letter && word[1] == '\0'
                                             : same(word, c.name) && c.id >= AOS))
            return &c;
    }
    return nullptr;
}

} // namespace

void rigctl_reset_state(void) {
    for (channel_state &c : channels)
        c = channel_state{};
}

bool rigctl_execute(rigctl_client *client, const char *line, size_t length, std::string *reply) {
    char words[MAX_WORDS][WORD_SIZE];
    int count = split_words(line, length, words);
    if (count == 0)
        return true;
    reply_writer w{reply, false, '\n'};
    if (count < 0) { // too many words, or one too long for any value
        put_status(w, RIG_EINVAL);
        return true;
    }
    const char *first = words[0];
    if (first[0] == '+' || first[0] == ';' || first[0] == '|' || first[0] == ',') {
        w.extended = true;
        w.separator = first[0] == '+' ? '\n' : first[0];
        first++;
        if (first[0] == '\0' && count > 1) { // "+ f": the command is the next word
            memmove(words, words + 1, sizeof words[0] * static_cast<size_t>(count - 1));
            count--;
            first = words[0];
        }
    }
    const command_info *cmd = find_command(first);
    if (cmd == nullptr) {
        put_status(w, RIG_ENAVAIL);
        return true;
    }
    // The arguments, after a VFO name that a client in VFO mode puts first.
    const char *args[MAX_WORDS] = {};
    int nargs = 0;
    for (int i = 1; i < count; i++)
        args[nargs++] = words[i];
    bool vfo_refused = false;
    if (cmd->id != SET_VFO && nargs > cmd->min_args && nargs > 0 &&
        (one_of(args[0], own_vfo_names) || one_of(args[0], other_vfo_names))) {
        vfo_refused = !one_of(args[0], own_vfo_names);
        for (int i = 1; i < nargs; i++)
            args[i - 1] = args[i];
        nargs--;
    }

    if (w.extended) {
        reply->append(cmd->name);
        reply->push_back(':');
        for (int i = 0; i < nargs; i++) {
            reply->push_back(' ');
            reply->append(args[i]);
        }
        reply->push_back(w.separator);
    }
    if (nargs < cmd->min_args || nargs > cmd->max_args || vfo_refused) {
        put_status(w, RIG_EINVAL);
        return true;
    }

    const int ch = client->channel;
    char value[64];
    int status = RIG_OK;
    switch (cmd->id) {
    case SET_FREQ:
        status = set_freq(ch, args[0]);
        break;
    case GET_FREQ: {
        uint32_t hz = 0;
        status = get_freq(ch, &hz);
        if (status == RIG_OK) {
            snprintf(value, sizeof value, "%u", hz);
            put_record(w, "Frequency", value);
        }
        break;
    }
    case SET_LEVEL:
        status = set_level(ch, args[0], args[1]);
        break;
    case GET_LEVEL:
        status = get_level(ch, args[0], value, sizeof value);
        if (status == RIG_OK)
            put_record(w, nullptr, value);
        break;
    case SET_MODE:
        status = set_mode(ch, args[0], nargs > 1 ? args[1] : nullptr);
        break;
    case GET_MODE:
        put_record(w, "Mode", channels[ch].mode);
        snprintf(value, sizeof value, "%ld", channels[ch].passband);
        put_record(w, "Passband", value);
        break;
    case SET_VFO:
        status = one_of(args[0], own_vfo_names) ? RIG_OK : RIG_EINVAL;
        break;
    case GET_VFO:
        put_record(w, "VFO", "VFOA");
        break;
    case SET_SPLIT:
        status = same(args[0], "0") ? RIG_OK : same(args[0], "1") ? RIG_ENAVAIL : RIG_EINVAL;
        break;
    case GET_SPLIT:
        put_record(w, "Split", "0");
        put_record(w, "TX VFO", "VFOA");
        break;
    case SET_PTT:
    case GET_PTT:
        status = RIG_ENAVAIL;
        break;
    case GET_POWERSTAT:
        put_record(w, "Power Status", "1");
        break;
    case CHK_VFO:
        put_record(w, "ChkVFO", "0");
        break;
    case SET_VFO_OPT:
        status = same(args[0], "0") || same(args[0], "1") ? RIG_OK : RIG_EINVAL;
        if (status == RIG_OK)
            client->vfo_opt = args[0][0] == '1';
        break;
    case GET_LOCK_MODE:
        // Both lines, also in the default form: clients read the status.
        put_record(w, "Locked", "0");
        put_status(w, RIG_OK);
        return true;
    case DUMP_STATE:
        put_dump_state(w);
        if (!w.extended)
            return true;
        break;
    case AOS:
    case LOS:
        break;
    case QUIT:
        put_status(w, RIG_OK);
        return false;
    case UNKNOWN:
        status = RIG_ENAVAIL;
        break;
    }
    bool query = cmd->letter != 0 ? (cmd->letter >= 'a' && cmd->letter <= 'z')
                                  : cmd->id == GET_POWERSTAT || cmd->id == CHK_VFO;
    if (w.extended || !query || status != RIG_OK)
        put_status(w, status);
    return true;
}
