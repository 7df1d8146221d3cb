// SPDX-License-Identifier: MIT
// A stand-in for the USB HID library whose receivers are listed in a
// configuration file and answered by the receiver model: on Linux the
// shared library that tests load into kestrel with LD_PRELOAD, on Windows
// the hidapi.dll beside a test copy of kestrel.exe. The environment
// variable KESTREL_SIM_HID_CONFIG names the file (format in sim/README.md).
// The hid_* functions themselves are hid_core.cpp's.
//
// A read waits up to its time-out for an answer and returns 0 when none
// came; an answer that arrives late is returned by the next read. Every
// request is logged and the state is written after each one.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "hid_core.h"
#include "receiver_model.h"

#ifdef _WIN32
#include <windows.h>
#endif

#ifdef _WIN32
#define SHIM_EXPORT extern "C" __declspec(dllexport)
#else
#define SHIM_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

void sleep_until(uint64_t when_ms) {
    for (uint64_t now = ksim::monotonic_ms(); now < when_ms; now = ksim::monotonic_ms())
        std::this_thread::sleep_for(std::chrono::milliseconds(when_ms - now));
}

struct Pending {
    ksim::Answer answer;
    uint64_t ready_ms;
};

std::string log_path;

struct SimDevice : hidcore::Device {
    std::string id;
    std::string unplugged_path; // while this file exists the receiver is unplugged
    std::string state_path;
    ksim::Receiver rx;
    std::deque<Pending> answers;

    int write(const unsigned char *data, size_t length) override {
        if (!log_path.empty())
            ksim::append_line(log_path, id + " " + ksim::hex_bytes(data, length));
        std::vector<ksim::Answer> got = rx.handle(data, length);
        if (!state_path.empty())
            ksim::dump_file(rx, state_path);
        uint64_t ready = ksim::monotonic_ms() + static_cast<uint64_t>(rx.faults.delay_ms);
        for (const ksim::Answer &a : got)
            answers.push_back({a, ready});
        return static_cast<int>(length);
    }

    bool present() const override {
        std::error_code ec;
        return unplugged_path.empty() || !std::filesystem::exists(unplugged_path, ec);
    }

    int answer(uint8_t *out, size_t capacity, size_t *length, int timeout_ms) override {
        // A blocking read (-1) with nothing on its way still ends, after 10 s.
        const uint64_t deadline =
            ksim::monotonic_ms() + static_cast<uint64_t>(timeout_ms < 0 ? 10000 : timeout_ms);
        if (answers.empty() || (timeout_ms >= 0 && answers.front().ready_ms > deadline)) {
            sleep_until(deadline);
            return 0;
        }
        sleep_until(answers.front().ready_ms);
        const ksim::Answer a = answers.front().answer;
        answers.pop_front();
        *length = a.size() < capacity ? a.size() : capacity;
        memcpy(out, a.data(), *length);
        return 1;
    }
};

struct Registry {
    bool loaded = false;
    std::vector<std::unique_ptr<SimDevice>> devices;
};

Registry registry;

// The configuration's strings are plain ASCII or UTF-8; each byte becomes
// one wide character for ASCII, and multibyte sequences are decoded.
std::wstring widen(const std::string &s) {
#ifdef _WIN32
    // As kestrel.exe reads its command line: UTF-8, whatever the code page.
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), wide.data(), n);
    return wide;
#else
    std::wstring out;
    mbstate_t st{};
    const char *p = s.c_str();
    const char *end = p + s.size();
    while (p < end) {
        wchar_t wc;
        size_t n = mbrtowc(&wc, p, static_cast<size_t>(end - p), &st);
        if (n == 0 || n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2)) {
            wc = static_cast<unsigned char>(*p); // not valid here: take the byte as it is
            n = 1;
            st = mbstate_t{};
        }
        out.push_back(wc);
        p += n;
    }
    return out;
#endif
}

