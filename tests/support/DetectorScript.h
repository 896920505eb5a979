#pragma once
// Building blocks for PtyPeer scripts that play a detector through whole
// workflows: the replies of each command with their CRC, the steps of a
// connection, and the request bytes the tool is expected to send.
#include <QByteArray>

#include <cstdint>
#include <vector>

#include "PtyPeer.h"
#include "ZelRecords.h"

namespace script {

extern const QByteArray kAck;
extern const QByteArray kNak;
extern const QByteArray kWakeFrame;

QByteArray WithCrc(QByteArray data);
// A request frame as the tool sends it: the bytes and their CRC.
QByteArray Frame(const QByteArray& bytes);
QByteArray Command(std::uint8_t command);

template <typename Record>
QByteArray Bytes(const Record& record)
{
    return QByteArray(reinterpret_cast<const char*>(&record), sizeof record);
}

// A 64-byte block with its own CRC in the last two bytes, low byte first.
template <typename Block>
Block Sealed(Block block);

// Steps and the requests they answer. Every Add... appends both.
class Script {
public:
    void Wake();                                   // the wake-up, answered with ACK
    void Reply(std::uint8_t command, const QByteArray& reply, int delayMs = 0);
    void Ack(std::uint8_t command) { Reply(command, kAck); }
    void Identify(const RZELIdenty& identity);
    // 0x5F or 0x50 and the block in packets of `packet` bytes.
    void ReadBlock(std::uint8_t select, const QByteArray& block, int packet);
    // A frame without command byte, answered with `reply`.
    void Data(const QByteArray& payload, const QByteArray& reply, int delayMs = 0);
    void Kill() { Ack(0xB3); }

    const std::vector<PeerStep>& Steps() const { return FSteps; }
    // What the tool sends, wake-up frames counted once per connection.
    const QByteArray& Expected() const { return FExpected; }

private:
    std::vector<PeerStep> FSteps;
    QByteArray FExpected;
};

// The tool's bytes with each run of repeated wake-up frames counted once.
QByteArray OneWakeFramePerConnection(const QByteArray& received);

}  // namespace script
