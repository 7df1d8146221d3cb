// SPDX-License-Identifier: MIT
#include "fake_receiver.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>

#include <unistd.h>

namespace fuzz {

namespace {

const uint8_t *script_data = nullptr;
size_t script_size = 0;
size_t script_pos = 0;

ksim::Receiver *model = nullptr;
std::deque<ksim::Answer> queued;
std::vector<std::vector<uint8_t>> requests;
uint64_t attempts = 0;
uint64_t allowed_wait = 0;

} // namespace

void script_begin(const uint8_t *data, size_t size) {
    script_data = data;
    script_size = size;
    script_pos = 0;
}

uint8_t script_byte(uint8_t at_end) {
    if (script_pos >= script_size)
        return at_end;
    return script_data[script_pos++];
}

size_t script_bytes(uint8_t *out, size_t n) {
    size_t left = script_size - script_pos;
    size_t take = n < left ? n : left;
    if (take > 0)
        memcpy(out, script_data + script_pos, take);
    script_pos += take;
    return take;
}

size_t script_left() {
    return script_size - script_pos;
}

void receiver_reset() {
    // A read before this input's script begins (the open drains queued
    // reports) must see an empty script, never the last input's bytes.
    script_begin(nullptr, 0);
    delete model;
    model = new ksim::Receiver();
    queued.clear();
    requests.clear();
    attempts = 0;
    allowed_wait = 0;
}

ksim::Receiver &receiver() {
    if (model == nullptr)
        receiver_reset();
    return *model;
}

void receiver_take(const uint8_t *report, size_t length) {
    requests.emplace_back(report, report + length);
    for (const ksim::Answer &a : receiver().handle(report, length))
        queued.push_back(a);
}

const std::vector<std::vector<uint8_t>> &receiver_requests() {
    return requests;
}

void note_send_attempt(uint64_t allowed_wait_ms) {
    attempts++;
    allowed_wait += allowed_wait_ms;
}

uint64_t send_attempts() {
    return attempts;
}

uint64_t allowed_wait_ms() {
    return allowed_wait;
}

bool receiver_model_answer(uint8_t out[7]) {
    if (queued.empty())
        return false;
    memcpy(out, queued.front().data(), 7);
    queued.pop_front();
    return true;
}

Delivery receiver_answer(uint8_t *out, size_t capacity, size_t *length) {
    *length = 0;
    uint8_t how = script_byte(0x00);
    if (how < 0x80) {
        if (queued.empty())
            return Delivery::nothing;
        const ksim::Answer a = queued.front();
        queued.pop_front();
        size_t n = a.size() < capacity ? a.size() : capacity;
        memcpy(out, a.data(), n);
        *length = n;
        return Delivery::answer;
    }
    if (how < 0xC0) {
        uint8_t raw[16] = {0};
        size_t n = script_bytes(raw, how & 0x0F);
        n = n < capacity ? n : capacity;
        memcpy(out, raw, n);
        *length = n;
        return Delivery::answer;
    }
    if (how < 0xF0)
        return Delivery::nothing;
    return Delivery::error;
}

const std::string &scratch_dir() {
    static std::string dir;
    if (dir.empty()) {
        const char *tmp = getenv("TMPDIR");
        std::string pattern =
            std::string(tmp != nullptr && *tmp ? tmp : "/tmp") + "/kestrel-fuzz-XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (mkdtemp(buf.data()) == nullptr) {
            perror("mkdtemp");
            abort();
        }
        dir = buf.data();
        atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(dir, ec);
        });
    }
    return dir;
}

void silence_stdout() {
    if (getenv("KESTREL_FUZZ_STDOUT") != nullptr)
        return; // shown, for looking into one input
    if (freopen("/dev/null", "w", stdout) == nullptr) {
        perror("/dev/null");
        abort();
    }
}

} // namespace fuzz
