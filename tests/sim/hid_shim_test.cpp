// SPDX-License-Identifier: MIT
// The hidapi stand-in, loaded the way a program would find it, and held to
// the library's behaviour that kestrel relies on.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <dlfcn.h>
#include <hidapi.h>
#include <unistd.h>

namespace {

struct Api {
    void *lib = nullptr;
    decltype(&hid_enumerate) enumerate = nullptr;
    decltype(&hid_free_enumeration) free_enumeration = nullptr;
    decltype(&hid_open) open = nullptr;
    decltype(&hid_open_path) open_path = nullptr;
    decltype(&hid_write) write = nullptr;
    decltype(&hid_read_timeout) read_timeout = nullptr;
    decltype(&hid_read) read = nullptr;
    decltype(&hid_set_nonblocking) set_nonblocking = nullptr;
    decltype(&hid_get_product_string) product = nullptr;
    decltype(&hid_get_serial_number_string) serial = nullptr;
    decltype(&hid_close) close = nullptr;
    void (*reload)(void) = nullptr;
};

template <typename F> void bind(void *lib, F &f, const char *name) {
    f = reinterpret_cast<F>(dlsym(lib, name));
    ASSERT_NE(f, nullptr) << name;
}

class HidShim : public ::testing::Test {
  protected:
    void SetUp() override {
        api.lib = dlopen(KESTREL_SIM_HID_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(api.lib, nullptr) << dlerror();
        bind(api.lib, api.enumerate, "hid_enumerate");
        bind(api.lib, api.free_enumeration, "hid_free_enumeration");
        bind(api.lib, api.open, "hid_open");
        bind(api.lib, api.open_path, "hid_open_path");
        bind(api.lib, api.write, "hid_write");
        bind(api.lib, api.read_timeout, "hid_read_timeout");
        bind(api.lib, api.read, "hid_read");
        bind(api.lib, api.set_nonblocking, "hid_set_nonblocking");
        bind(api.lib, api.product, "hid_get_product_string");
        bind(api.lib, api.serial, "hid_get_serial_number_string");
        bind(api.lib, api.close, "hid_close");
        bind(api.lib, api.reload, "kestrel_sim_hid_reload");
        char tmpl[] = "/tmp/kestrel-shim-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override {
        unsetenv("KESTREL_SIM_HID_CONFIG");
        if (api.reload != nullptr)
            api.reload();
        std::filesystem::remove_all(dir);
    }
    void configure(const std::string &text) {
        std::ofstream(dir + "/hid.conf") << "log " << dir << "/log\n" << text;
        setenv("KESTREL_SIM_HID_CONFIG", (dir + "/hid.conf").c_str(), 1);
        api.reload();
    }
    std::string slurp(const std::string &name) {
        std::ifstream in(dir + "/" + name);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static long ms_since(std::chrono::steady_clock::time_point t) {
        return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - t)
                                     .count());
    }
    Api api;
    std::string dir;
};

const char kTwoDevices[] = "device a\nvid 0x255D\npid 0x0002\nserial AAA\nproduct First one\n"
                           "device b\nvid 0x255D\npid 0x0006\nserial BBB\npath /dev/hidraw3\n"
                           "device c\nvid 0x255D\npid 0x0002\n";

TEST_F(HidShim, EnumerateFiltersByIdsInAttachOrder) {
    configure(kTwoDevices);
    struct Case {
        unsigned short vid, pid;
        std::vector<std::string> paths;
    } cases[] = {
        {0x255D, 0x0002, {"sim-hid-1", "sim-hid-3"}},
        {0x255D, 0x0006, {"/dev/hidraw3"}},
        {0, 0, {"sim-hid-1", "/dev/hidraw3", "sim-hid-3"}},
        {0x0483, 0x5932, {}},
    };
    for (const Case &c : cases) {
        hid_device_info *list = api.enumerate(c.vid, c.pid);
        std::vector<std::string> paths;
        for (hid_device_info *d = list; d != nullptr; d = d->next)
            paths.push_back(d->path);
        api.free_enumeration(list);
        EXPECT_EQ(paths, c.paths);
    }
    hid_device_info *list = api.enumerate(0x255D, 0x0002);
    ASSERT_NE(list, nullptr);
    EXPECT_STREQ(list->serial_number, L"AAA");
    EXPECT_STREQ(list->product_string, L"First one");
    EXPECT_EQ(list->next->serial_number, nullptr); // device c has none
    api.free_enumeration(list);
}

TEST_F(HidShim, OpenComparesTheSerialExactlyAndTakesTheFirstMatch) {
    configure(std::string(kTwoDevices) + "device d\nvid 0x255D\npid 0x0001\nserial X\nopen 0\n"
                                         "device e\nvid 0x255D\npid 0x0001\nserial X\n");
    struct Case {
        unsigned short pid;
        const wchar_t *serial;
        const wchar_t *opened; // serial of the opened device; null: nothing opens
    } cases[] = {
        {0x0002, nullptr, L"AAA"},  {0x0002, L"AAA", L"AAA"}, {0x0002, L"AA", nullptr},
        {0x0002, L"aaa", nullptr},  {0x0006, L"BBB", L"BBB"}, {0x0006, L"AAA", nullptr},
        {0x0001, L"X", nullptr}, // the first match cannot be opened: no second try
        {0x0001, nullptr, nullptr},
    };
    for (const Case &c : cases) {
        hid_device *h = api.open(0x255D, c.pid, c.serial);
        if (c.opened == nullptr) {
            EXPECT_EQ(h, nullptr);
            continue;
        }
        ASSERT_NE(h, nullptr);
        wchar_t buf[16];
        ASSERT_EQ(api.serial(h, buf, 16), 0);
        EXPECT_STREQ(buf, c.opened);
        api.close(h);
    }
    hid_device *h = api.open_path("/dev/hidraw3");
    ASSERT_NE(h, nullptr);
    api.close(h);
    EXPECT_EQ(api.open_path("nowhere"), nullptr);
}

TEST_F(HidShim, ProductStringIsCutToTheBufferOrMissing) {
    configure(kTwoDevices);
    hid_device *a = api.open(0x255D, 0x0002, nullptr);
    hid_device *b = api.open(0x255D, 0x0006, nullptr);
    wchar_t buf[6];
    EXPECT_EQ(api.product(a, buf, 6), 0);
    EXPECT_STREQ(buf, L"First");
    EXPECT_EQ(api.product(b, buf, 6), -1);
    api.close(a);
    api.close(b);
}

TEST_F(HidShim, WriteLogsTheBytesAsGivenAndKeepsTheState) {
    configure("device r\nvid 0x255D\npid 0x0001\nstate " + dir + "/r.state\n");
    hid_device *h = api.open(0x255D, 0x0001, nullptr);
    ASSERT_NE(h, nullptr);
    const unsigned char five[] = {3, 0x20, 0x26, 0xD7, 0x00};
    EXPECT_EQ(api.write(h, five, 5), 5);
    const unsigned char nine[] = {2, 0x4B, 1, 0, 0, 0, 0, 0xAA, 0xBB};
    EXPECT_EQ(api.write(h, nine, 9), 9);
    EXPECT_EQ(slurp("log"), "r 03 20 26 D7 00\nr 02 4B 01 00 00 00 00 AA BB\n");
    std::string state = slurp("r.state");
    EXPECT_EQ(state.rfind("freq.0 14100000\n", 0), 0u);
    EXPECT_NE(state.find("\nleds 1\n"), std::string::npos);
    api.close(h);
}

TEST_F(HidShim, ReadWaitsForItsTimeOutAndALateAnswerComesWithTheNextRead) {
    configure("device r\nvid 0x255D\npid 0x0002\nfault.delay_ms 80\n");
    hid_device *h = api.open(0x255D, 0x0002, nullptr);
    ASSERT_NE(h, nullptr);
    unsigned char buf[64] = {};
    auto t = std::chrono::steady_clock::now();
    EXPECT_EQ(api.read_timeout(h, buf, 7, 30), 0); // nothing asked yet
    EXPECT_GE(ms_since(t), 29);

    const unsigned char query[] = {2, 0x09, 0, 0, 0, 0, 0};
    api.write(h, query, 7);
    EXPECT_EQ(api.read_timeout(h, buf, 7, 10), 0); // too early
    t = std::chrono::steady_clock::now();
    EXPECT_EQ(api.read_timeout(h, buf, 7, 1000), 7); // comes when it is ready
    EXPECT_LT(ms_since(t), 1000);
    EXPECT_EQ(buf[0], 6);
    EXPECT_EQ(buf[1], 0x09);

    api.write(h, query, 7);
    EXPECT_EQ(api.read_timeout(h, buf, 7, 20), 0); // times out ...
    const unsigned char leds[] = {2, 0x4B, 1, 0, 0, 0, 0};
    api.write(h, leds, 7);
    EXPECT_EQ(api.read_timeout(h, buf, 7, 1000), 7); // ... and the next read gets it
    EXPECT_EQ(buf[1], 0x09);
    EXPECT_EQ(api.read_timeout(h, buf, 7, 1000), 7); // then the later request's
    EXPECT_EQ(buf[1], 0x4B);
    api.close(h);
}

TEST_F(HidShim, ReadCopiesAtMostItsLengthAndDropsAReportNumberZero) {
    configure("device r\nvid 0x255D\npid 0x0002\n"
              "device z\nvid 0x255D\npid 0x0006\nfault.answer_code 0\n");
    hid_device *r = api.open(0x255D, 0x0002, nullptr);
    hid_device *z = api.open(0x255D, 0x0006, nullptr);
    const unsigned char query[] = {2, 0x09, 0, 0, 0, 0, 0};
    unsigned char buf[64];
    memset(buf, 0xEE, sizeof buf);
    api.write(r, query, 7);
    EXPECT_EQ(api.read_timeout(r, buf, 5, 100), 5);
    EXPECT_EQ(buf[4], 0x02);
    EXPECT_EQ(buf[5], 0xEE);
    api.write(z, query, 7);
    EXPECT_EQ(api.read_timeout(z, buf, 64, 100), 6);
    EXPECT_EQ(buf[0], 0x09); // the bytes behind the number
    EXPECT_EQ(buf[1], 0x04);
    api.close(r);
    api.close(z);
}

TEST_F(HidShim, NonBlockingReadReturnsAtOnce) {
    configure("device r\nvid 0x255D\npid 0x0002\nfault.silent 1\n");
    hid_device *h = api.open(0x255D, 0x0002, nullptr);
    api.set_nonblocking(h, 1);
    unsigned char buf[8];
    auto t = std::chrono::steady_clock::now();
    EXPECT_EQ(api.read(h, buf, 8), 0);
    EXPECT_LT(ms_since(t), 500);
    api.close(h);
}

TEST_F(HidShim, NoConfigurationMeansNoReceivers) {
    unsetenv("KESTREL_SIM_HID_CONFIG");
    api.reload();
    EXPECT_EQ(api.enumerate(0, 0), nullptr);
    EXPECT_EQ(api.open(0x255D, 0x0002, nullptr), nullptr);
}

} // namespace
