// SPDX-License-Identifier: MIT
// The hid_* functions of the stand-ins for the USB HID library (see
// hid_core.h). Built into each stand-in; as a shared library only the
// library's interface is exported (hidapi.h marks it for a Windows DLL).
#include "hid_core.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>

#include <hidapi.h>

#ifdef _WIN32
#define CORE_EXPORT extern "C"
#else
#define CORE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

struct hid_device_ {
    hidcore::Device *dev;
    bool nonblocking = false;
    bool gone = false; // the receiver was unplugged: this handle stays dead
    hid_device_info info{};
};

namespace hidcore {

namespace {

std::vector<std::unique_ptr<hid_device_>> handles;
const wchar_t *last_error = L"Success";

const std::vector<Device *> &devices() {
    if (attached().prepare != nullptr)
        attached().prepare();
    return attached().devices;
}

bool matches(const Device &d, unsigned short vid, unsigned short pid) {
    return (vid == 0 || d.vendor_id == vid) && (pid == 0 || d.product_id == pid) && d.present();
}

// A handle whose receiver was unplugged fails every transfer, as the
// library's does, even after the receiver came back.
bool handle_gone(hid_device *dev) {
    if (!dev->dev->present())
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

hid_device_info *make_info(const Device &d) {
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

bool is_open(const Device *d) {
    return std::any_of(handles.begin(), handles.end(), [d](const auto &h) { return h->dev == d; });
}

hid_device *open_device(Device *d) {
    if (!d->openable || (d->one_handle && is_open(d))) {
        last_error = L"Permission denied";
        return nullptr;
    }
    auto h = std::make_unique<hid_device_>();
    h->dev = d;
    if (hid_device_info *info = make_info(*d); info != nullptr) {
        h->info = *info;
        h->info.next = nullptr;
        free(info);
    }
    handles.push_back(std::move(h));
    last_error = L"Success";
    return handles.back().get();
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

Attached &attached() {
    static Attached a;
    return a;
}

int open_handles() {
    return static_cast<int>(handles.size());
}

void close_all_handles() {
    for (auto &h : handles)
        free_info_fields(&h->info);
    handles.clear();
}

} // namespace hidcore

using namespace hidcore;

CORE_EXPORT int hid_init(void) {
    devices();
    return 0;
}

CORE_EXPORT int hid_exit(void) {
    return 0;
}

CORE_EXPORT hid_device_info *hid_enumerate(unsigned short vendor_id, unsigned short product_id) {
    hid_device_info *head = nullptr, *tail = nullptr;
    for (const Device *d : devices()) {
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

CORE_EXPORT void hid_free_enumeration(hid_device_info *devs) {
    while (devs != nullptr) {
        hid_device_info *next = devs->next;
        free_info_fields(devs);
        free(devs);
        devs = next;
    }
}

CORE_EXPORT hid_device *hid_open(unsigned short vendor_id, unsigned short product_id,
                                 const wchar_t *serial_number) {
    // The first device that matches is the one opened, as with the library.
    for (Device *d : devices()) {
        if (!matches(*d, vendor_id, product_id))
            continue;
        // wcscmp, not the string's own compare: that one's vectorised
        // wmemcmp reads past the end of a short string, which valgrind
        // reports against kestrel's runs whenever the heap lays out so.
        if (serial_number != nullptr &&
            (!d->serial || wcscmp(d->serial->c_str(), serial_number) != 0))
            continue;
        return open_device(d);
    }
    last_error = L"No HID devices with requested VID/PID/serial_number";
    return nullptr;
}

CORE_EXPORT hid_device *hid_open_path(const char *path) {
    for (Device *d : devices()) {
        if (path != nullptr && d->path == path && d->present())
            return open_device(d);
    }
    last_error = L"No such device";
    return nullptr;
}

CORE_EXPORT int hid_write(hid_device *dev, const unsigned char *data, size_t length) {
    if (dev == nullptr || data == nullptr || length == 0 || handle_gone(dev))
        return -1;
    return dev->dev->write(data, length);
}

CORE_EXPORT int hid_read_timeout(hid_device *dev, unsigned char *data, size_t length,
                                 int milliseconds) {
    if (dev == nullptr || data == nullptr || handle_gone(dev))
        return -1;
    uint8_t answer[64];
    size_t size = 0;
    int got = dev->dev->answer(answer, sizeof answer, &size, milliseconds);
    if (got <= 0)
        return got;
    // An input report numbered 0 arrives without its number byte.
    const uint8_t *from = answer;
    if (size > 0 && answer[0] == 0) {
        from++;
        size--;
    }
    size_t n = length < size ? length : size;
    memcpy(data, from, n);
    return static_cast<int>(n);
}

CORE_EXPORT int hid_read(hid_device *dev, unsigned char *data, size_t length) {
    if (dev == nullptr)
        return -1;
    return hid_read_timeout(dev, data, length, dev->nonblocking ? 0 : -1);
}

CORE_EXPORT int hid_set_nonblocking(hid_device *dev, int nonblock) {
    if (dev == nullptr)
        return -1;
    dev->nonblocking = nonblock != 0;
    return 0;
}

CORE_EXPORT int hid_send_feature_report(hid_device *, const unsigned char *, size_t) {
    last_error = L"Not supported";
    return -1;
}

CORE_EXPORT int hid_get_feature_report(hid_device *, unsigned char *, size_t) {
    last_error = L"Not supported";
    return -1;
}

CORE_EXPORT int hid_get_input_report(hid_device *, unsigned char *, size_t) {
    last_error = L"Not supported";
    return -1;
}

CORE_EXPORT void hid_close(hid_device *dev) {
    auto it = std::find_if(handles.begin(), handles.end(),
                           [dev](const auto &h) { return h.get() == dev; });
    if (it == handles.end())
        return;
    free_info_fields(&(*it)->info);
    handles.erase(it);
}

CORE_EXPORT int hid_get_manufacturer_string(hid_device *dev, wchar_t *string, size_t maxlen) {
    return dev == nullptr ? -1 : copy_string(dev->dev->manufacturer, string, maxlen);
}

CORE_EXPORT int hid_get_product_string(hid_device *dev, wchar_t *string, size_t maxlen) {
    return dev == nullptr ? -1 : copy_string(dev->dev->product, string, maxlen);
}

CORE_EXPORT int hid_get_serial_number_string(hid_device *dev, wchar_t *string, size_t maxlen) {
    return dev == nullptr ? -1 : copy_string(dev->dev->serial, string, maxlen);
}

CORE_EXPORT hid_device_info *hid_get_device_info(hid_device *dev) {
    return dev == nullptr ? nullptr : &dev->info;
}

CORE_EXPORT int hid_get_indexed_string(hid_device *, int, wchar_t *, size_t) {
    last_error = L"Not supported";
    return -1;
}

CORE_EXPORT const wchar_t *hid_error(hid_device *) {
    return last_error;
}

CORE_EXPORT const hid_api_version *hid_version(void) {
    static const hid_api_version v{HID_API_VERSION_MAJOR, HID_API_VERSION_MINOR,
                                   HID_API_VERSION_PATCH};
    return &v;
}

CORE_EXPORT const char *hid_version_str(void) {
    return HID_API_VERSION_STR;
}
