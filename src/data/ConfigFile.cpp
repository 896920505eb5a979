#include "ConfigFile.h"

#include <QDate>
#include <QFile>
#include <QString>

#include <cstring>
#include <string>
#include <vector>

#include "WholeFile.h"

namespace {

// Offset of a field inside the whole 128-byte configuration image.
#define CFG_AT(block, field) (offsetof(RZELCFG, block) + offsetof(decltype(RZELCFG::block), field))

constexpr int kOldestVersion = 1;
constexpr int kLayoutVersions = 7;  // versions with their own field layout

constexpr std::size_t kBodySize[] = {0, 92, 96, 100, 112, 112, 116, 116, 128};

// Where a field sits in the body of one version; width 0 means the field's
// full width. Offset -1: the version does not have the field.
struct Cell {
    std::int16_t offset;
    std::uint8_t width = 0;
};
constexpr Cell kAbsent{-1};

struct FieldLayout {
    std::size_t recordOffset;
    std::size_t width;
    std::array<Cell, kLayoutVersions> at;  // versions 1..7
};

// Body offsets of every field in versions 1..7. Versions 3 to 5 kept only
// three characters of the user ID.
const FieldLayout kLayouts[] = {
    {CFG_AT(mUnit, mUnitFlag), 1, {{{0}, {0}, {0}, {0}, {0}, {0}, {0}}}},
    {CFG_AT(mUnit, mUserID), 6, {{kAbsent, kAbsent, {1, 3}, {1, 3}, {1, 3}, {1}, {1}}}},
    {CFG_AT(mUnit, mTestInterval), 1, {{kAbsent, kAbsent, kAbsent, kAbsent, kAbsent, kAbsent, {8}}}},
    {CFG_AT(mUnit, mAllowSuspend), 1, {{kAbsent, kAbsent, kAbsent, kAbsent, {5}, {8}, {9}}}},
    {CFG_AT(mUnit, mSerial), 10, {{{1}, {1}, {5}, {5}, {6}, {9}, {10}}}},
    {CFG_AT(mUnit, mBatLimit), 4, {{{12}, {12}, {16}, {16}, {18}, {20}, {22}}}},
    {CFG_AT(mUnit, mBatLimitStartUp), 2, {{{16}, {16}, {20}, {20}, {22}, {24}, {26}}}},
    {CFG_AT(mUnit, mBatLimitCritical), 2, {{{18}, {18}, {22}, {22}, {24}, {26}, {28}}}},
    {CFG_AT(mUnit, mHWVersion), 1, {{{20}, {20}, {24}, {24}, {26}, {28}, {30}}}},
    {CFG_AT(mUnit, mFWVersion), 1, {{{21}, {21}, {25}, {25}, {27}, {29}, {31}}}},
    {CFG_AT(mUnit, mLifeRemaining), 4, {{{24}, {24}, {28}, {28}, {28}, {32}, {32}}}},
    {CFG_AT(mUnit, mAlarmTime), 4, {{{28}, {28}, {32}, {32}, {32}, {36}, {36}}}},
    {CFG_AT(mUnit, mTestTime), 4, {{{32}, {32}, {36}, {36}, {36}, {40}, {40}}}},
    {CFG_AT(mUnit, mAlarmCount), 2, {{{36}, {36}, {40}, {40}, {40}, {44}, {44}}}},
    {CFG_AT(mUnit, mTestCount), 2, {{{38}, {38}, {42}, {42}, {42}, {46}, {46}}}},
    {CFG_AT(mUnit, mPEventLog), 1, {{{40}, {40}, {44}, {44}, {44}, {48}, {48}}}},
    {CFG_AT(mSensor, mAlarmHigh), 2, {{{44}, {44}, {48}, {48}, {48}, {52}, {52}}}},
    {CFG_AT(mSensor, mAlarmLow), 2, {{{46}, {46}, {50}, {50}, {50}, {54}, {54}}}},
    {CFG_AT(mSensor, mCalInterval), 4, {{kAbsent, {48}, {52}, {52}, {52}, {56}, {56}}}},
    {CFG_AT(mSensor, mBumpInterval), 2, {{kAbsent, kAbsent, kAbsent, {56}, {56}, {60}, {60}}}},
    {CFG_AT(mSensor, mSensorType), 1, {{{48}, {52}, {56}, {60}, {60}, {64}, {64}}}},
    {CFG_AT(mSensor, mDeadZone), 2, {{{50}, {54}, {58}, {62}, {62}, {66}, {66}}}},
    {CFG_AT(mSensor, mSpanGas), 2, {{{52}, {56}, {60}, {64}, {64}, {68}, {68}}}},
    {CFG_AT(mSensor, mSensorMax), 2, {{{54}, {58}, {62}, {66}, {66}, {70}, {70}}}},
    {CFG_AT(mSensor, mSensorBase), 2, {{{56}, {60}, {64}, {68}, {68}, {72}, {72}}}},
    {CFG_AT(mSensor, mTempCompSpan), 12, {{{60}, {64}, {68}, {72}, {72}, {76}, {76}}}},
    {CFG_AT(mSensor, mZero), 2, {{{72}, {76}, {80}, {84}, {84}, {88}, {88}}}},
    {CFG_AT(mSensor, mSpan), 2, {{{74}, {78}, {82}, {86}, {86}, {90}, {90}}}},
    {CFG_AT(mSensor, mTau), 2, {{{76}, {80}, {84}, {88}, {88}, {92}, {92}}}},
    {CFG_AT(mSensor, mLastCal), 4, {{{80}, {84}, {88}, {92}, {92}, {96}, {96}}}},
    {CFG_AT(mSensor, mPeakTimer), 4, {{{84}, {88}, {92}, {96}, {96}, {100}, {100}}}},
    {CFG_AT(mSensor, mMinSpan), 2, {{{88}, {92}, {96}, {100}, {100}, {104}, {104}}}},
    {CFG_AT(mSensor, mLastBump), 4, {{kAbsent, kAbsent, kAbsent, {104}, {104}, {108}, {108}}}},
};

struct ByteRange {
    std::size_t offset;
    std::size_t width;
    const char* name;  // as a person calls the field
};

// What a person sets up; everything the detector counts or measures itself
// stays with the unit the configuration is loaded for.
const ByteRange kContributed[] = {
    {CFG_AT(mUnit, mUnitFlag), 1, "unit flags"},
    {CFG_AT(mUnit, mUserID), 6, "user ID"},
    {CFG_AT(mUnit, mTestInterval), 1, "self-test interval"},
    {CFG_AT(mUnit, mAllowSuspend), 1, "hibernation allowed"},
    {CFG_AT(mUnit, mSerial), 10, "serial number"},
    {CFG_AT(mUnit, mBatLimit), 4, "battery limits"},
    {CFG_AT(mUnit, mBatLimitStartUp), 2, "start-up battery limit"},
    {CFG_AT(mUnit, mBatLimitCritical), 2, "critical battery limit"},
    {CFG_AT(mUnit, mHWVersion), 1, "hardware version"},
    {CFG_AT(mUnit, mFWVersion), 1, "firmware version"},
    {CFG_AT(mUnit, mLifeRemaining), 4, "life remaining"},
    {CFG_AT(mSensor, mAlarmHigh), 2, "high alarm"},
    {CFG_AT(mSensor, mAlarmLow), 2, "low alarm"},
    {CFG_AT(mSensor, mCalInterval), 4, "calibration interval"},
    {CFG_AT(mSensor, mBumpInterval), 2, "bump interval"},
    {CFG_AT(mSensor, mSensorType), 1, "sensor type"},
    {CFG_AT(mSensor, mDeadZone), 2, "dead zone"},
    {CFG_AT(mSensor, mSpanGas), 2, "span gas"},
    {CFG_AT(mSensor, mSensorMax), 2, "sensor maximum"},
    {CFG_AT(mSensor, mSensorBase), 2, "sensor base"},
    {CFG_AT(mSensor, mTempCompSpan), 12, "temperature compensation"},
};

#undef CFG_AT

// Values of the fields that older versions did not store: what those
// releases of the detector firmware assumed.
RZELCFG AbsentFieldValues()
{
    RZELCFG cfg;
    std::memset(&cfg, 0, sizeof cfg);
    std::memset(cfg.mUnit.mUserID, ' ', sizeof cfg.mUnit.mUserID);
    cfg.mUnit.mTestInterval = 20;
    cfg.mUnit.mAllowSuspend = zel::kSuspendNotAllowed;
    return cfg;
}

std::uint8_t* Bytes(RZELCFG& cfg)
{
    return reinterpret_cast<std::uint8_t*>(&cfg);
}

const std::uint8_t* Bytes(const RZELCFG& cfg)
{
    return reinterpret_cast<const std::uint8_t*>(&cfg);
}

}  // namespace

