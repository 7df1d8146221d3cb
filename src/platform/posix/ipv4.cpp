// SPDX-License-Identifier: MIT
// Reading an IPv4 address text. Kept apart from the socket code so that
// stand-ins for the sockets can share it.
#include "platform/net.h"

#include <arpa/inet.h>
#include <netinet/in.h>

bool plat_ipv4_parse(const char *text, uint32_t *addr_be) {
    if (text == nullptr)
        return false;
    in_addr a{};
    if (inet_aton(text, &a) == 0)
        return false;
    *addr_be = a.s_addr;
    return true;
}
