// SPDX-License-Identifier: MIT
// The simulated receiver's state and its answers to front-end reports.
//
// Requests travel as 7-byte reports (5 for some receiver models): byte 0 is
// the report code (1 EEPROM write, 2 command, 3 frequency), byte 1 the
// command code, then the parameters, every multi-byte field least
// significant byte first. Answers are 7-byte reports: 06 <cmd> v0 v1 v2 v3 00
// (a generic answer carrying a 32-bit value) or 07 followed by the six
// request bytes after the code (the frequency answer).
#include "receiver_model.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <chrono>
#include <filesystem>
#include <sstream>

#include <fcntl.h>
#ifndef _WIN32
#include <unistd.h>
#endif

namespace ksim {

namespace {

enum class Format { Dec, Hex, Ip };

struct KeyDef {
    std::string name;
    uint32_t initial;
    int bits;
    Format format;
};

// Every key of the state, in dump order, with its start-up value.
const std::vector<KeyDef> &key_defs() {
    static const std::vector<KeyDef> defs = [] {
        std::vector<KeyDef> d;
        auto add = [&d](const std::string &n, uint32_t v, int bits = 32, Format f = Format::Dec) {
            d.push_back({n, v, bits, f});
        };
        // Tuning and gains, per channel.
        for (int ch = 0; ch < 4; ch++)
            add("freq." + std::to_string(ch), 0);
        for (int ch = 0; ch < 4; ch++)
            add("rfgain." + std::to_string(ch), 64, 8); // code 64 is 14 dB
        for (int ch = 0; ch < 4; ch++)
            add("phase." + std::to_string(ch), 0, 16);
        add("fe_gain", 1);  // the code as sent: gain index + 1
        add("fe_param", 0); // the second parameter byte of the FE gain report
        add("lna_gain", 0);
        add("mix_gain", 0);
        add("vga_gain", 0);
        add("lna_agc", 0);
        add("mix_agc", 0);
        add("agc_mask", 0);
        add("multichannel_mode", 0);
        add("multichannel_channel", 0);
        add("usb_mode", 0);
        add("leds", 0);
        add("stream", 0);
        add("sample_rate", 192000);
        add("mac", 0x3A34, 32, Format::Hex);
        // Identity values.
        add("fw", 0x01020304, 32, Format::Hex);
        add("subversion", 0x0017, 32, Format::Hex);
        add("serial", 0x1A2B3C4D, 32, Format::Hex);
        add("cpld_sn", 0x00C0FFEE, 32, Format::Hex);
        add("cpld2_sn", 0x00BEEF01, 32, Format::Hex);
        add("ip", 0xC0A80164, 32, Format::Ip); // 192.168.1.100
        add("mask", 0xFFFFFF00, 32, Format::Ip);
        add("gateway", 0xC0A80101, 32, Format::Ip);
        add("dst_ip", 0xC0A80102, 32, Format::Ip);
        add("udp_port", 50001);
        add("dhcp", 0, 32, Format::Hex);
        add("vhf_clock", 28800000);
        add("agc_state", 0x0003, 32, Format::Hex);
        add("init_status", 1, 32, Format::Hex);
        add("sync_state", 1, 32, Format::Hex);
        add("emulation_id", 0, 32, Format::Hex);
        // Settings of the commands that the utility builds but never sends.
        add("vco", 0x800, 16);
        add("gain_table", 0, 16);
        add("bpf", 0, 16);
        add("broadcast", 0);
        add("multicast", 0);
        add("id_string", 0);
        add("default_id", 0);
        add("lpf_bypass", 0);
        add("multistream", 0);
        add("multistream_saved", 0);
        add("r820t_freq", 0);
        add("r820t_power", 1);
        add("if_bw", 0);
        add("hp_bw", 0);
        add("lp_bw", 0);
        add("console", 0);
        add("console_char", 0);
        add("flash_address", 0, 16);
        add("flash_data", 0, 16);
        // What happened, counted.
        add("resets", 0);
        add("defaults_saved", 0);
        add("firmware_upgrades", 0);
        add("fe_inits", 0);
        add("unknown_requests", 0);
        // Stored words: EEPROM (16-bit) and user memory (32-bit).
        std::vector<uint32_t> eeprom(256, 0);
        eeprom[0] = 0x2D00; // main clock 51391744 Hz
        eeprom[1] = 0x0310;
        eeprom[6] = 0xEE00; // USB sample rate 192000 Hz
        eeprom[7] = 0x0002;
        eeprom[9] = 0x7700; // diversity sample rate 96000 Hz
        eeprom[10] = 0x0001;
        eeprom[27] = 0x0800;
        for (int a = 0; a < 256; a++)
            add("eeprom." + std::to_string(a), eeprom[static_cast<size_t>(a)], 16);
        for (int w = 0; w < 256; w++)
            add("mem." + std::to_string(w), 0);
        return d;
    }();
    return defs;
}

const KeyDef *find_key(const std::string &name) {
    static const std::map<std::string, const KeyDef *> index = [] {
        std::map<std::string, const KeyDef *> m;
        for (const KeyDef &k : key_defs())
            m[k.name] = &k;
        return m;
    }();
    auto it = index.find(name);
    return it == index.end() ? nullptr : it->second;
}

// Parses an unsigned number: decimal, or hexadecimal after "0x". A leading
// '-' takes the 32-bit two's complement of a number up to 2^31.
std::optional<uint64_t> parse_number(const std::string &s) {
    if (s.empty())
        return std::nullopt;
    size_t i = 0;
    bool negative = false;
    if (s[0] == '-') {
        negative = true;
        i = 1;
    }
    int base = 10;
    if (s.size() > i + 2 && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= s.size())
        return std::nullopt;
    uint64_t v = 0;
    for (; i < s.size(); i++) {
        int digit;
        char c = s[i];
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return std::nullopt;
        v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
        if (v > 0xFFFFFFFFull)
            return std::nullopt;
    }
    if (negative) {
        if (v > 0x80000000ull)
            return std::nullopt;
        v = (0x100000000ull - v) & 0xFFFFFFFFull;
    }
    return v;
}

std::optional<uint64_t> parse_ip(const std::string &s) {
    uint64_t v = 0;
    int parts = 0;
    size_t i = 0;
    while (parts < 4) {
        size_t start = i;
        uint64_t octet = 0;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9' && i - start < 3)
            octet = octet * 10 + static_cast<uint64_t>(s[i++] - '0');
        if (i == start || octet > 255)
            return std::nullopt;
        v = (v << 8) | octet;
        parts++;
        if (parts < 4) {
            if (i >= s.size() || s[i] != '.')
                return std::nullopt;
            i++;
        }
    }
    if (i != s.size())
        return std::nullopt;
    return v;
}

std::string format_value(const KeyDef &k, uint32_t v) {
    char buf[32];
    switch (k.format) {
    case Format::Hex:
        snprintf(buf, sizeof buf, "0x%08X", v);
        break;
    case Format::Ip:
        snprintf(buf, sizeof buf, "%u.%u.%u.%u", v >> 24, (v >> 16) & 0xFF, (v >> 8) & 0xFF,
                 v & 0xFF);
        break;
    case Format::Dec:
        snprintf(buf, sizeof buf, "%u", v);
        break;
    }
    return buf;
}

Answer generic(uint8_t command, uint32_t v) {
    return Answer{6,
                  command,
                  static_cast<uint8_t>(v),
                  static_cast<uint8_t>(v >> 8),
                  static_cast<uint8_t>(v >> 16),
                  static_cast<uint8_t>(v >> 24),
                  0};
}

// How a command report (code 2) changes the state or what it asks for.
enum class Act {
    Set8,    // key = byte 2
    Set16,   // key = bytes 2-3
    Set32,   // key = bytes 2-5
    Get,     // answer the key's value
    Count,   // add one to the key
    Special, // handled by its own code in apply_command
};

struct CommandDef {
    uint8_t command;
    const char *name;
    Act act;
    const char *key;
};

// The receiver's commands (report code 2), by command code.
const CommandDef command_defs[] = {
    {0x01, "get frequency", Act::Special, nullptr},
    {0x02, "FE gain", Act::Special, nullptr},
    {0x04, "get init status", Act::Get, "init_status"},
    {0x08, "RF gain", Act::Special, nullptr},
    {0x09, "get firmware version", Act::Get, "fw"},
    {0x0A, "console character", Act::Set8, "console_char"},
    {0x0B, "console on", Act::Set8, "console"},
    {0x0C, "save defaults", Act::Count, "defaults_saved"},
    {0x0E, "get sample rate", Act::Get, "sample_rate"},
    {0x0F, "get multichannel mode", Act::Get, "multichannel_mode"},
    {0x10, "get IP address", Act::Get, "ip"},
    {0x11, "get IP mask", Act::Get, "mask"},
    {0x12, "get gateway address", Act::Get, "gateway"},
    {0x13, "get destination address", Act::Get, "dst_ip"},
    {0x14, "get UDP port", Act::Get, "udp_port"},
    {0x15, "save IP address", Act::Set32, "ip"},
    {0x16, "save IP mask", Act::Set32, "mask"},
    {0x17, "save gateway address", Act::Set32, "gateway"},
    {0x18, "save destination address", Act::Set32, "dst_ip"},
    {0x19, "save UDP port", Act::Set32, "udp_port"},
    {0x1A, "UDP stream start/stop", Act::Set8, "stream"},
    {0x1D, "get serial number", Act::Get, "serial"},
    {0x1E, "set sample rate", Act::Set32, "sample_rate"},
    {0x1F, "VCO voltage", Act::Set16, "vco"},
    {0x20, "get VCO voltage", Act::Get, "vco"},
    {0x21, "save gain table", Act::Set16, "gain_table"},
    {0x22, "get gain table", Act::Get, "gain_table"},
    {0x23, "band-pass tune", Act::Set16, "bpf"},
    {0x24, "get sync state", Act::Get, "sync_state"},
    {0x25, "get CPLD serial number", Act::Get, "cpld_sn"},
    {0x26, "firmware upgrade", Act::Count, "firmware_upgrades"},
    {0x27, "flash half-word", Act::Special, nullptr},
    {0x28, "set broadcast flag", Act::Set8, "broadcast"},
    {0x29, "get broadcast flag", Act::Get, "broadcast"},
    {0x2A, "LPF bypass", Act::Set8, "lpf_bypass"},
    {0x30, "multichannel mode", Act::Special, nullptr},
    {0x31, "set multicast flag", Act::Set8, "multicast"},
    {0x32, "set ID string", Act::Set8, "id_string"},
    {0x33, "get emulation ID", Act::Get, "emulation_id"},
    {0x34, "save default ID", Act::Set8, "default_id"},
    {0x35, "soft reset", Act::Special, nullptr},
    {0x36, "get DHCP server state", Act::Get, "dhcp"},
    {0x37, "set DHCP server state", Act::Set8, "dhcp"},
    {0x38, "phase shift", Act::Special, nullptr},
    {0x39, "get CPLD2 serial number", Act::Get, "cpld2_sn"},
    {0x44, "USB mode", Act::Special, nullptr},
    {0x45, "AGC mask", Act::Set8, "agc_mask"},
    {0x46, "get AGC level", Act::Special, nullptr},
    {0x47, "get AGC state", Act::Get, "agc_state"},
    {0x48, "set multistream mode", Act::Set8, "multistream"},
    {0x49, "get multistream mode", Act::Get, "multistream"},
    {0x4A, "save multistream mode", Act::Set8, "multistream_saved"},
    {0x4B, "LEDs", Act::Set8, "leds"},
    {0x4E, "R820T frequency", Act::Set32, "r820t_freq"},
    {0x4F, "R820T LNA gain", Act::Set8, "lna_gain"},
    {0x50, "R820T mixer gain", Act::Set8, "mix_gain"},
    {0x51, "R820T VGA gain", Act::Set8, "vga_gain"},
    {0x52, "R820T LNA AGC", Act::Set8, "lna_agc"},
    {0x53, "R820T mixer AGC", Act::Set8, "mix_agc"},
    {0x54, "R820T IF bandwidth", Act::Set8, "if_bw"},
    {0x55, "read EEPROM word", Act::Special, nullptr},
    {0x57, "R820T power", Act::Set8, "r820t_power"},
    {0x58, "R820T high-pass bandwidth", Act::Set8, "hp_bw"},
    {0x59, "R820T low-pass bandwidth", Act::Set8, "lp_bw"},
    {0x5A, "save VHF reference clock", Act::Set32, "vhf_clock"},
    {0x5B, "get VHF reference clock", Act::Get, "vhf_clock"},
    {0x5C, "save MAC word", Act::Set32, "mac"},
    {0x5D, "get MAC word", Act::Get, "mac"},
    {0x63, "save user memory word", Act::Special, nullptr},
    {0x64, "get user memory word", Act::Special, nullptr},
    {0x65, "get firmware sub-version", Act::Get, "subversion"},
    {0xE1, "init FE", Act::Count, "fe_inits"},
};

const CommandDef *find_command(uint8_t command) {
    for (const CommandDef &c : command_defs)
        if (c.command == command)
            return &c;
    return nullptr;
}

std::string channel_key(const char *prefix, uint8_t channel) {
    return std::string(prefix) + "." + std::to_string(channel);
}

} // namespace

bool set_fault(Faults &faults, const std::string &key, const std::string &value) {
    std::optional<uint64_t> v = parse_number(value);
    if (!v)
        return false;
    if (key == "silent") {
        faults.silent = *v != 0;
    } else if (key == "silent_after") {
        faults.silent_after = *v > 0x7FFFFFFF ? -1 : static_cast<long>(*v);
    } else if (key == "delay_ms") {
        if (*v > 600000)
            return false;
        faults.delay_ms = static_cast<int>(*v);
    } else if (key == "answer_code") {
        if (*v > 255)
            return false;
        faults.answer_code = static_cast<int>(*v);
    } else if (key == "extra_28") {
        faults.extra_28 = *v != 0;
    } else if (key == "stale_answer") {
        if (*v > 0xFFFFFFFF)
            return false;
        faults.stale_answer = static_cast<int64_t>(*v);
    } else {
        return false;
    }
    return true;
}

const std::vector<CommandInfo> &command_catalogue() {
    static const std::vector<CommandInfo> list = [] {
        std::vector<CommandInfo> l;
        l.push_back({3, 0, "set frequency", true});
        l.push_back({1, 0x56, "write EEPROM word", true});
        for (const CommandDef &c : command_defs)
            l.push_back({2, c.command, c.name, c.command != 0x35});
        return l;
    }();
    return list;
}

Receiver::Receiver() {
    for (const KeyDef &k : key_defs())
        values_[k.name] = k.initial;
}

void Receiver::put(const std::string &key, uint32_t v) {
    const KeyDef *k = find_key(key);
    if (k == nullptr)
        return; // only known keys are ever stored
    if (k->bits < 32)
        v &= (1u << k->bits) - 1u;
    values_[key] = v;
}

uint32_t Receiver::at(const std::string &key) const {
    auto it = values_.find(key);
    return it == values_.end() ? 0 : it->second;
}

void Receiver::bump(const std::string &key) {
    put(key, at(key) + 1);
}

// A restart stops the data stream and brings up the sample rate saved in
// EEPROM words 6 and 7 (when one was saved).
void Receiver::restart() {
    bump("resets");
    put("stream", 0);
    uint32_t saved = (at("eeprom.7") << 16) | at("eeprom.6");
    if (saved != 0)
        put("sample_rate", saved);
}

std::vector<Answer> Receiver::handle(const uint8_t *data, size_t length) {
    request_count++;
    uint8_t r[7] = {0, 0, 0, 0, 0, 0, 0};
    if (data != nullptr)
        memcpy(r, data, length < sizeof r ? length : sizeof r);

    std::optional<Answer> answer;
    if (length == 0 || data == nullptr) {
        bump("unknown_requests");
    } else if (r[0] == 3) {
        // Frequency report: bytes 1-4 frequency, byte 5 channel.
        if (r[5] < 4)
            put(channel_key("freq", r[5]), u32_at(r, 1));
        answer = Answer{7, r[1], r[2], r[3], r[4], r[5], r[6]};
    } else if (r[0] == 1) {
        // EEPROM write: byte 2 virtual address, bytes 3-4 the word.
        if (r[1] == 0x56)
            put(channel_key("eeprom", r[2]), u16_at(r, 3));
        else
            bump("unknown_requests");
        answer = generic(r[1], 0);
    } else if (r[0] == 2) {
        const uint8_t cmd = r[1];
        const CommandDef *def = find_command(cmd);
        if (def == nullptr) {
            bump("unknown_requests");
            answer = generic(cmd, 0);
        } else {
            switch (def->act) {
            case Act::Set8:
                put(def->key, r[2]);
                answer = generic(cmd, 0);
                break;
            case Act::Set16:
                put(def->key, u16_at(r, 2));
                answer = generic(cmd, 0);
                break;
            case Act::Set32:
                put(def->key, u32_at(r, 2));
                answer = generic(cmd, 0);
                break;
            case Act::Get:
                answer = generic(cmd, at(def->key));
                break;
            case Act::Count:
                bump(def->key);
                answer = generic(cmd, 0);
                break;
            case Act::Special:
                switch (cmd) {
                case 0x01: // channel in byte 2
                    answer = generic(cmd, r[2] < 4 ? at(channel_key("freq", r[2])) : 0);
                    break;
                case 0x02: // gain code in byte 2, a second parameter in byte 3
                    put("fe_gain", r[2]);
                    put("fe_param", r[3]);
                    answer = generic(cmd, 0);
                    break;
                case 0x08: // gain code in byte 2, channel in byte 3
                    if (r[3] < 4)
                        put(channel_key("rfgain", r[3]), r[2]);
                    answer = generic(cmd, 0);
                    break;
                case 0x27: // address in bytes 2-3, data in bytes 4-5
                    put("flash_address", u16_at(r, 2));
                    put("flash_data", u16_at(r, 4));
                    answer = generic(cmd, 0);
                    break;
                case 0x30: // mode in byte 2, channel in byte 3
                    put("multichannel_mode", r[2]);
                    put("multichannel_channel", r[3]);
                    answer = generic(cmd, 0);
                    break;
                case 0x35: // restarts at once: no answer
                    restart();
                    break;
                case 0x38: // phase in bytes 2-3, channel in byte 4
                    if (r[4] < 4)
                        put(channel_key("phase", r[4]), u16_at(r, 2));
                    answer = generic(cmd, 0);
                    break;
                case 0x44: // mode 2 restarts the receiver at once: no answer
                    put("usb_mode", r[2]);
                    if (r[2] == 2)
                        restart();
                    else
                        answer = generic(cmd, 0);
                    break;
                case 0x46: { // four RF gain codes, channel 0 least significant
                    uint32_t v = at("rfgain.0") | at("rfgain.1") << 8 | at("rfgain.2") << 16 |
                                 at("rfgain.3") << 24;
                    answer = generic(cmd, v);
                    break;
                }
                case 0x55: // virtual address in byte 2; the word in the low 16 bits
                    answer = generic(cmd, at(channel_key("eeprom", r[2])));
                    break;
                case 0x63: // word number in byte 2, the word in bytes 3-6
                    put(channel_key("mem", r[2]), u32_at(r, 3));
                    answer = generic(cmd, 0);
                    break;
                case 0x64: // word number in byte 2
                    answer = generic(cmd, at(channel_key("mem", r[2])));
                    break;
                default:
                    answer = generic(cmd, 0);
                    break;
                }
                break;
            }
        }
    } else {
        bump("unknown_requests"); // no such report code: nothing to answer
    }

    std::vector<Answer> out;
    if (!answer || faults.silent)
        return out;
    if (faults.silent_after >= 0 && request_count > static_cast<uint64_t>(faults.silent_after))
        return out;
    if (faults.stale_answer >= 0 && request_count == 1)
        out.push_back(generic(0x64, static_cast<uint32_t>(faults.stale_answer)));
    if (faults.extra_28)
        out.push_back(generic(0x1C, static_cast<uint32_t>(request_count)));
    if (faults.answer_code >= 0)
        (*answer)[0] = static_cast<uint8_t>(faults.answer_code);
    out.push_back(*answer);
    return out;
}

bool Receiver::set(const std::string &key, const std::string &value) {
    const KeyDef *k = find_key(key);
    if (k == nullptr)
        return false;
    std::optional<uint64_t> v = k->format == Format::Ip ? parse_ip(value) : std::nullopt;
    if (!v)
        v = parse_number(value);
    if (!v)
        return false;
    if (k->bits < 32 && *v >= (1ull << k->bits))
        return false;
    values_[key] = static_cast<uint32_t>(*v);
    return true;
}

bool Receiver::load(const std::string &text, std::string *error) {
    std::istringstream in(text);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        number++;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::istringstream words(line);
        std::string key, value, extra;
        if (!(words >> key) || key[0] == '#')
            continue;
        bool ok = static_cast<bool>(words >> value) && !(words >> extra);
        if (ok) {
            if (key.rfind("fault.", 0) == 0)
                ok = set_fault(faults, key.substr(6), value);
            else
                ok = set(key, value);
        }
        if (!ok) {
            if (error != nullptr)
                *error = "line " + std::to_string(number) + ": cannot use \"" + line + "\"";
            return false;
        }
    }
    return true;
}

