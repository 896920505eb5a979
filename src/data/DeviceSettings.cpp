#include "DeviceSettings.h"

#include <QDir>
#include <QFileInfo>
#include <QString>

#include <algorithm>
#include <utility>

#include "ProfileFile.h"
#include "ProgramDirectory.h"
#include "SensorTypes.h"
#include "TextHelpers.h"

namespace {

// A numeric setting read in factory mode: the text is clamped to [low, high];
// digits that do not convert give the default instead.
struct WordSetting {
    const char* section;
    const char* key;
    const char* defaultText;
    std::uint16_t low;
    std::uint16_t high;
    std::uint16_t RDeviceCFG::*field;
};

// In the order the settings are applied. Bounds that depend on another
// setting (EEPROM ReadStartAddress, Logging DisplayTime) and the one 8-bit
// field are read after this table, in ReadFactorySettings.
constexpr WordSetting kFactoryWords[] = {
    {"Environment", "ConnectTime", "3000", 500, 60000, &RDeviceCFG::mConnectTime},
    {"Environment", "AVOperate", "1000", 100, 5000, &RDeviceCFG::mAVOperate},
    {"UNIT", "PacketSize", "32", 1, 128, &RDeviceCFG::mUnitPacketSize},
    {"UNIT", "UnitDataSize", "64", 1, 256, &RDeviceCFG::mUnitDataSize},
    {"UNIT", "SensorDataSize", "64", 1, 256, &RDeviceCFG::mUnitSensorDataSize},
    {"UNIT", "UnitWriteUserStart", "1", 1, 256, &RDeviceCFG::mUnitWriteUserStart},
    {"UNIT", "UnitWriteUserSize", "0", 0, 128, &RDeviceCFG::mUnitWriteUserSize},
    {"UNIT", "UnitWriteFactoryStart", "17", 1, 256, &RDeviceCFG::mUnitWriteFactoryStart},
    {"UNIT", "UnitWriteFactorySize", "0", 0, 128, &RDeviceCFG::mUnitWriteFactorySize},
    {"UNIT", "SensorWriteUserStart", "65", 1, 256, &RDeviceCFG::mSensorWriteUserStart},
    {"UNIT", "SensorWriteUserSize", "10", 0, 128, &RDeviceCFG::mSensorWriteUserSize},
    {"UNIT", "SensorWriteFactoryStart", "86", 1, 256, &RDeviceCFG::mSensorWriteFactoryStart},
    {"UNIT", "SensorWriteFactorySize", "0", 0, 128, &RDeviceCFG::mSensorWriteFactorySize},
    {"EEPROM", "PacketSize", "32", 1, 128, &RDeviceCFG::mEEPROMPacketSize},
    {"EEPROM", "MaxAddress", "1024", 1, 32768, &RDeviceCFG::mEEPROMMaxAddress},
    {"FLASH", "PacketSize", "128", 1, 256, &RDeviceCFG::mFALSHPacketSize},
    {"FLASH", "MaxAddress", "128", 1, 256, &RDeviceCFG::mFLASHMaxAddress},
    {"FLASH", "DownloadRetry", "0", 1, 5, &RDeviceCFG::mFLASHDownloadRetry},
    {"EVENT", "ReadPacketSize", "32", 1, 128, &RDeviceCFG::mEVENTReadPacketSize},
    {"EVENT", "PacketSize", "9", 1, 128, &RDeviceCFG::mEVENTPacketSize},
    {"Logging", "Interval", "1", 1, 600, &RDeviceCFG::mLogInterval},
    {"Logging", "ConnectTime", "1000", 500, 1500, &RDeviceCFG::mLogConnectTime},
    {"Calibration", "CalibrationTime", "180", 30, 300, &RDeviceCFG::mCalTime},
    {"Calibration", "CalibrationCheckTime", "5", 1, 30, &RDeviceCFG::mCalCheckTime},
};

constexpr std::uint16_t kMaxDisplayTime = 60000;
// The chart shows at least a hundred readings.
constexpr std::uint16_t kReadingsPerChart = 100;
// The firmware download is tried this often when the file asks for 0 tries.
constexpr std::uint16_t kDefaultDownloadRetry = 3;
constexpr std::uint16_t kEepromBytesPerRow = 16;

std::uint16_t ReadWord(const IProfileReader& ini, const char* section, const char* key, const char* defaultText,
                       std::uint16_t low, std::uint16_t high)
{
    const std::uint16_t fallback = ParseWord(defaultText, 0, 0xFFFF);
    return ParseWord(ini.ReadString(section, key, defaultText), low, high, fallback);
}

void ReadFactorySettings(const IProfileReader& ini, RDeviceCFG& cfg)
{
    for (const WordSetting& s : kFactoryWords)
        cfg.*s.field = ReadWord(ini, s.section, s.key, s.defaultText, s.low, s.high);

    cfg.mEEPROMReadAddress = ReadWord(ini, "EEPROM", "ReadStartAddress", "0", 0, cfg.mEEPROMMaxAddress);
    cfg.mFLASHRetry = static_cast<std::uint8_t>(ReadWord(ini, "FLASH", "Retry", "3", 1, 10));
    // Interval tops out at 600 s, so the lower bound reaches the upper one
    // exactly; min() keeps the bounds ordered should either limit change.
    const auto shortest = static_cast<std::uint16_t>(
        std::min<unsigned>(static_cast<unsigned>(cfg.mLogInterval) * kReadingsPerChart, kMaxDisplayTime));
    cfg.mLogDisplayTime = ReadWord(ini, "Logging", "DisplayTime", "120", shortest, kMaxDisplayTime);

    cfg.mEEPROMSaveDir = ini.ReadString("EEPROM", "SaveDirectory", "");
    cfg.mLogSaveDir = ini.ReadString("Logging", "SaveDirectory", "");
}

// User mode fixes the settings, but a unit in the field may need more
// download attempts, so DownloadRetry stays readable; an absent or zero value
// becomes 3 (and LoadSettings writes it, so the user finds the key to edit).
// True when it did.
bool ReadUserSettings(const IProfileReader& ini, const std::string& programDir, RDeviceCFG& cfg)
{
    cfg.mEEPROMSaveDir = programDir + folders::kEeprom;
    cfg.mLogSaveDir = programDir + folders::kDataLog;
    cfg.mFLASHDownloadRetry = ReadWord(ini, "FLASH", "DownloadRetry", "0", 0, 5);
    if (cfg.mFLASHDownloadRetry != 0)
        return false;
    cfg.mFLASHDownloadRetry = kDefaultDownloadRetry;
    return true;
}

struct ReadSettings {
    LoadedSettings settings;
    bool downloadRetryDefaulted = false;
};

ReadSettings ReadValues(const IProfileReader& ini, const std::string& programDir)
{
    ReadSettings read;
    LoadedSettings& settings = read.settings;
    settings.programDir = programDir;
    settings.factoryMode = ini.ReadString("Environment", "ModeEntry", "USER") == kFactoryModeEntry;
    settings.sensors = BuildSensorTypes(ini.SectionLines("SENSOR"));

    RDeviceCFG& cfg = settings.cfg;  // starts with the user-mode values
    cfg.mFLASHFile = ini.ReadString("FLASH", "ImageFile", "");
    if (settings.factoryMode)
        ReadFactorySettings(ini, cfg);
    else
        read.downloadRetryDefaulted = ReadUserSettings(ini, programDir, cfg);
    cfg.mEVENTSaveDir = ini.ReadString("EVENT", "SaveDirectory", "");
    cfg.mLogEnable = ini.ReadInt("ETC", "LogEnable", 0) != 0;
    cfg.mConfirmOtherUnit = ini.ReadInt("ETC", "ConfirmOtherUnit", 1) != 0;
    settings.port = ini.ReadString("Environment", "Port", "");
    return read;
}

bool FolderExists(const std::string& folder)
{
    return !folder.empty() && QFileInfo(QString::fromStdString(folder)).isDir();
}

// One level only: a folder whose parent is missing is not created. Failures
// are not reported; the file dialogs then open in their default folder.
void MakeFolder(const std::string& folder, SettingsAccess access)
{
    if (access == SettingsAccess::Write && !FolderExists(folder))
        QDir().mkdir(QString::fromStdString(folder));
}

// A remembered save folder that has gone (or was never set) is replaced by the
// default one, which is created and remembered.
void EnsureSaveFolder(const ProfileFile& ini, const char* section, const std::string& defaultFolder,
                      std::string& folder, SettingsAccess access)
{
    if (FolderExists(folder))
        return;
    folder = defaultFolder;
    MakeFolder(folder, access);
    if (access == SettingsAccess::Write)
        ini.WriteString(section, "SaveDirectory", folder);
}

std::string FirmwareFolderOf(const std::string& programDir, const std::string& imagePath)
{
    const std::string folder = FolderOf(imagePath);
    return folder.empty() ? programDir : folder;
}

LoadedSettings& Holder()
{
    static LoadedSettings settings;
    return settings;
}

bool StoreKey(const char* section, const char* key, const std::string& value)
{
    const std::string& programDir = Holder().programDir;
    if (programDir.empty())
        return false;
    return ProfileFile(SettingsFilePath(programDir)).WriteString(section, key, value);
}

}  // namespace

