// A stand-in for the USB HID library: the hid_* functions of its 0.13
// interface, backed by simulated receivers instead of USB devices. Loaded
// into kestrel with LD_PRELOAD, so the real binary talks to simulated
// receivers. The environment variable KESTREL_SIM_HID_CONFIG names the file
// that lists the attached receivers (format in sim/README.md).
//
// Behaviour that kestrel relies on and that is kept here: byte 0 of a
// written report is its report number; a read waits up to its time-out for
// an input report and returns 0 when none came; an answer that arrives late
// is returned by the next read; an input report numbered 0 loses its number
// byte; hid_open with a serial number compares it exactly and opens only
// the first matching device.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <deque>
#include <fstream>
#include <memory>
#include <new>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <hidapi.h>
#include <unistd.h>

#include "receiver_model.h"

#define SHIM_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct Pending {
    ksim::Answer answer;
    uint64_t ready_ms;
};

struct SimDevice {
    std::string id;
    unsigned short vendor_id = 0;
    unsigned short product_id = 0;
    std::optional<std::wstring> serial, product, manufacturer;
    std::string path;
    bool openable = true;
    std::string unplugged_path; // while this file exists the receiver is unplugged
    std::string state_path;
    ksim::Receiver rx;
    std::deque<Pending> answers;
};

struct Registry {
    bool loaded = false;
    std::string log_path;
    std::vector<std::unique_ptr<SimDevice>> devices;
};

Registry registry;
const wchar_t *last_error = L"Success";

} // namespace

struct hid_device_ {
    SimDevice *dev;
    bool nonblocking = false;
    bool gone = false; // the receiver was unplugged: this handle stays dead
    hid_device_info info{};
};

