#include "SimProtocol.h"

#include "Crc16.h"

#include <cerrno>
#include <ctime>

namespace sim {

std::vector<std::uint8_t> StatusReply(std::uint8_t status)
{
    const std::uint8_t data[1] = {status};
    return DataReply(data);
}

std::vector<std::uint8_t> DataReply(std::span<const std::uint8_t> data)
{
    std::vector<std::uint8_t> reply(data.begin(), data.end());
    const std::uint16_t crc = crc16::Compute(data.data(), data.size());
    reply.push_back(static_cast<std::uint8_t>(crc >> 8));
    reply.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    return reply;
}

bool FrameCrcValid(std::span<const std::uint8_t> frame)
{
    if (frame.size() < kCrcLen)
        return false;
    const std::size_t body = frame.size() - kCrcLen;
    const std::uint16_t crc = crc16::Compute(frame.data(), body);
    return frame[body] == (crc >> 8) && frame[body + 1] == (crc & 0xFF);
}

std::string HexBytes(std::span<const std::uint8_t> bytes)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 3);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i != 0)
            text.push_back(' ');
        text.push_back(kDigits[bytes[i] >> 4]);
        text.push_back(kDigits[bytes[i] & 0x0F]);
    }
    return text;
}

std::chrono::nanoseconds WireTime(std::size_t bytes, std::uint32_t baud)
{
    if (baud == 0)
        return std::chrono::nanoseconds{0};
    constexpr std::uint64_t kBitsPerByte = 10;
    const std::uint64_t nanos = bytes * kBitsPerByte * 1'000'000'000ull / baud;
    return std::chrono::nanoseconds{nanos};
}

void SleepFor(std::chrono::nanoseconds duration)
{
    if (duration.count() <= 0)
        return;
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    const long long total = deadline.tv_nsec + duration.count() % 1'000'000'000;
    deadline.tv_sec += static_cast<time_t>(duration.count() / 1'000'000'000 + total / 1'000'000'000);
    deadline.tv_nsec = static_cast<long>(total % 1'000'000'000);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

std::uint16_t ReadLe16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t ReadLe32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void WriteLe16(std::uint8_t* p, std::uint16_t value)
{
    p[0] = static_cast<std::uint8_t>(value & 0xFF);
    p[1] = static_cast<std::uint8_t>(value >> 8);
}

void WriteLe32(std::uint8_t* p, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace sim