LoadedSettings SettingsFromProfile(const IProfileReader& ini, const std::string& programDir)
{
    return ReadValues(ini, programDir).settings;
}

LoadedSettings LoadSettings(const std::string& programDir, SettingsAccess access)
{
    const ProfileFile ini(SettingsFilePath(programDir));
    // All values from one reading of the file: some forty keys, each of
    // which would otherwise open and parse the whole file again, and an
    // editor saving the file meanwhile could mix two versions of it.
    ReadSettings read = ReadValues(ini.Snapshot(), programDir);
    if (read.downloadRetryDefaulted && access == SettingsAccess::Write)
        ini.WriteInt("FLASH", "DownloadRetry", kDefaultDownloadRetry);
    LoadedSettings& settings = read.settings;
    RDeviceCFG& cfg = settings.cfg;

    if (!cfg.mFLASHFile.empty() && QFileInfo(QString::fromStdString(cfg.mFLASHFile)).isFile()) {
        cfg.mFLASHSaveDir = FirmwareFolderOf(programDir, cfg.mFLASHFile);
    } else {
        cfg.mFLASHFile.clear();
        cfg.mFLASHSaveDir = programDir + folders::kFirmware;
    }
    MakeFolder(cfg.mFLASHSaveDir, access);

    EnsureSaveFolder(ini, "EVENT", programDir + folders::kEvent, cfg.mEVENTSaveDir, access);
    if (settings.factoryMode) {
        EnsureSaveFolder(ini, "EEPROM", programDir + folders::kEeprom, cfg.mEEPROMSaveDir, access);
        EnsureSaveFolder(ini, "Logging", programDir + folders::kDataLog, cfg.mLogSaveDir, access);
    }
    MakeFolder(programDir + folders::kConfigure, access);
    return settings;
}

