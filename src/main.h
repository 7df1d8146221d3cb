// SPDX-License-Identifier: MIT
// Run state of the command-line driver that the device operations read.
#pragma once

// 1 when -T chose the TCP transport.
extern volatile int network_state;

// The receiver's factory address on its local network, used by -T without
// an address. The macro lets constant texts such as the help screen quote it.
#define KESTREL_DEFAULT_IP_ADDRESS "192.168.1.100"
extern const char default_ip_address[];

// Version text shown by the banner and the help screen.
extern const char kestrel_version[];
