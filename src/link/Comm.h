#pragma once
// The byte pipe between the protocol object and the adapter's serial port:
// open with the detector's fixed line settings, bounded write, non-blocking
// read of whatever has arrived, input purge, close.
#include <cstdint>
#include <memory>
#include <string>

#include "CommError.h"
#include "SerialChannel.h"

class QSerialPort;

class TComm : public ISerialChannel {
public:
    TComm();
    ~TComm() override;
    TComm(const TComm&) = delete;
    TComm& operator=(const TComm&) = delete;

    // Linux takes the device path here (/dev/ttyUSB0, or a simulator's link).
    void SetDeviceName(const std::string& name) override;
    const std::string& DeviceName() const { return FDeviceName; }
    void SetBaudData(int baud) override;
    void SetReadTimeout(int ms) { FReadTimeout = ms; }
    void SetWriteTimeout(int ms) { FWriteTimeout = ms; }
    void SetReadBufSize(int bytes);

    void Open() override;
    void Close() override;
    bool Enabled() const override;

    // Bytes written, or -1 when the driver did not take them within WriteTimeout.
    int Write(const std::uint8_t* buf, int count) override;
    // Returns at once with at most `count` bytes that have already arrived.
    int Read(std::uint8_t* buf, int count) override;
    void PurgeIn() override;
    // Blocks in the operating system until input is waiting or `ms` passed.
    // True when at least one byte can be read.
    bool WaitForInput(int ms) override;
    Clock::time_point Now() const override { return Clock::now(); }
    // A kernel sleep on the monotonic clock, never a spin.
    void SleepUntil(Clock::time_point deadline) override;

private:
    [[noreturn]] void LinkLost(const char* text);
    void CheckDevice() const;

    std::unique_ptr<QSerialPort> FPort;
    std::string FDeviceName = "Com2";
    int FBaudData = 9600;
    int FReadTimeout = 1000;
    int FWriteTimeout = 1000;
    int FReadBufSize = 4096;
};
