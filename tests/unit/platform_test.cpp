// SPDX-License-Identifier: MIT
// The platform layer, on whichever system the tests run (Linux, and
// Windows under wine): sector transfers, exclusive opens, address text,
// networks and command-line text, and loading the HID library.
#include "fe_hidapi.h"
#include "platform/diagnose.h"
#include "platform/net.h"
#include "platform/platform.h"
#include "platform/serve.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#ifdef _WIN32
constexpr long INVALID_ARGUMENT = 87; // ERROR_INVALID_PARAMETER
constexpr const char NO_SUCH_LIBRARY[] = "kestrel-no-such-library.dll";
constexpr long NOT_OPEN = 10038; // WSAENOTSOCK
#else
constexpr const char NO_SUCH_LIBRARY[] = "libkestrel-no-such-library.so.0";
constexpr long INVALID_ARGUMENT = EINVAL;
constexpr long NOT_OPEN = EBADF;
#endif

TEST(Platform, SectorTransfersNeedAlignedWholeSectors) {
    alignas(512) static unsigned char buffer[1024];
    const struct {
        size_t offset, size;
        bool allowed;
    } cases[] = {{0, 512, true}, {0, 1024, true}, {1, 512, false}, {256, 512, false},
                 {0, 0, false},  {0, 511, false}, {0, 513, false}};
    for (const auto &c : cases)
        EXPECT_EQ(plat_sector_transfer_allowed(buffer + c.offset, c.size), c.allowed)
            << "offset " << c.offset << " size " << c.size;
    EXPECT_FALSE(plat_sector_transfer_allowed(nullptr, 512));
}

TEST(Platform, CommandFileSectorsAndExclusiveOpen) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / "kestrel-platform-test";
    std::filesystem::create_directories(dir);
    const std::string name = (dir / "command.out").string();
    std::ofstream(name, std::ios::binary) << std::string(512, 'x');

    plat_file f, second;
    ASSERT_TRUE(plat_file_open_exclusive(name.c_str(), &f)) << plat_last_error();
    EXPECT_FALSE(plat_file_open_exclusive(name.c_str(), &second)); // nobody shares it
    EXPECT_FALSE(plat_file_valid(&second));

    unsigned char *sector = static_cast<unsigned char *>(plat_sector_alloc());
    ASSERT_NE(sector, nullptr);
    for (size_t i = 0; i < PLAT_SECTOR_SIZE; i++)
        sector[i] = static_cast<unsigned char>(i);
    EXPECT_TRUE(plat_file_write_sector(&f, sector));
    memset(sector, 0, PLAT_SECTOR_SIZE);
    EXPECT_TRUE(plat_file_read_sector(&f, sector)); // again from offset 0
    EXPECT_EQ(sector[1], 1);
    EXPECT_EQ(sector[511], 255);

    // A buffer off the sector boundary is refused before the system sees it.
    static unsigned char unaligned_room[1024 + 512];
    unsigned char *aligned =
        unaligned_room + (512 - reinterpret_cast<uintptr_t>(unaligned_room) % 512);
    EXPECT_FALSE(plat_file_read_sector(&f, aligned + 8));
    EXPECT_EQ(plat_last_error(), INVALID_ARGUMENT);
    EXPECT_FALSE(plat_file_write_sector(&f, aligned + 8));
    EXPECT_EQ(plat_last_error(), INVALID_ARGUMENT);

    plat_sector_free(sector);
    plat_file_close(&f);
    EXPECT_FALSE(plat_file_valid(&f));
    std::filesystem::remove_all(dir);
}

TEST(Platform, AddressTextInEveryClassicForm) {
    const struct {
        const char *text;
        bool ok;
        uint32_t host_order;
    } cases[] = {
        {"127.0.0.1", true, 0x7F000001},
        {"127.1", true, 0x7F000001},
        {"10.1.2", true, 0x0A010002},
        {"0x7f.0.0.1", true, 0x7F000001},
        {"0177.0.0.1", true, 0x7F000001},
        {"2130706433", true, 0x7F000001},
        {"1.2.3.4.5", false, 0},
        {"256.0.0.1", false, 0},
        {"", false, 0},
        {"1.2.3.x", false, 0},
    };
    for (const auto &c : cases) {
        uint32_t be = 0;
        EXPECT_EQ(plat_ipv4_parse(c.text, &be), c.ok) << c.text;
        if (c.ok) {
            const unsigned char *b = reinterpret_cast<const unsigned char *>(&be);
            EXPECT_EQ(static_cast<uint32_t>(b[0] << 24 | b[1] << 16 | b[2] << 8 | b[3]),
                      c.host_order)
                << c.text;
        }
    }
}