std::optional<std::string> Receiver::get(const std::string &key) const {
    const KeyDef *k = find_key(key);
    if (k == nullptr)
        return std::nullopt;
    return format_value(*k, at(key));
}

std::optional<uint32_t> Receiver::value(const std::string &key) const {
    if (find_key(key) == nullptr)
        return std::nullopt;
    return at(key);
}

std::string Receiver::dump() const {
    std::string out;
    for (const KeyDef &k : key_defs()) {
        out += k.name;
        out += ' ';
        out += format_value(k, at(k.name));
        out += '\n';
    }
    return out;
}

bool load_file(Receiver &rx, const std::string &path, std::string *error) {
    FILE *f = fopen(path.c_str(), "rb");
    if (f == nullptr) {
        if (error != nullptr)
            *error = path + ": " + strerror(errno);
        return false;
    }
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        text.append(buf, n);
    fclose(f);
    std::string why;
    if (!rx.load(text, &why)) {
        if (error != nullptr)
            *error = path + ": " + why;
        return false;
    }
    return true;
}

bool dump_file(const Receiver &rx, const std::string &path) {
    std::string tmp = path + ".tmp";
    FILE *f = fopen(tmp.c_str(), "wb");
    if (f == nullptr)
        return false;
    std::string text = rx.dump();
    bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = (fclose(f) == 0) && ok;
    std::error_code ec;
    if (ok)
        std::filesystem::rename(tmp, path, ec); // replaces the old file, also on Windows
    if (!ok || ec) {
        std::remove(tmp.c_str());
        return false;
    }
    return true;
}