std::vector<std::string> FieldsNotInVersion(std::int32_t version)
{
    std::vector<std::string> missing;
    if (version < kOldestVersion || version > kLayoutVersions)
        return missing;
    for (const ByteRange& field : kContributed) {
        for (const FieldLayout& layout : kLayouts) {
            if (layout.recordOffset != field.offset)
                continue;
            const Cell cell = layout.at[static_cast<std::size_t>(version - 1)];
            if (cell.offset < 0)
                missing.emplace_back(field.name);
            else if (cell.width != 0 && cell.width < field.width)
                missing.push_back(std::string(field.name) + " (all but its first " + std::to_string(cell.width) +
                                  " characters)");
        }
    }
    return missing;
}

std::size_t ConfigBodySize(std::int32_t version)
{
    if (version < kOldestVersion || version > cfgfile::kImageVersion)
        return 0;
    return kBodySize[version];
}

double ConfigFileTime(const QDateTime& localTime)
{
    static const QDate kEpoch(1899, 12, 30);
    const QDateTime local = localTime.toLocalTime();
    const double days = static_cast<double>(kEpoch.daysTo(local.date()));
    const double fraction = local.time().msecsSinceStartOfDay() / 86400000.0;
    return days >= 0 ? days + fraction : days - fraction;
}

