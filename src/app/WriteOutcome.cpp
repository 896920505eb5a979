// How a Write Device ends: the read-back of the written ranges in the same
// connection, a stop between ranges, the box text of a failed write, and
// the question before writing over a block that failed its CRC.
#include <cstddef>

#include "FirmwareImage.h"
#include "MainWorkflows.h"
#include "StatusTexts.h"

namespace {

// A block read back gets the attempts every block read gets: the infrared
// link loses a packet now and then.
constexpr int kReadBackAttempts = 3;

template <typename Step>
std::uint8_t Attempted(Step step)
{
    std::uint8_t status = zelstatus::kOK;
    for (int attempt = 0; attempt < kReadBackAttempts; ++attempt) {
        status = step();
        if (status == zelstatus::kOK)
            break;
    }
    return status;
}

// Bytes the unit changes by itself: the running life count and the CRC that
// closes each block. A read-back cannot hold what was sent there.
bool ChangedByTheUnit(int at)
{
    constexpr int kLife = offsetof(RZELUnitCFG, mLifeRemaining);
    constexpr int kBlock = sizeof(RZELUnitCFG);
    const int inBlock = at % kBlock;
    return (at < kBlock && inBlock >= kLife && inBlock < kLife + 4) || inBlock >= kBlock - 2;
}

const QString kPartlyWritten =
    QStringLiteral("The unit may now hold part of the new settings. Write again before using it.");

}  // namespace

std::uint8_t TMainWorkflows::VerifyWrittenRanges(const RComZELReadBuf& image)
{
    const RDeviceCFG& cfg = FSettings.cfg;
    RZELCFG back{};
    std::uint8_t status =
        Attempted([&] { return FLink.ReadUnitCFGData(back.mUnit, cfg.mUnitPacketSize, cfg.mUnitDataSize); });
    if (status == zelstatus::kOK)
        status = Attempted(
            [&] { return FLink.ReadSensorCFGData(back.mSensor, cfg.mUnitPacketSize, cfg.mUnitSensorDataSize); });
    if (status != zelstatus::kOK)
        return status;
    FAsLeft = back;
    FDamagedBlock.clear();
    const auto* left = reinterpret_cast<const std::uint8_t*>(&back);
    int differing = 0;
    int first = -1;
    for (const WrittenRange& range : FWritten) {
        for (int at = range.address; at < range.address + range.size; ++at) {
            if (ChangedByTheUnit(at) || left[at] == image.mBuf[at])
                continue;
            ++differing;
            if (first < 0)
                first = at;
        }
    }
    if (differing == 0)
        return zelstatus::kOK;
    const auto hex = [](std::uint8_t byte) {
        return QStringLiteral("0x") + QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
    };
    FWriteRefusal = QStringLiteral("The unit acknowledged the write but did not keep it: %1 byte(s) read back "
                                   "differ from those sent (the first at address %2: sent %3, read back %4).")
                        .arg(differing)
                        .arg(first + 1)
                        .arg(hex(image.mBuf[first]), hex(left[first]));
    return zelstatus::kWriteNotKept;
}

std::uint8_t TMainWorkflows::StopWrite()
{
    // The unit was answering: it hears that the connection ends, as after
    // any write. A user stop is otherwise closed without it (an upgrade
    // must be), so the cycle's own close sends nothing more.
    if (FLink.KillZEL() != zelstatus::kOK)
        FLink.KillZEL();
    return fwstatus::kUserStop;
}

QString TMainWorkflows::WriteFailureText(std::uint8_t status) const
{
    QString text;
    if (status == fwstatus::kUserStop) {
        QStringList names;
        for (const WrittenRange& range : FWritten)
            names << QStringLiteral("%1 (bytes %2..%3)")
                         .arg(QLatin1String(range.key))
                         .arg(range.address + 1)
                         .arg(range.address + range.size);
        text = FWritten.empty() ? QStringLiteral("Stopped before anything was written.")
                                : QStringLiteral("Stopped after writing ") + names.join(QStringLiteral(", ")) +
                                      QLatin1Char('.');
    } else {
        text = FWriteRefusal.isEmpty() ? QString::fromStdString(StatusTextFor(status).message) : FWriteRefusal;
    }
    if (!FWritten.empty())
        text += QLatin1Char('\r') + kPartlyWritten;
    return text;
}

bool TMainWorkflows::BeginWrite()
{
    // A write that never reaches the unit (no wake-up) must not report what
    // an earlier one wrote or why it was refused.
    FWritten.clear();
    FAsLeft.reset();
    FWriteRefusal.clear();
    if (!FSettings.factoryMode || FDamagedBlock.isEmpty())
        return true;
    const bool unit = FDamagedBlock == QLatin1String("unit");
    return FView.AskYesNo(opname::kWriteDevice,
                          QStringLiteral("The unit's %1 configuration block (bytes %2..%3) failed its CRC check "
                                         "when it was read: what it holds is unknown.\rWrite the configuration "
                                         "shown over it?")
                              .arg(FDamagedBlock)
                              .arg(unit ? 1 : 65)
                              .arg(unit ? 64 : 128));
}
