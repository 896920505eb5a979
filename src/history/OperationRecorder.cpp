#include "OperationRecorder.h"

#include <QFileInfo>

#include <atomic>
#include <cstring>

namespace {
std::atomic<IOperationRecorder*> gProcessRecorder{nullptr};
}  // namespace

QString FixedField(const char* bytes, std::size_t size)
{
    return QString::fromLatin1(bytes, static_cast<qsizetype>(strnlen(bytes, size)));
}

IOperationRecorder& NullRecorder()
{
    static TNullRecorder recorder;
    return recorder;
}

void SetProcessRecorder(IOperationRecorder* recorder)
{
    gProcessRecorder.store(recorder);
}

IOperationRecorder& ProcessRecorder()
{
    IOperationRecorder* recorder = gProcessRecorder.load();
    return recorder ? *recorder : NullRecorder();
}

void RecordConfigFile(IOperationRecorder& recorder, const QString& workflow, const QString& path, const RZELCFG& cfg)
{
    recorder.BeginOperation(workflow);
    recorder.ConfigFileUsed(QFileInfo(path).absoluteFilePath(), cfg);
    recorder.EndOperation(0);
}

RConfigImage ImageRecord(const QString& role, const RZELCFG& cfg)
{
    RConfigImage image;
    image.role = role;
    image.raw = QByteArray(reinterpret_cast<const char*>(&cfg), sizeof cfg);
    image.unitCrcOk = BlockCrcMatches(reinterpret_cast<const std::uint8_t*>(&cfg.mUnit), sizeof cfg.mUnit);
    image.sensorCrcOk = BlockCrcMatches(reinterpret_cast<const std::uint8_t*>(&cfg.mSensor), sizeof cfg.mSensor);
    return image;
}

RUnitIdentity UnitRecord(const RZELIdenty& identity)
{
    return {FixedField(identity.mSerial, sizeof identity.mSerial), identity.mPID, identity.mHW, identity.mSW,
            identity.mSensor, QString()};
}

QByteArray EventRecords(const std::vector<RZELEvent>& events)
{
    return QByteArray(reinterpret_cast<const char*>(events.data()),
                      static_cast<qsizetype>(events.size() * sizeof(RZELEvent)));
}
