// SPDX-License-Identifier: MIT
// Fuzz target: kestreld's request lines. Any bytes, cut at each "\n" into
// request lines, go through rigctl_execute with a stand-in receiver whose
// answers (frequency, gain codes, failures) come from the input too.
//
// Input: byte 0 picks the stand-in's failure (0-3: none, invalid, time-out,
// link failure; 4-7 the same with a receiver that answers frequency 0),
// bytes 1-4 its gain codes; the rest are the lines.
//
// What must hold, besides no memory error or undefined behaviour: a line
// of blanks gets no reply and any other line exactly one reply, which ends
// in "\n", holds no "\r" and fits RIGCTL_MAX_REPLY; a frequency handed to
// the receiver is never 0; a default-form query never answers "0" for f.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "rig.h"
#include "rigctl.h"

namespace {

int failure = RIG_OK;
bool answers_zero = false;
uint32_t gain_codes = 0;

[[noreturn]] void fail(const char *what, const std::string &line, const std::string &reply) {
    fprintf(stderr, "rigctl_fuzz: %s\nline: %s\nreply: %s\n", what, line.c_str(), reply.c_str());
    abort();
}

} // namespace

// The stand-in receiver.
void rig_configure(const char *, uint16_t) {}
int rig_open(void) {
    return failure == RIG_EPOWER ? RIG_EPOWER : RIG_OK;
}
void rig_close(void) {}
int rig_set_frequency(int channel, uint32_t hz) {
    if (hz == 0 || channel < 0 || channel >= RIGCTL_MAX_CHANNELS)
        fail("frequency 0 or a channel out of range sent", "", "");
    return failure;
}
int rig_get_frequency(int, uint32_t *hz) {
    *hz = answers_zero || failure != RIG_OK ? 0 : 145800000;
    return failure;
}
int rig_set_rf_gain(int, int code) {
    if (code < 0 || code > 120 || code % 8 != 0)
        fail("RF gain code off the scale", "", "");
    return failure;
}
int rig_get_rf_gains(uint32_t *codes) {
    *codes = gain_codes;
    return failure;
}
int rig_set_agc(int channel, bool) {
    if (channel < 0 || channel >= RIGCTL_MAX_CHANNELS)
        fail("AGC of a channel out of range", "", "");
    return failure;
}
int rig_get_agc(int, bool *on) {
    *on = (gain_codes & 1) != 0;
    return failure;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 5)
        return 0;
    static const int failures[] = {RIG_OK, RIG_EINVAL, RIG_ETIMEOUT, RIG_EPOWER};
    failure = failures[data[0] & 3];
    answers_zero = (data[0] & 4) != 0;
    gain_codes = static_cast<uint32_t>(data[1]) | static_cast<uint32_t>(data[2]) << 8 |
                 static_cast<uint32_t>(data[3]) << 16 | static_cast<uint32_t>(data[4]) << 24;
    rigctl_reset_state();
    rigctl_client client;
    client.channel = data[0] >> 6;
    const char *text = reinterpret_cast<const char *>(data + 5);
    size_t left = size - 5;
    while (left > 0) {
        const char *nl = static_cast<const char *>(memchr(text, '\n', left));
        size_t length = nl != nullptr ? static_cast<size_t>(nl - text) : left;
        std::string line(text, length), reply;
        bool keep = rigctl_execute(&client, text, length, &reply);
        bool blank = line.find_first_not_of(" \t\r\v\f") == std::string::npos;
        if (blank != reply.empty())
            fail("not exactly one reply", line, reply);
        if (!reply.empty() && (reply.back() != '\n' || reply.find('\r') != std::string::npos ||
                               reply.size() > RIGCTL_MAX_REPLY))
            fail("a reply that is not whole, holds \\r or is too long", line, reply);
        if ((line == "f" || line == "\\get_freq") && reply == "0\n")
            fail("f answered 0", line, reply);
        if (!keep)
            break;
        if (nl == nullptr)
            break;
        text = nl + 1;
        left -= length + 1;
    }
    return 0;
}
