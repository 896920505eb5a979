#include "DetectorScript.h"

#include "Crc16.h"

namespace script {

const QByteArray kAck = Hex("B5 B7 C1");
const QByteArray kNak = Hex("B6 B6 81");
const QByteArray kWakeFrame = Hex("B2 75 80");

QByteArray WithCrc(QByteArray data)
{
    const std::uint16_t crc =
        crc16::Compute(reinterpret_cast<const std::uint8_t*>(data.constData()), static_cast<std::size_t>(data.size()));
    data.append(static_cast<char>(crc >> 8));
    data.append(static_cast<char>(crc & 0xFF));
    return data;
}

QByteArray Frame(const QByteArray& bytes)
{
    return WithCrc(bytes);
}

QByteArray Command(std::uint8_t command)
{
    return Frame(QByteArray(1, static_cast<char>(command)));
}

template <typename Block>
Block Sealed(Block block)
{
    static_assert(sizeof(Block) == 64);
    auto* bytes = reinterpret_cast<std::uint8_t*>(&block);
    const std::uint16_t crc = crc16::Compute(bytes, 62);
    bytes[62] = static_cast<std::uint8_t>(crc & 0xFF);
    bytes[63] = static_cast<std::uint8_t>(crc >> 8);
    return block;
}
template RZELUnitCFG Sealed(RZELUnitCFG);
template RZELSensorCFG Sealed(RZELSensorCFG);

void Script::Wake()
{
    FSteps.push_back(WakeStep(kAck));
    FExpected += kWakeFrame;
}

void Script::Reply(std::uint8_t command, const QByteArray& reply, int delayMs)
{
    FSteps.push_back({3, reply, delayMs});
    FExpected += Command(command);
}

void Script::Identify(const RZELIdenty& identity)
{
    Reply(0xA0, WithCrc(Bytes(identity)));
}

void Script::ReadBlock(std::uint8_t select, const QByteArray& block, int packet)
{
    Ack(select);
    for (int at = 0; at + packet <= block.size(); at += packet)
        Reply(0x81, WithCrc(block.mid(at, packet)));
}

void Script::Data(const QByteArray& payload, const QByteArray& reply, int delayMs)
{
    const QByteArray frame = Frame(payload);
    FSteps.push_back({static_cast<int>(frame.size()), reply, delayMs});
    FExpected += frame;
}

QByteArray OneWakeFramePerConnection(const QByteArray& received)
{
    QByteArray out;
    int at = 0;
    while (at < received.size()) {
        if (received.mid(at, kWakeFrame.size()) == kWakeFrame) {
            out += kWakeFrame;
            while (received.mid(at, kWakeFrame.size()) == kWakeFrame)
                at += static_cast<int>(kWakeFrame.size());
            continue;
        }
        out += received.at(at++);
    }
    return out;
}

}  // namespace script