const LoadedSettings& CurrentSettings()
{
    return Holder();
}

void SetCurrentSettings(LoadedSettings settings)
{
    Holder() = std::move(settings);
}

bool SetEventSaveDir(const std::string& folder)
{
    Holder().cfg.mEVENTSaveDir = folder;
    return StoreKey("EVENT", "SaveDirectory", folder);
}

bool SetEepromSaveDir(const std::string& folder)
{
    Holder().cfg.mEEPROMSaveDir = folder;
    return StoreKey("EEPROM", "SaveDirectory", folder);
}

bool SetLogSaveDir(const std::string& folder)
{
    Holder().cfg.mLogSaveDir = folder;
    return StoreKey("Logging", "SaveDirectory", folder);
}

bool SetFlashFile(const std::string& path)
{
    LoadedSettings& settings = Holder();
    settings.cfg.mFLASHFile = path;
    settings.cfg.mFLASHSaveDir = FirmwareFolderOf(settings.programDir, path);
    return StoreKey("FLASH", "ImageFile", path);
}

bool WriteEepromSaveDir(const std::string& programDir, const std::string& folder)
{
    return ProfileFile(SettingsFilePath(programDir)).WriteString("EEPROM", "SaveDirectory", folder);
}

std::vector<std::string> EepromGridStartTexts(const RDeviceCFG& cfg)
{
    const unsigned rows = cfg.mEEPROMMaxAddress / kEepromBytesPerRow;
    std::vector<std::string> texts;
    texts.reserve(rows);
    for (unsigned r = 0; r < rows; ++r) {
        const QString hex = QString::number(r * kEepromBytesPerRow, 16).toUpper();
        texts.push_back(PadText(PadSide::Left, 4, '0', hex.toStdString()));
    }
    return texts;
}

WindowGeometry ReadWindowGeometry(const std::string& programDir)
{
    const ProfileFile ini(SettingsFilePath(programDir));
    const WindowGeometry defaults;
    WindowGeometry geometry;
    geometry.width = ini.ReadInt("WINDOW", "WIDTH", defaults.width);
    geometry.height = ini.ReadInt("WINDOW", "HEIGHT", defaults.height);
    geometry.left = ini.ReadInt("WINDOW", "LEFT", defaults.left);
    geometry.top = ini.ReadInt("WINDOW", "TOP", defaults.top);
    return geometry;
}

bool WriteWindowGeometry(const std::string& programDir, const WindowGeometry& geometry)
{
    const ProfileFile ini(SettingsFilePath(programDir));
    // All four are attempted even when one fails, so a partial write keeps
    // as much of the position as possible.
    bool ok = ini.WriteInt("WINDOW", "WIDTH", geometry.width);
    ok = ini.WriteInt("WINDOW", "HEIGHT", geometry.height) && ok;
    ok = ini.WriteInt("WINDOW", "LEFT", geometry.left) && ok;
    ok = ini.WriteInt("WINDOW", "TOP", geometry.top) && ok;
    return ok;
}

std::optional<int> ReadSpanGas(const std::string& programDir, const std::string& sensorName)
{
    const ProfileFile ini(SettingsFilePath(programDir));
    if (!ini.HasKey("SENSORCAL", sensorName))
        return std::nullopt;
    // A span gas of 0 (or less) is no span gas: such a key is as good as none.
    const int tenths = ini.ReadInt("SENSORCAL", sensorName, 0);
    if (tenths <= 0)
        return std::nullopt;
    return tenths;
}

bool WriteSpanGas(const std::string& programDir, const std::string& sensorName, int tenths)
{
    if (tenths <= 0)
        return false;
    return ProfileFile(SettingsFilePath(programDir)).WriteInt("SENSORCAL", sensorName, tenths);
}