std::string hex_bytes(const uint8_t *data, size_t length) {
    std::string out;
    char buf[4];
    for (size_t i = 0; i < length; i++) {
        snprintf(buf, sizeof buf, "%02X", data[i]);
        if (i > 0)
            out += ' ';
        out += buf;
    }
    return out;
}

bool append_line(const std::string &path, const std::string &line) {
#ifdef _WIN32
    // Appending from one process at a time (the HID stand-in in kestrel.exe).
    FILE *f = fopen(path.c_str(), "ab");
    if (f == nullptr)
        return false;
    bool written = fprintf(f, "%s\n", line.c_str()) > 0;
    return fclose(f) == 0 && written;
#else
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    std::string text = line + "\n";
    // One write with O_APPEND: lines of several writers never interleave.
    bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    return ok;
#endif
}

uint32_t u16_at(const uint8_t *r, size_t i) {
    return uint32_t{r[i]} | uint32_t{r[i + 1]} << 8;
}

uint32_t u32_at(const uint8_t *r, size_t i) {
    return uint32_t{r[i]} | uint32_t{r[i + 1]} << 8 | uint32_t{r[i + 2]} << 16 |
           uint32_t{r[i + 3]} << 24;
}

uint64_t monotonic_ms() {
    using namespace std::chrono; // CLOCK_MONOTONIC on Linux, the performance counter on Windows
    return static_cast<uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

} // namespace ksim