std::array<std::uint8_t, cfgfile::kHeaderSize> PackFileHeader(std::int32_t version, double savedAt,
                                                               bool factoryMode)
{
    std::array<std::uint8_t, cfgfile::kHeaderSize> header{};
    std::memcpy(header.data(), &version, sizeof version);
    std::memcpy(header.data() + cfgfile::kTimeOffset, &savedAt, sizeof savedAt);
    header[cfgfile::kModeOffset] = factoryMode ? 1 : 0;
    return header;
}

std::array<std::uint8_t, cfgfile::kWriteBodySize> PackFileRecord(const RZELCFG& cfg)
{
    std::array<std::uint8_t, cfgfile::kWriteBodySize> body{};
    for (const FieldLayout& field : kLayouts) {
        const Cell cell = field.at[cfgfile::kWriteVersion - 1];
        const std::size_t width = cell.width ? cell.width : field.width;
        std::memcpy(body.data() + cell.offset, Bytes(cfg) + field.recordOffset, width);
    }
    return body;
}

bool UnpackFileRecord(std::int32_t version, std::span<const std::uint8_t> body, RZELCFG& out)
{
    if (version < kOldestVersion || version > kLayoutVersions || body.size() < kBodySize[version])
        return false;
    RZELCFG cfg = AbsentFieldValues();
    for (const FieldLayout& field : kLayouts) {
        const Cell cell = field.at[version - 1];
        if (cell.offset < 0)
            continue;
        const std::size_t width = cell.width ? cell.width : field.width;
        std::memcpy(Bytes(cfg) + field.recordOffset, body.data() + cell.offset, width);
    }
    out = cfg;
    return true;
}

RZELCFG MergeContributedFields(const RZELCFG& current, const RZELCFG& fromFile)
{
    RZELCFG merged = current;
    for (const ByteRange& range : kContributed)
        std::memcpy(Bytes(merged) + range.offset, Bytes(fromFile) + range.offset, range.width);
    return merged;
}

bool WriteConfigFile(const std::string& path, const RZELCFG& cfg, bool factoryMode, const QDateTime& now)
{
    const auto header = PackFileHeader(cfgfile::kWriteVersion, ConfigFileTime(now), factoryMode);
    const auto body = PackFileRecord(cfg);
    QByteArray bytes;
    bytes.reserve(cfgfile::kWrittenFileSize);
    bytes.append(reinterpret_cast<const char*>(header.data()), header.size());
    bytes.append(reinterpret_cast<const char*>(body.data()), body.size());

    return WriteFileWhole(QString::fromStdString(path), bytes);
}

ConfigFileResult ReadConfigFile(const std::string& path, const RZELCFG& current, RZELCFG& out,
                                std::vector<std::string>* notHeld)
{
    QFile file;
    switch (OpenRegularFile(file, QString::fromStdString(path))) {
    case OpenResult::Opened: break;
    case OpenResult::NotRegular: return ConfigFileResult::NotAFile;
    case OpenResult::Missing:
    case OpenResult::Failed: return ConfigFileResult::CannotOpen;
    }
    const QByteArray header = file.read(cfgfile::kHeaderSize);
    if (header.size() != static_cast<qsizetype>(cfgfile::kHeaderSize))
        return ConfigFileResult::WrongFile;
    std::int32_t version = 0;
    std::memcpy(&version, header.constData(), sizeof version);
    const std::size_t bodySize = ConfigBodySize(version);
    if (bodySize == 0)
        return ConfigFileResult::WrongFile;
    // A file cut short is refused like a wrong one rather than loaded with
    // made-up bytes: a truncated copy should not quietly configure a unit.
    const QByteArray body = file.read(static_cast<qint64>(bodySize));
    if (body.size() != static_cast<qsizetype>(bodySize))
        return ConfigFileResult::WrongFile;

    RZELCFG fromFile = DefaultConfig();
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(body.constData());
    if (version == cfgfile::kImageVersion)
        std::memcpy(&fromFile, bytes, sizeof fromFile);
    else if (!UnpackFileRecord(version, std::span<const std::uint8_t>(bytes, bodySize), fromFile))
        return ConfigFileResult::WrongFile;
    out = MergeContributedFields(current, fromFile);
    if (notHeld)
        *notHeld = FieldsNotInVersion(version);
    return ConfigFileResult::Ok;
}

ConfigFileMessage ReadConfigFileMessage(ConfigFileResult result)
{
    switch (result) {
    case ConfigFileResult::Ok:
        return {"", ""};
    case ConfigFileResult::CannotOpen:
        return {"Configuration File did not open\rRetry READ FILE", "Read Configuration File"};
    case ConfigFileResult::NotAFile:
        return {"This is not a configuration file but a device, a pipe or a folder\rReselect file",
                "Read Configuration File"};
    case ConfigFileResult::WrongFile:
        break;
    }
    return {"Configuration File is wrong\rReselect file", "Read Configuration File"};
}

ConfigFileMessage WriteConfigFileFailedMessage()
{
    return {"Configuration File did not save\rRetry WRITE FILE", "Write Configuration file"};
}
