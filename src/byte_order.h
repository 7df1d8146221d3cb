// SPDX-License-Identifier: MIT
// Multi-byte fields of the receiver's reports and link messages: least
// significant byte first.
#pragma once

#include <cstdint>

// Stores the low 16 or all 32 bits of `value` at `field`.
inline void put_u16(unsigned char *field, uint32_t value) {
    field[0] = static_cast<unsigned char>(value);
    field[1] = static_cast<unsigned char>(value >> 8);
}

inline void put_u32(unsigned char *field, uint32_t value) {
    for (int i = 0; i < 4; i++)
        field[i] = static_cast<unsigned char>(value >> (8 * i));
}

inline uint16_t get_u16(const unsigned char *field) {
    return static_cast<uint16_t>(field[0] | field[1] << 8);
}

inline uint32_t get_u32(const unsigned char *field) {
    return uint32_t{field[0]} | uint32_t{field[1]} << 8 | uint32_t{field[2]} << 16 |
           uint32_t{field[3]} << 24;
}
