#pragma once
// Turns fuzz input into what the far end of the line does: for every frame
// the tool writes, the next piece of input says how many bytes come back,
// when, and whether they are split across two reads. A set top bit of the
// length appends the right CRC-16, so that the fuzzer gets past the reply
// checks without having to guess them; without it the bytes arrive as they
// are (garbage, truncated replies, stray bytes before a reply).
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "Crc16.h"
#include "MemoryChannel.h"

class TLineScript {
public:
    TLineScript(const std::uint8_t* data, std::size_t size) : FData(data), FSize(size) {}

    std::vector<TMemoryChannel::Chunk> Next()
    {
        if (FAt + 3 > FSize)
            return {};  // the far end has gone quiet
        const std::uint8_t control = FData[FAt++];
        const std::uint8_t delay = FData[FAt++];
        const std::uint8_t split = FData[FAt++];
        const bool withCrc = control & 0x80;
        std::size_t length = control & 0x7F;
        length = length > FSize - FAt ? FSize - FAt : length;
        // Built in place, with no copies: a long input answers a thousand
        // frames or more, and every allocation costs its share of the
        // sanitizers' bookkeeping.
        std::vector<TMemoryChannel::Chunk> chunks(2);
        std::vector<std::uint8_t>& bytes = chunks[1].bytes;
        bytes.reserve(length + (withCrc ? 2 : 0));
        bytes.assign(FData + FAt, FData + FAt + length);
        FAt += length;
        if (withCrc) {
            const std::uint16_t crc = crc16::Compute(bytes.data(), bytes.size());
            bytes.push_back(static_cast<std::uint8_t>(crc >> 8));
            bytes.push_back(static_cast<std::uint8_t>(crc & 0xFF));
        }
        // Delays in steps of 50 us (up to about 13 ms): around the frame
        // slot of the wake-up and inside the 100 ms reply time-out.
        chunks[0].after = std::chrono::microseconds(50 * (delay & 0x0F) * (delay & 0x0F));
        chunks[1].after = chunks[0].after + std::chrono::microseconds(50 * (delay >> 4) * (delay >> 4));
        // The first `cut` bytes arrive at the first time, the rest later.
        const auto cut = static_cast<std::ptrdiff_t>(bytes.empty() ? 0 : split % (bytes.size() + 1));
        chunks[0].bytes.assign(bytes.begin(), bytes.begin() + cut);
        bytes.erase(bytes.begin(), bytes.begin() + cut);
        return chunks;
    }

private:
    const std::uint8_t* FData;
    std::size_t FSize;
    std::size_t FAt = 0;
};
