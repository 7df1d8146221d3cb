#include "main.h"

volatile int network_state = 0;
const char default_ip_address[] = "192.168.1.100";
const char kestrel_version[] = KESTREL_VERSION;
