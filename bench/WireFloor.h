#pragma once
// The least time an operation can take on the line: what its traffic and
// the pauses the detector needs add up to.
//
// Two floors are kept:
//   both ways  every byte in either direction at 115200 baud (10 bits a
//              byte, 86.8 us), the detector's 0.3 ms turnaround before each
//              reply, and the pauses: 1 ms of settling after each exchange,
//              4 ms after each firmware data frame, 1.05 ms per wake-up
//              frame slot, and any hold the operation makes on purpose (a
//              test output stays on for AVOperate ms). That is what a real
//              adapter and detector impose.
//   line       the same without the tool's own bytes: the simulator runs on
//              a pseudo-terminal, which hands the tool's frames over at
//              once and paces only the detector's replies. Against the
//              simulator, wall time above this floor is the tool's own cost.
#include <QString>

namespace wire {

constexpr double kByteMs = 10.0 / 115200.0 * 1000.0;  // 0.0868 ms
constexpr double kTurnaroundMs = 0.3;
constexpr double kSettleMs = 1.0;
constexpr double kWakeSlotMs = 1.05;
constexpr double kFirmwareFramePauseMs = 4.0;
constexpr int kStatusReply = 3;
constexpr int kFrameCrc = 2;

struct Floor {
    double bothWaysMs = 0;
    double lineMs = 0;
    Floor& operator+=(const Floor& other)
    {
        bothWaysMs += other.bothWaysMs;
        lineMs += other.lineMs;
        return *this;
    }
    Floor operator*(double times) const { return {bothWaysMs * times, lineMs * times}; }
};

// Bytes sent by the tool, bytes received, and the pauses and turnarounds
// that lie on the line whatever the baud rate.
Floor Traffic(long sentBytes, long readBytes, double pausesMs);

// A pause the operation makes on purpose (a test output held on).
inline Floor Hold(double ms) { return {ms, ms}; }

// One firmware packet that goes through at once. It leaves no trace (a
// whole image would flood the memo): 0x91 and its ACK, the data frame of
// `packetSize` bytes and its ACK, a turnaround before each reply, two
// settling pauses and the pause after the data frame.
Floor FirmwarePacket(int packetSize);

// Adds up what the communication trace says went over the line.
class TWireTally {
public:
    void Take(const QString& line);
    Floor Total() const;
    // The pauses alone (settling, wake-up slots), without bytes or
    // turnarounds: the floor of a line that delays nothing.
    Floor PausesOnly() const;

    long sentBytes = 0;
    long readBytes = 0;
    int exchanges = 0;
    int wakeFrames = 0;
    int connects = 0;
};

}  // namespace wire
