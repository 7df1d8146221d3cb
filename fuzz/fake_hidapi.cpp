#include "fake_hidapi.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include <hidapi.h>

#include "fake_receiver.h"
#include "fe_interface.h"

struct hid_device_ {
    int index; // into the attached receivers
    bool open;
};

namespace fuzz {

namespace {

struct Attached {
    unsigned short vendor_id;
    unsigned short product_id;
    const wchar_t *serial;
    const wchar_t *product;
    bool openable;
};

constexpr unsigned short identities[4][2] = {
    {0x0483, 0x5932}, {0x255D, 0x0002}, {0x255D, 0x0001}, {0x255D, 0x0006}};

Attached attached[2];
int attached_count = 0;
bool writes_fail = false;
hid_device_ handles[2];

bool matches(const Attached &a, unsigned short vid, unsigned short pid) {
    return (vid == 0 || a.vendor_id == vid) && (pid == 0 || a.product_id == pid);
}

// Copies a wide string into a caller's buffer of `maxlen` characters.
int copy_string(const wchar_t *s, wchar_t *out, size_t maxlen) {
    if (s == nullptr || out == nullptr || maxlen == 0)
        return -1;
    wcsncpy(out, s, maxlen - 1);
    out[maxlen - 1] = L'\0';
    return 0;
}

wchar_t *duplicate(const wchar_t *s) {
    if (s == nullptr)
        return nullptr;
    size_t n = wcslen(s) + 1;
    wchar_t *d = static_cast<wchar_t *>(malloc(n * sizeof(wchar_t)));
    wmemcpy(d, s, n);
    return d;
}

} // namespace

void hid_configure(uint8_t config) {
    attached_count = 0;
    writes_fail = (config & 0x20) != 0;
    memset(handles, 0, sizeof handles);
    if (config & 0x04)
        return;
    int id = config & 0x03;
    attached[attached_count++] = {identities[id][0], identities[id][1],
                                  (config & 0x40) ? nullptr : L"0001",
                                  (config & 0x10) ? nullptr : L"TALMIR SDR", (config & 0x08) == 0};
    if (config & 0x80) {
        int next = (id + 1) & 0x03;
        attached[attached_count++] = {identities[next][0], identities[next][1], L"0002",
                                      L"TALMIR SDR 2", true};
    }
}

int hid_open_devices() {
    int n = 0;
    for (const hid_device_ &h : handles)
        n += h.open ? 1 : 0;
    return n;
}

} // namespace fuzz

using namespace fuzz;

int hid_init(void) {
    return 0;
}

int hid_exit(void) {
    return 0;
}

hid_device_info *hid_enumerate(unsigned short vendor_id, unsigned short product_id) {
    hid_device_info *first = nullptr, **tail = &first;
    for (int i = 0; i < attached_count; i++) {
        const Attached &a = attached[i];
        if (!matches(a, vendor_id, product_id))
            continue;
        hid_device_info *d = static_cast<hid_device_info *>(calloc(1, sizeof(hid_device_info)));
        d->path = strdup(i == 0 ? "fuzz-hid-1" : "fuzz-hid-2");
        d->vendor_id = a.vendor_id;
        d->product_id = a.product_id;
        d->serial_number = duplicate(a.serial);
        d->manufacturer_string = duplicate(L"TALMIR");
        d->product_string = duplicate(a.product);
        *tail = d;
        tail = &d->next;
    }
    return first;
}

void hid_free_enumeration(hid_device_info *devs) {
    while (devs != nullptr) {
        hid_device_info *next = devs->next;
        free(devs->path);
        free(devs->serial_number);
        free(devs->manufacturer_string);
        free(devs->product_string);
        free(devs);
        devs = next;
    }
}

hid_device *hid_open(unsigned short vendor_id, unsigned short product_id,
                     const wchar_t *serial_number) {
    for (int i = 0; i < attached_count; i++) {
        const Attached &a = attached[i];
        if (!matches(a, vendor_id, product_id))
            continue;
        if (serial_number != nullptr &&
            (a.serial == nullptr || wcscmp(a.serial, serial_number) != 0))
            continue;
        if (!a.openable || handles[i].open)
            return nullptr;
        handles[i] = {i, true};
        return &handles[i];
    }
    return nullptr;
}

hid_device *hid_open_path(const char *path) {
    for (int i = 0; i < attached_count; i++) {
        if (strcmp(path, i == 0 ? "fuzz-hid-1" : "fuzz-hid-2") == 0 && attached[i].openable &&
            !handles[i].open) {
            handles[i] = {i, true};
            return &handles[i];
        }
    }
    return nullptr;
}

int hid_write(hid_device *dev, const unsigned char *data, size_t length) {
    note_send_attempt(HID_READ_TIMEOUT_MS);
    if (dev == nullptr || !dev->open || writes_fail)
        return -1;
    receiver_take(data, length);
    return static_cast<int>(length);
}

int hid_read_timeout(hid_device *dev, unsigned char *data, size_t length, int) {
    if (dev == nullptr || !dev->open)
        return -1;
    uint8_t answer[16];
    size_t n = 0;
    switch (receiver_answer(answer, sizeof answer, &n)) {
    case Delivery::answer:
        break;
    case Delivery::nothing:
        return 0;
    case Delivery::error:
        return -1;
    }
    if (n > 0 && answer[0] == 0) {
        // Report number 0 is not passed on.
        memmove(answer, answer + 1, n - 1);
        n--;
    }
    n = n < length ? n : length;
    memcpy(data, answer, n);
    return static_cast<int>(n);
}

int hid_read(hid_device *dev, unsigned char *data, size_t length) {
    return hid_read_timeout(dev, data, length, -1);
}

int hid_set_nonblocking(hid_device *dev, int) {
    return dev != nullptr && dev->open ? 0 : -1;
}

int hid_send_feature_report(hid_device *, const unsigned char *, size_t) {
    return -1;
}

int hid_get_feature_report(hid_device *, unsigned char *, size_t) {
    return -1;
}

int hid_get_input_report(hid_device *, unsigned char *, size_t) {
    return -1;
}

void hid_close(hid_device *dev) {
    if (dev != nullptr)
        dev->open = false;
}

int hid_get_manufacturer_string(hid_device *dev, wchar_t *string, size_t maxlen) {
    return dev != nullptr && dev->open ? copy_string(L"TALMIR", string, maxlen) : -1;
}

int hid_get_product_string(hid_device *dev, wchar_t *string, size_t maxlen) {
    return dev != nullptr && dev->open ? copy_string(attached[dev->index].product, string, maxlen)
                                       : -1;
}

int hid_get_serial_number_string(hid_device *dev, wchar_t *string, size_t maxlen) {
    return dev != nullptr && dev->open ? copy_string(attached[dev->index].serial, string, maxlen)
                                       : -1;
}

hid_device_info *hid_get_device_info(hid_device *) {
    return nullptr;
}

int hid_get_indexed_string(hid_device *, int, wchar_t *, size_t) {
    return -1;
}

const wchar_t *hid_error(hid_device *) {
    return L"fuzz receiver";
}

const hid_api_version *hid_version(void) {
    static const hid_api_version v = {HID_API_VERSION_MAJOR, HID_API_VERSION_MINOR,
                                      HID_API_VERSION_PATCH};
    return &v;
}

const char *hid_version_str(void) {
    return HID_API_VERSION_STR;
}
