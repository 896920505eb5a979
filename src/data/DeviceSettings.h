#pragma once
// The settings record read from "LUMBRA.INI" at start, the operating mode and
// the sensor type table. Loaded once; only the save folders and the firmware
// file name change afterwards (the workflows write them back).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct RDeviceCFG {
    std::uint16_t mConnectTime = 3000;      // ms
    std::uint16_t mAVOperate = 1000;        // ms
    std::uint16_t mUnitPacketSize = 32;
    std::uint16_t mUnitDataSize = 64;
    std::uint16_t mUnitSensorDataSize = 64;
    std::uint16_t mUnitWriteUserStart = 1;
    std::uint16_t mUnitWriteUserSize = 8;
    std::uint16_t mUnitWriteFactoryStart = 17;
    std::uint16_t mUnitWriteFactorySize = 0;
    std::uint16_t mSensorWriteUserStart = 65;
    std::uint16_t mSensorWriteUserSize = 10;
    std::uint16_t mSensorWriteFactoryStart = 86;
    std::uint16_t mSensorWriteFactorySize = 0;
    std::string mEEPROMSaveDir;
    std::uint16_t mEEPROMPacketSize = 32;
    std::uint16_t mEEPROMMaxAddress = 1024;
    std::uint16_t mEEPROMReadAddress = 0;
    std::uint16_t mEVENTReadPacketSize = 32;
    std::uint16_t mEVENTPacketSize = 9;
    std::string mEVENTSaveDir;
    std::string mFLASHFile;
    std::string mFLASHSaveDir;
    std::uint16_t mFLASHMaxAddress = 128;
    std::uint16_t mFALSHPacketSize = 128;
    std::uint16_t mFLASHDownloadRetry = 3;
    std::uint8_t mFLASHRetry = 3;
    std::string mLogSaveDir;
    std::uint16_t mLogInterval = 1;
    std::uint16_t mLogDisplayTime = 120;
    std::uint16_t mLogConnectTime = 800;
    std::uint16_t mCalTime = 180;
    std::uint16_t mCalCheckTime = 5;
    bool mLogEnable = false;
    // ETC/ConfirmOtherUnit: Write Device asks before it writes to a unit
    // other than the one whose values the window shows. A production line
    // that types a new serial number for every unit turns it off (0).
    bool mConfirmOtherUnit = true;
};

struct RSensorType {
    std::string mName;
    std::uint8_t mIndex = 0;
    std::string mUnit;
    std::string mSpec;
    std::uint16_t mCalTime = 0;
    float mMin = 0;
    float mMax = 100;
};

// The value of Environment/ModeEntry that opens the factory layout. Compared
// exactly, letter case included: it is a service password, not a switch.
inline constexpr const char* kFactoryModeEntry = "ZTR_ENG__";

// Everything LoadSettings produces. Fixed for the run, except the save folders
// and the firmware file, which change through the setters below.
struct LoadedSettings {
    std::string programDir;   // ends in "/"
    bool factoryMode = false;
    RDeviceCFG cfg;
    std::vector<RSensorType> sensors;
    // Environment/Port: serial device to use instead of searching for the
    // adapter (Linux has no CP210x registry to ask); empty = search.
    std::string port;
};

// Reads LUMBRA.INI of `programDir` once: mode, sensor table, every setting
// with its default and bounds (in user mode most are fixed), and sets up the
// firmware, event, EEPROM, data-log and configuration folders, creating each
// missing one (a single level; a folder whose parent is missing is left
// alone). Writes back FLASH/DownloadRetry (user mode, when 0) and the save
// folders it had to replace. A missing or unreadable file gives the defaults.
// ReadOnly gives the same values without creating a folder or writing a key:
// for a command that only looks.
enum class SettingsAccess { Write, ReadOnly };
LoadedSettings LoadSettings(const std::string& programDir, SettingsAccess access = SettingsAccess::Write);

class IProfileReader;
// The values a settings text gives, without touching any file or folder:
// what LoadSettings reads before it checks and sets up the folders (the save
// folders as the file names them, DownloadRetry already made 3).
LoadedSettings SettingsFromProfile(const IProfileReader& ini, const std::string& programDir);

// The process-wide settings. Holds a default-constructed LoadedSettings until
// SetCurrentSettings is called at start-up.
const LoadedSettings& CurrentSettings();
void SetCurrentSettings(LoadedSettings settings);

// Remember a save folder or the firmware image in the current settings and
// write it to the settings file. The memory is updated even when the write
// fails; the result says whether the file was written.
bool SetEventSaveDir(const std::string& folder);
bool SetEepromSaveDir(const std::string& folder);
bool SetLogSaveDir(const std::string& folder);
// Also moves the firmware dialog's folder to the image's folder.
bool SetFlashFile(const std::string& path);

// EEPROM/SaveDirectory of the settings file of `programDir`, for a workflow
// that keeps its own copy of the folder (its settings need not be the
// process-wide ones).
bool WriteEepromSaveDir(const std::string& programDir, const std::string& folder);

// Column-0 texts of the EEPROM grid, one per 16-byte row: "0000", "0010", ...
std::vector<std::string> EepromGridStartTexts(const RDeviceCFG& cfg);

// Main window position, section WINDOW. Read without any check against the
// screen, as the window manager corrects impossible positions itself.
struct WindowGeometry {
    int width = 500;
    int height = 750;
    int left = 0;
    int top = 0;
};
WindowGeometry ReadWindowGeometry(const std::string& programDir);
bool WriteWindowGeometry(const std::string& programDir, const WindowGeometry& geometry);

// Last span gas concentration used for a sensor (tenths of its unit), section
// SENSORCAL, key = the sensor's name. Nothing when the key is missing.
std::optional<int> ReadSpanGas(const std::string& programDir, const std::string& sensorName);
bool WriteSpanGas(const std::string& programDir, const std::string& sensorName, int tenths);
