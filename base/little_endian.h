// 16-bit values stored low byte first, as the exchange sends and keeps them.
#pragma once

#include <cstdint>
#include <vector>

// The value of the two bytes at p, low byte first.
inline uint16_t ReadLe16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

// Appends v to out, low byte first.
inline void PutLe16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v & 0xFF));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
