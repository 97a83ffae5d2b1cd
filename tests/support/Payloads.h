// Test support: payloads for messages, images and flash, the same bytes for the same seed.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

inline std::vector<uint8_t> PatternPayload(size_t size, uint32_t seed = 7) {
    std::vector<uint8_t> payload(size);
    uint32_t state = seed;
    for (auto &byte : payload) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(state >> 16);
    }
    return payload;
}

// The sum of the bytes, modulo 2^32, as image headers and update packets carry it.
inline uint32_t SumOf(const std::vector<uint8_t> &bytes) {
    uint32_t sum = 0;
    for (uint8_t byte : bytes) sum += byte;
    return sum;
}
