// SPDX-License-Identifier: MIT
#include "main.h"

volatile int network_state = 0;
const char default_ip_address[] = KESTREL_DEFAULT_IP_ADDRESS;
const char kestrel_version[] = KESTREL_VERSION;
