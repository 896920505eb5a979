#pragma once
// The detector's side of the infrared packet protocol: command bytes, status
// bytes and the two reply shapes. The PC always speaks first; every frame ends
// with a CRC-16/ARC sent high byte first.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace sim {

namespace cmd {
constexpr std::uint8_t kUpgradeStart = 0x10;
constexpr std::uint8_t kUpgradeExecute = 0x11;
constexpr std::uint8_t kFactoryReset = 0x12;
constexpr std::uint8_t kLogReset = 0x13;
constexpr std::uint8_t kResetUnit = 0x14;
constexpr std::uint8_t kHibernate = 0x17;
constexpr std::uint8_t kReadGas = 0x20;
constexpr std::uint8_t kReadTemperature = 0x21;
constexpr std::uint8_t kReadBattery = 0x22;
constexpr std::uint8_t kBuzzer = 0x30;
constexpr std::uint8_t kRightLed = 0x31;
constexpr std::uint8_t kLeftLed = 0x32;
constexpr std::uint8_t kVibrator = 0x34;
constexpr std::uint8_t kSensorCommandFirst = 0x40;
constexpr std::uint8_t kZeroCalibration = 0x40;
constexpr std::uint8_t kSpanCalibration = 0x41;
constexpr std::uint8_t kZeroSpanCalibration = 0x42;
constexpr std::uint8_t kStopCalibration = 0x43;
constexpr std::uint8_t kClearPeak = 0x44;
constexpr std::uint8_t kBumpFail = 0x45;
constexpr std::uint8_t kBumpPass = 0x46;
constexpr std::uint8_t kSensorCommandLast = 0x46;
constexpr std::uint8_t kSelectSensor = 0x50;
constexpr std::uint8_t kSelectUnit = 0x5F;
constexpr std::uint8_t kSelectLog = 0x60;
constexpr std::uint8_t kAddressHeader = 0x70;
constexpr std::uint8_t kLifeValue = 0x71;
constexpr std::uint8_t kNextPacket = 0x81;
constexpr std::uint8_t kDataFrame = 0x91;     // configuration data, or the next firmware packet
constexpr std::uint8_t kDataRepeat = 0x93;    // the last firmware packet once more
constexpr std::uint8_t kIdentify = 0xA0;
constexpr std::uint8_t kLogSize = 0xA1;
constexpr std::uint8_t kCheck = 0xB2;
constexpr std::uint8_t kRelease = 0xB3;
}  // namespace cmd

constexpr std::uint8_t kAck = 0xB5;
constexpr std::uint8_t kNak = 0xB6;

constexpr std::size_t kCrcLen = 2;
constexpr std::size_t kCommandFrameLen = 1 + kCrcLen;
constexpr std::size_t kAddressHeaderLen = 4 + kCrcLen;
constexpr std::size_t kLifeFrameLen = 4 + kCrcLen;

// [status][CRC hi][CRC lo]
std::vector<std::uint8_t> StatusReply(std::uint8_t status);
// data bytes followed by their CRC, high byte first
std::vector<std::uint8_t> DataReply(std::span<const std::uint8_t> data);
// True when the last two bytes are the CRC of the ones before, high byte first.
bool FrameCrcValid(std::span<const std::uint8_t> frame);

// "B5 B7 C1": upper-case hex pairs separated by one blank.
std::string HexBytes(std::span<const std::uint8_t> bytes);

// Time the detector needs to put `bytes` on the wire at `baud` (10 bits per
// byte: start, 8 data, stop).
std::chrono::nanoseconds WireTime(std::size_t bytes, std::uint32_t baud);
// From the last byte of a frame to the first of its answer, unless set.
constexpr std::chrono::microseconds kTurnaround{300};

// Sleeps in the kernel for `duration` (monotonic clock), resuming after
// interruptions so the whole time passes.
void SleepFor(std::chrono::nanoseconds duration);

std::uint16_t ReadLe16(const std::uint8_t* p);
std::uint32_t ReadLe32(const std::uint8_t* p);
void WriteLe16(std::uint8_t* p, std::uint16_t value);
void WriteLe32(std::uint8_t* p, std::uint32_t value);

}  // namespace sim
