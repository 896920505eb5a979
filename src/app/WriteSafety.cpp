// The main window's safeguards around the values it shows: the unit line,
// the edits not yet written, the question before a write to a unit other
// than the one shown, and the alarm set point rule.
#include <QFileInfo>

#include "AlarmSetPoints.h"
#include "ConfigMapping.h"
#include "MainWorkflows.h"

namespace {

constexpr int kReadAttempts = 3;

QString SerialOf(const char* bytes, int length)
{
    return FixedText(bytes, length).trimmed();
}

}  // namespace

void TMainWorkflows::PublishUnitLine()
{
    FView.ShowUnitLine(FUnitLine);
}

int TMainWorkflows::EditedFields()
{
    return FUnitLine.UnwrittenFields(FView.FormValues());
}

bool TMainWorkflows::ConfirmDiscardEdits(const QString& caption)
{
    const int edited = EditedFields();
    if (edited == 0)
        return true;
    return FView.AskYesNoDefaultNo(caption, QStringLiteral("Discard the edits to %1 fields?").arg(edited));
}

QString TMainWorkflows::ShownUnitName() const
{
    if (FUnitLine.From() == TUnitLine::Source::Unit && !FUnitSerial.isEmpty())
        return QStringLiteral("unit ") + FUnitSerial;
    return QStringLiteral("the unit in front of the adapter");
}

bool TMainWorkflows::RefuseAlarmSetPoints(const RZELCFG& cfg, const QString& caption, const QString& consequence)
{
    const std::optional<QString> fault = AlarmSetPointFault(cfg.mSensor, FSettings.sensors);
    if (!fault)
        return false;
    FView.ShowMessage(BoxIcon::Error, caption, *fault + QLatin1Char('\r') + consequence);
    return true;
}

void TMainWorkflows::NoteRead(std::uint8_t status)
{
    if (status != zelstatus::kOK) {
        // Whatever the window shows now is not what the unit in front of
        // the adapter holds.
        FUnitSerial.clear();
        FUnitLine.ReadFailed();
    } else {
        FUnitSerial = SerialOf(FLastIdentity.mSerial, sizeof FLastIdentity.mSerial);
        FUnitLine.UnitRead(SerialOf(FZELCFG.mUnit.mSerial, sizeof FZELCFG.mUnit.mSerial), QTime::currentTime(),
                           FView.FormValues(), GasUnitOf(FSettings.sensors, FZELCFG.mSensor.mSensorType));
    }
    PublishUnitLine();
}

void TMainWorkflows::NoteLoadedFile(const QString& path)
{
    FUnitLine.FileLoaded(QFileInfo(path).fileName(), FView.FormValues(),
                         GasUnitOf(FSettings.sensors, FZELCFG.mSensor.mSensorType));
    PublishUnitLine();
}

void TMainWorkflows::NoteWritten()
{
    // The unit now holds what the window shows. The factory page may have
    // given it a new serial number; the user layout never does.
    const QString identitySerial = SerialOf(FLastIdentity.mSerial, sizeof FLastIdentity.mSerial);
    FUnitSerial = FSettings.factoryMode ? SerialOf(FZELCFG.mUnit.mSerial, sizeof FZELCFG.mUnit.mSerial)
                                        : identitySerial;
    FUnitLine.UnitRead(FUnitSerial, QTime::currentTime(), FView.FormValues(),
                       GasUnitOf(FSettings.sensors, FZELCFG.mSensor.mSensorType));
    PublishUnitLine();
}

std::uint8_t TMainWorkflows::CheckWriteTarget(const RZELIdenty& identity)
{
    FWriteStopped = false;
    const QString serial = SerialOf(identity.mSerial, sizeof identity.mSerial);
    if (!FSettings.cfg.mConfirmOtherUnit || (!FUnitSerial.isEmpty() && serial == FUnitSerial))
        return zelstatus::kOK;

    // Not the unit whose values are shown: what it holds now, so that the
    // technician sees exactly what the write would change.
    const RDeviceCFG& cfg = FSettings.cfg;
    RZELCFG there = FZELCFG;
    std::uint8_t status = zelstatus::kOK;
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        status = FLink.ReadUnitCFGData(there.mUnit, cfg.mUnitPacketSize, cfg.mUnitDataSize);
        if (status == zelstatus::kOK)
            break;
    }
    for (int attempt = 0; status == zelstatus::kOK && attempt < kReadAttempts; ++attempt) {
        status = FLink.ReadSensorCFGData(there.mSensor, cfg.mUnitPacketSize, cfg.mUnitSensorDataSize);
        if (status == zelstatus::kOK)
            break;
    }
    // A block that failed its CRC cannot be read; the technician already
    // chose to write over it (BeginWrite's question names the block).
    if (status == zelstatus::kBlockCrc && !FDamagedBlock.isEmpty())
        return zelstatus::kOK;
    if (status != zelstatus::kOK)
        return status;
    // What the unit held before the write, for its history.
    FLastRead = there;

    const RFormValues shown = FView.FormValues();
    const RFormValues before = ConfigToForm(there, FSettings.sensors, shown.alarmRange, shown.gasRange);
    const RFormValues after = ConfigToForm(FZELCFG, FSettings.sensors, shown.alarmRange, shown.gasRange);
    const QStringList changes = ChangedFields(before, after, FSettings.factoryMode,
                                              GasUnitOf(FSettings.sensors, FZELCFG.mSensor.mSensorType));
    const QString unit = serial.isEmpty() ? QStringLiteral("without a serial number") : serial;
    if (changes.isEmpty()) {
        FView.ShowMessage(BoxIcon::Information, opname::kWriteDevice,
                          QStringLiteral("Unit %1 already holds the values shown.\rNothing was written.").arg(unit));
        FWriteStopped = true;
    } else if (!FView.AskYesNoDefaultNo(opname::kWriteDevice, QStringLiteral("Write %1 changes to unit %2?\r")
                                                                      .arg(changes.size())
                                                                      .arg(unit) +
                                                                  changes.join(QLatin1Char('\r')))) {
        FWriteStopped = true;
    }
    // The tool's own stop: the unit was answering and is told the
    // connection ends.
    return FWriteStopped ? zelstatus::kSizeRefused : zelstatus::kOK;
}