std::optional<unsigned long> number(const std::string &s) {
    if (s.empty())
        return std::nullopt;
    char *end = nullptr;
    errno = 0;
    unsigned long v = strtoul(s.c_str(), &end, 0);
    if (errno != 0 || *end != '\0')
        return std::nullopt;
    return v;
}

void config_error(const std::string &file, int line, const std::string &what) {
    fprintf(stderr, "kestrel-sim-hid: %s line %d: %s\n", file.c_str(), line, what.c_str());
}

void load_registry() {
    if (registry.loaded)
        return;
    registry.loaded = true;
    const char *file = getenv("KESTREL_SIM_HID_CONFIG");
    if (file == nullptr || *file == '\0')
        return; // no receivers attached
    std::ifstream in(file);
    if (!in) {
        fprintf(stderr, "kestrel-sim-hid: cannot read %s\n", file);
        return;
    }
    std::string line;
    int number_of_line = 0;
    SimDevice *dev = nullptr;
    while (std::getline(in, line)) {
        number_of_line++;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#')
            continue;
        size_t key_end = line.find_first_of(" \t", start);
        std::string key =
            line.substr(start, key_end == std::string::npos ? std::string::npos : key_end - start);
        // The value is the rest of the line after one separator, kept as it
        // is (product strings may hold blanks).
        std::string value = key_end == std::string::npos ? "" : line.substr(key_end + 1);
        if (key == "log") {
            log_path = value;
            continue;
        }
        if (key == "device") {
            registry.devices.push_back(std::make_unique<SimDevice>());
            dev = registry.devices.back().get();
            hidcore::attached().devices.push_back(dev);
            dev->id = value.empty() ? "dev" + std::to_string(registry.devices.size()) : value;
            dev->path = "sim-hid-" + std::to_string(registry.devices.size());
            continue;
        }
        if (dev == nullptr) {
            config_error(file, number_of_line, "\"" + key + "\" before any device line");
            continue;
        }
        bool ok = true;
        if (key == "vid" || key == "pid") {
            std::optional<unsigned long> v = number(value);
            ok = v && *v <= 0xFFFF;
            if (ok)
                (key == "vid" ? dev->vendor_id : dev->product_id) = static_cast<unsigned short>(*v);
        } else if (key == "serial") {
            dev->serial = widen(value);
        } else if (key == "product") {
            dev->product = widen(value);
        } else if (key == "manufacturer") {
            dev->manufacturer = widen(value);
        } else if (key == "path") {
            dev->path = value;
        } else if (key == "unplugged") {
            dev->unplugged_path = value;
        } else if (key == "open") {
            dev->openable = value != "0" && value != "no";
        } else if (key == "state") {
            dev->state_path = value;
            std::string why;
            FILE *probe = fopen(value.c_str(), "r");
            if (probe != nullptr) {
                fclose(probe);
                ok = ksim::load_file(dev->rx, value, &why);
            }
            if (ok)
                ok = ksim::dump_file(dev->rx, value);
            if (!ok && why.empty())
                why = "cannot write " + value;
            if (!ok) {
                config_error(file, number_of_line, why);
                continue;
            }
        } else if (key.rfind("fault.", 0) == 0) {
            ok = ksim::set_fault(dev->rx.faults, key.substr(6), value);
        } else {
            ok = false;
        }
        if (!ok)
            config_error(file, number_of_line, "cannot use \"" + line + "\"");
    }
}

// The configuration is read at the first call of the library.
const bool hooked = (hidcore::attached().prepare = load_registry, true);

} // namespace

// Not part of the library's interface: forgets the receivers and reads the
// configuration again at the next call, so that one test process can try
// several configurations. Open handles must be closed first.
SHIM_EXPORT void kestrel_sim_hid_reload(void) {
    registry = Registry{};
    hidcore::attached() = hidcore::Attached{{}, load_registry};
    log_path.clear();
}
