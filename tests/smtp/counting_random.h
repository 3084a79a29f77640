// The tests' Message-ID bytes 0, 1, 2, ...: <000102030405060708090a0b0c0d0e0f@domain>.
#pragma once

#include <numeric>
#include <span>

inline bool CountingRandom(std::span<unsigned char> bytes) {
    std::iota(bytes.begin(), bytes.end(), 0);
    return true;
}
