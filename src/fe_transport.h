// SPDX-License-Identifier: MIT
// A transport: the way the reports of one run reach the receiver and its
// answers come back. There are three: USB HID and the drive's two command
// files (fe_connection.cpp), and the TCP tunnel (tcp_shell.cpp). The
// connection (fe_interface.h) holds the one that is open and moves every
// report and answer through it.
#pragma once

#include <cstdint>

// How one exchange with the receiver ended: its answer came; no answer came
// within the bound (the receiver is silent or answered something else); or
// the transport failed (the HID device or the drive files gave an I/O
// error, the TCP link broke, or nothing is open), so that nothing reaches
// the receiver until it is opened again.
enum fe_exchange_result { FE_ANSWERED = 0, FE_TIMED_OUT = 1, FE_LINK_FAILED = 2 };

// What one write or read did.
struct fe_io {
    // What HID_Write_Data or HID_Read_Data returns for it: more than 0 when
    // the report went out or an answer was read.
    int result = 0;
    // How the exchange went (fe_exchange_result).
    int how = FE_LINK_FAILED;
};

// Where to open a transport; each takes what it needs.
struct fe_endpoint {
    const wchar_t *serial = nullptr; // USB HID: the serial number; null: any
    const char *path = nullptr;      // drive files: their directory, as given
    const char *address = nullptr;   // TCP: IPv4 address text; null: the default
    int port = 0;                    // TCP: the port (its low 16 bits)
};

struct fe_transport {
    // In the user's words: "USB HID", "drive files", "TCP tunnel".
    const char *name;
    // Opens the transport towards `where`. Returns 1 when it is open, 0 when
    // not. `msg` (128 bytes) receives the text that the open leaves for its
    // caller: the receiver's product name, or why it did not open.
    int (*open)(const fe_endpoint *where, char *msg);
    // Sends the first `size` bytes of `report` (at most 7).
    fe_io (*write)(const unsigned char *report, int size);
    // Reads one answer of `size` bytes into `buf`, waiting at most
    // `timeout_ms` for it.
    fe_io (*read)(unsigned char *buf, int size, int timeout_ms);
    // Drops answers that are waiting already: they belong to no report of
    // this run.
    void (*drain)(void);
    void (*close)(void);
    // Why the last write or read failed, in words; "" after none did.
    const char *(*last_error)(void);
};

// The TCP tunnel (tcp_shell.cpp): each report travels inside a network
// message, and its answer comes back inside the answer to that message.
extern const fe_transport fe_tcp_tunnel;