// Client addresses against --allow networks; the text is the address read
// back, "" where it fails to read.
TEST(Platform, AddressesInNetworks) {
    const struct {
        const char *address, *text, *network;
        unsigned bits;
        bool in, loopback;
    } cases[] = {
        {"10.1.2.3", "10.1.2.3", "10.0.0.0", 8, true, false},
        {"11.1.2.3", "11.1.2.3", "10.0.0.0", 8, false, false},
        {"192.168.1.7", "192.168.1.7", "192.168.0.0", 23, true, false},
        {"192.168.2.7", "192.168.2.7", "192.168.0.0", 23, false, false},
        {"192.168.1.7", "192.168.1.7", "192.168.1.7", 32, true, false},
        {"192.168.1.6", "192.168.1.6", "192.168.1.7", 32, false, false},
        {"203.0.113.9", "203.0.113.9", "0.0.0.0", 0, true, false},
        {"127.0.0.5", "127.0.0.5", "10.0.0.0", 8, false, true},
        {"fd00::1:2", "fd00::1:2", "fd00::", 8, true, false},
        {"fe80::1", "fe80::1", "fd00::", 8, false, false},
        {"2001:db8:0:0:0:0:0:9", "2001:db8::9", "2001:db8::", 127, false, false},
        {"2001:db8::9", "2001:db8::9", "2001:db8::8", 127, true, false},
        {"::ffff:10.1.2.3", "::ffff:10.1.2.3", "10.0.0.0", 8, false, false}, // never across
        {"::1", "::1", "fd00::", 8, false, true},
        {"::ffff:127.0.0.1", "::ffff:127.0.0.1", "::", 0, true, true},
        {"::1%1", "", "::", 0, false, false},
        {"[::1]", "", "::", 0, false, false},
    };
    auto read = [](const char *text, plat_ip *a) {
        uint32_t v4 = 0;
        *a = plat_ip{};
        a->v6 = strchr(text, ':') != nullptr;
        if (a->v6)
            return plat_ipv6_parse(text, a->bytes);
        return plat_ipv4_parse(text, &v4) && (memcpy(a->bytes, &v4, 4), true);
    };
    for (const auto &c : cases) {
        plat_ip a, net;
        ASSERT_TRUE(read(c.network, &net)) << c.network;
        const bool ok = read(c.address, &a);
        EXPECT_EQ(ok, c.text[0] != '\0') << c.address;
        if (!ok)
            continue;
        char text[64];
        plat_ip_text(&a, text, sizeof text);
        EXPECT_STREQ(text, c.text);
        EXPECT_EQ(plat_ip_in_network(&a, &net, c.bits), c.in) << c.address << " " << c.network;
        EXPECT_EQ(plat_ip_is_loopback(&a), c.loopback) << c.address;
    }
}

TEST(Platform, CommandLineTextToWide) {
    wchar_t out[8];
    wmemset(out, L'#', 8);
    ASSERT_TRUE(plat_text_to_wide("0001", out, 4));
    EXPECT_EQ(std::wstring(out, 5), std::wstring(L"0001#")); // no room: no terminator
#ifdef _WIN32
    // Windows takes the command line as UTF-8 whatever the code page.
    ASSERT_TRUE(plat_text_to_wide("\xC3\xA9\xE2\x82\xAC", out, 8));
    EXPECT_EQ(std::wstring(out), std::wstring(L"\u00E9\u20AC"));
    EXPECT_FALSE(plat_text_to_wide("\xFF", out, 8));
#endif
}

// The HID library is taken whole or not at all, and one that cannot be had
// says why (kestrel then goes on without USB HID).
TEST(Platform, HidLibraryIsLoadedWholeOrNotAtAll) {
    const struct {
        const char *library;
        bool found;
        const char *why_part;
    } cases[] = {
        {FE_HIDAPI_LIBRARY, true, ""},
        {NO_SUCH_LIBRARY, false, ""},
#ifndef _WIN32
        {"libm.so.6", false, "it has no function hid_enumerate"},
#endif
    };
    for (const auto &c : cases) {
        fe_hidapi_functions f;
        char why[256] = "";
        EXPECT_EQ(fe_hidapi_find(c.library, &f, why, sizeof why), c.found) << c.library;
        EXPECT_EQ(f.open != nullptr && f.read_timeout != nullptr && f.close != nullptr, c.found)
            << c.library;
        EXPECT_EQ(why[0] == '\0', c.found) << c.library << ": " << why;
        EXPECT_NE(strstr(why, c.why_part), nullptr) << c.library << ": " << why;
    }
}

TEST(Platform, ClosedSocketFailsAtOnceWithTheNotOpenCode) {
    plat_tcp s;
    char b[4] = {};
    const uint64_t deadline = plat_monotonic_ms() + 5000;
    EXPECT_FALSE(plat_tcp_connect(&s, 0x0100007F, 1, 5000));
    EXPECT_EQ(plat_last_error(), NOT_OPEN);
    EXPECT_FALSE(plat_tcp_send_all(&s, b, sizeof b, deadline));
    EXPECT_EQ(plat_last_error(), NOT_OPEN);
    EXPECT_EQ(plat_tcp_recv_some(&s, b, sizeof b, deadline), -1);
    EXPECT_EQ(plat_last_error(), NOT_OPEN);
    EXPECT_EQ(plat_tcp_recv_exact(&s, b, sizeof b, deadline), -1);
    EXPECT_EQ(plat_tcp_discard_pending(&s), 0u);
    EXPECT_LT(plat_monotonic_ms(), deadline); // nothing waited
}

TEST(Platform, ErrorTextInWords) {
#ifndef _WIN32
    for (int code : {EBADF, ECONNREFUSED, ETIMEDOUT}) // what perror printed
        EXPECT_STREQ(plat_error_text(code), strerror(code));
#endif
    EXPECT_STRNE(plat_error_text(INVALID_ARGUMENT), "");
}
