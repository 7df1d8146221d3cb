// SPDX-License-Identifier: MIT
// The fuzzing process's receivers for the HID library's stand-in
// (sim/hid_core.cpp): attached as one configuration byte says, answered as
// the fuzz script says.
#include "fake_hidapi.h"

#include "fake_receiver.h"
#include "fe_interface.h"
#include "hid_core.h"

namespace fuzz {

namespace {

constexpr unsigned short identities[4][2] = {
    {0x0483, 0x5932}, {0x255D, 0x0002}, {0x255D, 0x0001}, {0x255D, 0x0006}};

struct FuzzDevice : hidcore::Device {
    bool writes_fail = false;

    int write(const unsigned char *data, size_t length) override {
        note_send_attempt(HID_READ_TIMEOUT_MS);
        if (writes_fail)
            return -1;
        receiver_take(data, length);
        return static_cast<int>(length);
    }

    int answer(uint8_t *out, size_t capacity, size_t *length, int) override {
        switch (receiver_answer(out, capacity < 16 ? capacity : 16, length)) {
        case Delivery::answer:
            return 1;
        case Delivery::nothing:
            return 0;
        case Delivery::error:
            break;
        }
        return -1;
    }
};

FuzzDevice receivers[2];

} // namespace

void hid_configure(uint8_t config) {
    hidcore::close_all_handles();
    hidcore::attached().devices.clear();
    if (config & 0x04)
        return;
    int id = config & 0x03;
    FuzzDevice &first = receivers[0];
    first.path = "fuzz-hid-1";
    first.vendor_id = identities[id][0];
    first.product_id = identities[id][1];
    first.serial = (config & 0x40) ? std::nullopt : std::optional<std::wstring>(L"0001");
    first.product = (config & 0x10) ? std::nullopt : std::optional<std::wstring>(L"TALMIR SDR");
    first.manufacturer = L"TALMIR";
    first.openable = (config & 0x08) == 0;
    first.one_handle = true;
    first.writes_fail = (config & 0x20) != 0;
    hidcore::attached().devices.push_back(&first);
    if (config & 0x80) {
        int next = (id + 1) & 0x03;
        FuzzDevice &second = receivers[1];
        second.path = "fuzz-hid-2";
        second.vendor_id = identities[next][0];
        second.product_id = identities[next][1];
        second.serial = L"0002";
        second.product = L"TALMIR SDR 2";
        second.manufacturer = L"TALMIR";
        second.openable = true;
        second.one_handle = true;
        second.writes_fail = first.writes_fail;
        hidcore::attached().devices.push_back(&second);
    }
}

int hid_open_devices() {
    return hidcore::open_handles();
}

} // namespace fuzz
