#pragma once
// Configuration block reads and writes get three attempts: the infrared link
// loses a packet now and then, and a block is all or nothing.
#include <cstdint>

inline constexpr int kBlockAttempts = 3;

template <typename Step>
std::uint8_t WithAttempts(Step step)
{
    std::uint8_t status = 0;
    for (int attempt = 0; attempt < kBlockAttempts; ++attempt) {
        status = step();
        if (status == 0)
            break;
    }
    return status;
}