namespace {

void sleep_until(uint64_t when_ms) {
    for (uint64_t now = ksim::monotonic_ms(); now < when_ms; now = ksim::monotonic_ms()) {
        uint64_t ms = when_ms - now;
        timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
        nanosleep(&ts, nullptr);
    }
}

// The configuration's strings are plain ASCII or UTF-8; each byte becomes
// one wide character for ASCII, and multibyte sequences are decoded.
std::wstring widen(const std::string &s) {
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
            registry.log_path = value;
            continue;
        }
        if (key == "device") {
            registry.devices.push_back(std::make_unique<SimDevice>());
            dev = registry.devices.back().get();
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

bool unplugged(const SimDevice &d) {
    return !d.unplugged_path.empty() && access(d.unplugged_path.c_str(), F_OK) == 0;
}

bool matches(const SimDevice &d, unsigned short vid, unsigned short pid) {
    return (vid == 0 || d.vendor_id == vid) && (pid == 0 || d.product_id == pid) && !unplugged(d);
}

// A handle whose receiver was unplugged fails every transfer, as the
// library's does, even after the receiver came back.
bool handle_gone(hid_device *dev) {
    if (unplugged(*dev->dev))
        dev->gone = true;
    if (dev->gone)
        last_error = L"No such device";
    return dev->gone;
}

wchar_t *wide_copy(const std::optional<std::wstring> &s) {
    if (!s)
        return nullptr;
    wchar_t *p = static_cast<wchar_t *>(calloc(s->size() + 1, sizeof(wchar_t)));
    if (p != nullptr)
        wmemcpy(p, s->c_str(), s->size());
    return p;
}

hid_device_info *make_info(const SimDevice &d) {
    auto *info = static_cast<hid_device_info *>(calloc(1, sizeof(hid_device_info)));
    if (info == nullptr)
        return nullptr;
    info->path = strdup(d.path.c_str());
    info->vendor_id = d.vendor_id;
    info->product_id = d.product_id;
    info->serial_number = wide_copy(d.serial);
    info->release_number = 0x0100;
    info->manufacturer_string = wide_copy(d.manufacturer);
    info->product_string = wide_copy(d.product);
    info->usage_page = 0xFF00;
    info->usage = 1;
    info->interface_number = 0;
    info->bus_type = HID_API_BUS_USB;
    return info;
}

void free_info_fields(hid_device_info *info) {
    free(info->path);
    free(info->serial_number);
    free(info->manufacturer_string);
    free(info->product_string);
}

hid_device *open_device(SimDevice *d) {
    if (!d->openable) {
        last_error = L"Permission denied";
        return nullptr;
    }
    auto *h = new (std::nothrow) hid_device_{d};
    if (h == nullptr)
        return nullptr;
    hid_device_info *info = make_info(*d);
    if (info != nullptr) {
        h->info = *info;
        h->info.next = nullptr;
        free(info);
    }
    last_error = L"Success";
    return h;
}

int copy_string(const std::optional<std::wstring> &s, wchar_t *out, size_t maxlen) {
    if (out == nullptr || maxlen == 0 || !s) {
        last_error = L"String not available";
        return -1;
    }
    size_t n = s->size() < maxlen - 1 ? s->size() : maxlen - 1;
    wmemcpy(out, s->c_str(), n);
    out[n] = L'\0';
    return 0;
}

} // namespace

SHIM_EXPORT int hid_init(void) {
    load_registry();
    return 0;
}

SHIM_EXPORT int hid_exit(void) {
    return 0;
}

SHIM_EXPORT hid_device_info *hid_enumerate(unsigned short vendor_id, unsigned short product_id) {
    load_registry();
    hid_device_info *head = nullptr, *tail = nullptr;
    for (const auto &d : registry.devices) {
        if (!matches(*d, vendor_id, product_id))
            continue;
        hid_device_info *info = make_info(*d);
        if (info == nullptr)
            break;
        (tail == nullptr ? head : tail->next) = info;
        tail = info;
    }
    return head;
}

SHIM_EXPORT void hid_free_enumeration(hid_device_info *devs) {
    while (devs != nullptr) {
        hid_device_info *next = devs->next;
        free_info_fields(devs);
        free(devs);
        devs = next;
    }
}

SHIM_EXPORT hid_device *hid_open(unsigned short vendor_id, unsigned short product_id,
                                 const wchar_t *serial_number) {
    load_registry();
    // The first device that matches is the one opened, as with the library.
    for (const auto &d : registry.devices) {
        if (!matches(*d, vendor_id, product_id))
            continue;
        // wcscmp, not the string's own compare: that one's vectorised
        // wmemcmp reads past the end of a short string, which valgrind
        // reports against kestrel's runs whenever the heap lays out so.
        if (serial_number != nullptr &&
            (!d->serial || wcscmp(d->serial->c_str(), serial_number) != 0))
            continue;
        return open_device(d.get());
    }
    last_error = L"No HID devices with requested VID/PID/serial_number";
    return nullptr;
}

SHIM_EXPORT hid_device *hid_open_path(const char *path) {
    load_registry();
    for (const auto &d : registry.devices) {
        if (path != nullptr && d->path == path)
            return open_device(d.get());
    }
    last_error = L"No such device";
    return nullptr;
}

SHIM_EXPORT int hid_write(hid_device *dev, const unsigned char *data, size_t length) {
    if (dev == nullptr || data == nullptr || length == 0 || handle_gone(dev))
        return -1;
    SimDevice *d = dev->dev;
    if (!registry.log_path.empty())
        ksim::append_line(registry.log_path, d->id + " " + ksim::hex_bytes(data, length));
    std::vector<ksim::Answer> answers = d->rx.handle(data, length);
    if (!d->state_path.empty())
        ksim::dump_file(d->rx, d->state_path);
    uint64_t ready = ksim::monotonic_ms() + static_cast<uint64_t>(d->rx.faults.delay_ms);
    for (const ksim::Answer &a : answers)
        d->answers.push_back({a, ready});
    return static_cast<int>(length);
}

SHIM_EXPORT int hid_read_timeout(hid_device *dev, unsigned char *data, size_t length,
                                 int milliseconds) {
    if (dev == nullptr || data == nullptr || handle_gone(dev))
        return -1;
    SimDevice *d = dev->dev;
    // A blocking read (-1) with nothing on its way still ends, after 10 s.
    const uint64_t deadline =
        ksim::monotonic_ms() + static_cast<uint64_t>(milliseconds < 0 ? 10000 : milliseconds);
    if (d->answers.empty() || (milliseconds >= 0 && d->answers.front().ready_ms > deadline)) {
        sleep_until(deadline);
        return 0;
    }
    sleep_until(d->answers.front().ready_ms);
    ksim::Answer a = d->answers.front().answer;
    d->answers.pop_front();
    // An input report numbered 0 arrives without its number byte.
    const unsigned char *from = a.data();
    size_t size = a.size();
    if (a[0] == 0) {
        from++;
        size--;
    }
    size_t n = length < size ? length : size;
    memcpy(data, from, n);
    return static_cast<int>(n);
}

SHIM_EXPORT int hid_read(hid_device *dev, unsigned char *data, size_t length) {
    if (dev == nullptr)
        return -1;
    return hid_read_timeout(dev, data, length, dev->nonblocking ? 0 : -1);
}

SHIM_EXPORT int hid_set_nonblocking(hid_device *dev, int nonblock) {
    if (dev == nullptr)
        return -1;
    dev->nonblocking = nonblock != 0;
    return 0;
}

SHIM_EXPORT int hid_send_feature_report(hid_device *, const unsigned char *, size_t) {
    last_error = L"Not supported";
    return -1;
}

SHIM_EXPORT int hid_get_feature_report(hid_device *, unsigned char *, size_t) {
    last_error = L"Not supported";
    return -1;
}

SHIM_EXPORT int hid_get_input_report(hid_device *, unsigned char *, size_t) {
    last_error = L"Not supported";
    return -1;
}

SHIM_EXPORT void hid_close(hid_device *dev) {
    if (dev == nullptr)
        return;
    free_info_fields(&dev->info);
    delete dev;
}

SHIM_EXPORT int hid_get_manufacturer_string(hid_device *dev, wchar_t *string, size_t maxlen) {
    if (dev == nullptr)
        return -1;
    return copy_string(dev->dev->manufacturer, string, maxlen);
}

SHIM_EXPORT int hid_get_product_string(hid_device *dev, wchar_t *string, size_t maxlen) {
    if (dev == nullptr)
        return -1;
    return copy_string(dev->dev->product, string, maxlen);
}

SHIM_EXPORT int hid_get_serial_number_string(hid_device *dev, wchar_t *string, size_t maxlen) {
    if (dev == nullptr)
        return -1;
    return copy_string(dev->dev->serial, string, maxlen);
}

SHIM_EXPORT hid_device_info *hid_get_device_info(hid_device *dev) {
    return dev == nullptr ? nullptr : &dev->info;
}

SHIM_EXPORT int hid_get_indexed_string(hid_device *, int, wchar_t *, size_t) {
    last_error = L"Not supported";
    return -1;
}

SHIM_EXPORT const wchar_t *hid_error(hid_device *) {
    return last_error;
}

SHIM_EXPORT const hid_api_version *hid_version(void) {
    static const hid_api_version v{HID_API_VERSION_MAJOR, HID_API_VERSION_MINOR,
                                   HID_API_VERSION_PATCH};
    return &v;
}

SHIM_EXPORT const char *hid_version_str(void) {
    return HID_API_VERSION_STR;
}

// Not part of the library's interface: forgets the receivers and reads the
// configuration again at the next call, so that one test process can try
// several configurations. Open handles must be closed first.
SHIM_EXPORT void kestrel_sim_hid_reload(void) {
    registry = Registry{};
}
