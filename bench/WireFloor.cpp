#include "WireFloor.h"

#include <QRegularExpression>
#include <QStringList>

namespace wire {

Floor Traffic(long sentBytes, long readBytes, double pausesMs)
{
    return {(sentBytes + readBytes) * kByteMs + pausesMs, readBytes * kByteMs + pausesMs};
}

Floor FirmwarePacket(int packetSize)
{
    const long sent = (1 + kFrameCrc) + (packetSize + kFrameCrc);
    const long read = 2 * kStatusReply;
    return Traffic(sent, read, 2 * kTurnaroundMs + 2 * kSettleMs + kFirmwareFramePauseMs);
}

void TWireTally::Take(const QString& line)
{
    // "[CHECK TIME] 0.004 (1)": a wake-up that took that many frames.
    static const QRegularExpression checkTime(QStringLiteral(R"(^\[CHECK TIME\] .* \((\d+)\)$)"));
    static const QRegularExpression prefix(QStringLiteral(R"(^\[(SEND|READ)\] ([A-Z]+:)?)"));
    const auto match = checkTime.match(line);
    if (match.hasMatch()) {
        ++connects;
        wakeFrames += match.captured(1).toInt();
        return;
    }
    const bool sent = line.startsWith(QLatin1String("[SEND] "));
    const bool read = line.startsWith(QLatin1String("[READ] "));
    // Lines without a prefix are the wake-up's answers: frame, turnaround
    // and answer all lie inside the frame's 1.05 ms slot, which is counted
    // whole with the frames.
    if (!sent && !read)
        return;
    if (sent)
        ++exchanges;
    QString hex = line;
    hex.remove(prefix);
    (sent ? sentBytes : readBytes) += hex.split(QLatin1Char(' '), Qt::SkipEmptyParts).size();
}

Floor TWireTally::Total() const
{
    // Every exchange: the detector's turnaround before its reply and the
    // settling pause after it. Every wake-up: its frame slots, then two
    // settling pauses around the input purge.
    const double pauses = exchanges * (kTurnaroundMs + kSettleMs) + wakeFrames * kWakeSlotMs + connects * 2 * kSettleMs;
    return Traffic(sentBytes, readBytes, pauses);
}

Floor TWireTally::PausesOnly() const
{
    const double pauses = exchanges * kSettleMs + wakeFrames * kWakeSlotMs + connects * 2 * kSettleMs;
    return {pauses, pauses};
}

}  // namespace wire
