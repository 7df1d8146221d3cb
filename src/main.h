// Run state of the command-line driver that the device operations read.
#pragma once

// 1 when -T chose the TCP transport.
extern volatile int network_state;

// The receiver's factory address on its local network, used by -T without
// an address.
extern const char default_ip_address[];

// Version text shown by the banner and the help screen.
extern const char kestrel_version[];
