// Start-up settings: what LUMBRA.INI turns into, which folders appear and
// which keys are written back.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <functional>
#include <string>
#include <vector>

#include "DeviceSettings.h"
#include "ProfileFile.h"
#include "ProgramDirectory.h"
#include "SensorTypes.h"

namespace {

bool IsDir(const std::string& path)
{
    return QDir(QString::fromStdString(path)).exists();
}

// A fresh program directory, optionally with a settings file.
class ProgramDir {
public:
    explicit ProgramDir(const std::string& ini = "", bool withIni = true) : mDir(mTemp.path().toStdString() + "/")
    {
        if (withIni)
            Write(Ini(), ini);
    }
    static void Write(const std::string& path, const std::string& bytes)
    {
        QFile file(QString::fromStdString(path));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes.data(), static_cast<qint64>(bytes.size()));
    }
    const std::string& Path() const { return mDir; }
    std::string Ini() const { return SettingsFilePath(mDir); }
    std::string IniBytes() const
    {
        QFile file(QString::fromStdString(Ini()));
        return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : "<missing>";
    }

private:
    QTemporaryDir mTemp;
    std::string mDir;
};

const std::string kFactory = "[Environment]\nModeEntry=ZTR_ENG__\n";

TEST(LoadSettings, NoSettingsFileGivesUserModeAndCreatesTheFile)
{
    ProgramDir dir("", false);
    const LoadedSettings s = LoadSettings(dir.Path());
    EXPECT_FALSE(s.factoryMode);
    ASSERT_EQ(s.sensors.size(), 3u);
    EXPECT_EQ(s.sensors[0].mName + s.sensors[1].mName + s.sensors[2].mName, "H2SCOO2");
    EXPECT_EQ(s.sensors[2].mIndex, 4);
    const RDeviceCFG& c = s.cfg;
    EXPECT_EQ(std::vector<unsigned>({c.mUnitWriteUserStart, c.mUnitWriteUserSize, c.mSensorWriteUserStart,
                                     c.mSensorWriteUserSize, c.mUnitWriteFactorySize, c.mSensorWriteFactorySize}),
              std::vector<unsigned>({1, 8, 65, 10, 0, 0}));
    EXPECT_EQ(c.mFLASHDownloadRetry, 3);
    EXPECT_EQ(c.mFLASHSaveDir, dir.Path() + "IMG/");
    EXPECT_EQ(c.mEEPROMSaveDir, dir.Path() + "EEPROM/");
    EXPECT_EQ(c.mLogSaveDir, dir.Path() + "DAT/");
    for (const char* folder : {"IMG", "EVENT", "Configure"})
        EXPECT_TRUE(IsDir(dir.Path() + folder)) << folder;
    EXPECT_FALSE(IsDir(dir.Path() + "EEPROM"));  // user mode leaves these alone
    EXPECT_FALSE(IsDir(dir.Path() + "DAT"));
    const std::string written = "[FLASH]\r\nDownloadRetry=3\r\n[EVENT]\r\nSaveDirectory=" + dir.Path() + "EVENT/\r\n";
    EXPECT_EQ(dir.IniBytes(), written);
    LoadSettings(dir.Path());  // a second start finds everything in place
    EXPECT_EQ(dir.IniBytes(), written);
}

TEST(LoadSettings, ModeEntryMustMatchExactly)
{
    const std::pair<const char*, bool> cases[] = {
        {"[Environment]\nModeEntry=ZTR_ENG__\n", true},
        {"[environment]\r\nmodeentry =  ZTR_ENG__ \r\n", true},  // names fold, values are trimmed
        {"[Environment]\nModeEntry=ztr_eng__\n", false},
        {"[Environment]\nModeEntry=ZTR_ENG_\n", false},
        {"[Other]\nModeEntry=ZTR_ENG__\n", false},
    };
    for (const auto& [ini, factory] : cases) {
        SCOPED_TRACE(ini);
        EXPECT_EQ(LoadSettings(ProgramDir(ini).Path()).factoryMode, factory);
    }
}

TEST(LoadSettings, FactoryModeClampsEveryValue)
{
    using Field = std::function<unsigned(const RDeviceCFG&)>;
    const Field connect = [](const RDeviceCFG& c) { return c.mConnectTime; };
    const Field display = [](const RDeviceCFG& c) { return c.mLogDisplayTime; };
    const Field readAddress = [](const RDeviceCFG& c) { return c.mEEPROMReadAddress; };
    const struct {
        const char* lines;  // appended to the Environment section of a factory file
        Field field;
        unsigned expected;
    } cases[] = {
        {"[UNIT]\nPacketSize=500\n", [](const RDeviceCFG& c) { return c.mUnitPacketSize; }, 128},
        {"ConnectTime=abc\n", connect, 500},
        {"ConnectTime=-1\n", connect, 60000},
        {"ConnectTime=70000\n", connect, 4464},
        {"ConnectTime=99999999999\n", connect, 3000},  // does not convert: the default
        {"ConnectTime=\n", connect, 500},
        {"", connect, 3000},
        {"", [](const RDeviceCFG& c) { return c.mUnitWriteUserSize; }, 0},
        {"", [](const RDeviceCFG& c) { return c.mLogConnectTime; }, 1000},
        {"", [](const RDeviceCFG& c) { return c.mFLASHDownloadRetry; }, 1},
        {"[FLASH]\nRetry=300\n", [](const RDeviceCFG& c) { return c.mFLASHRetry; }, 10},
        {"[EEPROM]\nMaxAddress=40000\n", [](const RDeviceCFG& c) { return c.mEEPROMMaxAddress; }, 32768},
        {"[EEPROM]\nReadStartAddress=500\nMaxAddress=100\n", readAddress, 100},  // bound by MaxAddress
        {"[EEPROM]\nMaxAddress=100\nReadStartAddress=50\n", readAddress, 50},
        {"[EEPROM]\nReadStartAddress=2000\n", readAddress, 1024},
        {"[Logging]\nInterval=600\nDisplayTime=100\n", display, 60000},  // bound by Interval x 100
        {"[Logging]\nInterval=700\n", display, 60000},
        {"[Logging]\nInterval=5\n", display, 500},
        {"[Logging]\nInterval=5\nDisplayTime=1000\n", display, 1000},
        {"[Logging]\nDisplayTime=70000\n", display, 4464},
        {"[Calibration]\nCalibrationTime=10\n", [](const RDeviceCFG& c) { return c.mCalTime; }, 30},
        {"[ETC]\nLogEnable=-3\n", [](const RDeviceCFG& c) { return unsigned(c.mLogEnable); }, 1},
        {"[ETC]\nLogEnable=yes\n", [](const RDeviceCFG& c) { return unsigned(c.mLogEnable); }, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines);
        const LoadedSettings s = LoadSettings(ProgramDir(kFactory + c.lines).Path());
        ASSERT_TRUE(s.factoryMode);
        EXPECT_EQ(c.field(s.cfg), c.expected);
    }
}

TEST(LoadSettings, UserModeFixesValuesButReadsDownloadRetry)
{
    const std::pair<const char*, const char*> cases[] = {
        // FLASH section line before -> after; nothing else may change
        {"DownloadRetry=7\n", "DownloadRetry=7\n"},  // 5
        {"", "DownloadRetry=3\n"},
        {"DownloadRetry=0\n", "DownloadRetry=3\n"},
        {"DownloadRetry=abc\n", "DownloadRetry=3\n"},
        {"DownloadRetry=2\n", "DownloadRetry=2\n"},
    };
    const unsigned expected[] = {5, 3, 3, 3, 2};
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].first);
        ProgramDir dir;
        const std::string fixed =
            "[Environment]\nModeEntry=user\nConnectTime=700\nPort= /dev/ttyUSB3 \n[UNIT]\nUnitWriteUserSize=0\n"
            "[Logging]\nConnectTime=1500\n[EVENT]\nSaveDirectory=" + dir.Path() + "\n[FLASH]\n";
        ProgramDir::Write(dir.Ini(), fixed + cases[i].first);
        const LoadedSettings s = LoadSettings(dir.Path());
        EXPECT_EQ(s.cfg.mFLASHDownloadRetry, expected[i]);
        EXPECT_EQ(dir.IniBytes(), fixed + cases[i].second);
        EXPECT_EQ(s.cfg.mConnectTime, 3000);
        EXPECT_EQ(s.cfg.mUnitWriteUserSize, 8);
        EXPECT_EQ(s.cfg.mLogConnectTime, 800);
        EXPECT_EQ(s.cfg.mEVENTSaveDir, dir.Path());  // an existing folder is kept
        EXPECT_EQ(s.port, "/dev/ttyUSB3");
    }
}

TEST(LoadSettings, SensorTable)
{
    const LoadedSettings s =
        LoadSettings(ProgramDir("[SENSOR]\nNH3=8,ppm,N,120,0,50\nCO=2,ppm,C,180,50,20\nnh3=9\n").Path());
    ASSERT_EQ(s.sensors.size(), 2u);  // replaces the built-in table; the second NH3 is never read
    EXPECT_EQ(s.sensors[1].mName, "CO");
    EXPECT_FLOAT_EQ(s.sensors[1].mMax, 300);

    const struct {
        const char* line;
        unsigned code;
        const char* unit;
        const char* letters;
        unsigned calTime;
        float min, max;
    } cases[] = {
        {"NH3=8,ppm,N,120,0,50", 8, "ppm", "SN", 120, 0, 50},
        {"CO=2,ppm,C,180,50,20", 2, "ppm", "SC", 180, 0, 300},  // max - 0.1 <= min
        {"X=", 0, "", "SS", 0, 0, 100},
        {"X=300,ppm,XYZ,70000,1.5,7.25", 44, "ppm", "XY", 4464, 1.5f, 7.25f},  // kept to 8 and 16 bits
        {"X=4,%,O,60,.,25", 4, "%", "SO", 60, 0, 30},  // "." does not convert
        {"X=1,ppm,H,180,0,0.1", 1, "ppm", "SH", 180, 0, 100},
        {"X=1,ppm,H,180,0.2,0.3", 1, "ppm", "SH", 180, 0, 100},  // 0.3 - 0.1 as read, not as stored
        // A span of 3 in the file, none once both are stored in single precision.
        {"X=1,ppm,H,180,1022222222218,1022222222221", 1, "ppm", "SH", 180, 0, 100},
        {"X=1,ppm,H,180,1000000,1000000.5", 1, "ppm", "SH", 180, 1000000, 1000000.5f},
        {"X=1,ppm,H,180,0,1000000000000000000000000000000000000000000000", 1, "ppm", "SH", 180, 0, 100},
        {"X=99999999999,a , b,1,0,10", 0, "a ", "Sb", 1, 0, 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const RSensorType t = ParseSensorEntry(c.line);
        EXPECT_EQ(t.mIndex, c.code);
        EXPECT_EQ(t.mUnit, c.unit);
        EXPECT_EQ(t.mSpec, c.letters);
        EXPECT_EQ(t.mCalTime, c.calTime);
        EXPECT_FLOAT_EQ(t.mMin, c.min);
        EXPECT_FLOAT_EQ(t.mMax, c.max);
    }
    const std::vector<RSensorType> table = BuildSensorTypes({"A=1", "B=2", "C=2", "D=4"});
    for (const auto& [code, index] : {std::pair{1, 0}, {2, 2}, {4, 3}, {9, -1}})
        EXPECT_EQ(FindSensorType(table, static_cast<std::uint8_t>(code)), index) << code;
    EXPECT_EQ(FindSensorType({}, 1), -1);
}

TEST(LoadSettings, SaveFoldersAndFirmwareImage)
{
    {  // factory mode: all save folders set up and remembered
        ProgramDir dir(kFactory);
        LoadSettings(dir.Path());
        const ProfileFile ini(dir.Ini());
        for (const auto& [section, folder] : {std::pair{"EEPROM", "EEPROM/"}, {"Logging", "DAT/"}, {"EVENT", "EVENT/"}}) {
            EXPECT_TRUE(IsDir(dir.Path() + folder)) << folder;
            EXPECT_EQ(ini.ReadString(section, "SaveDirectory", ""), dir.Path() + folder);
        }
        EXPECT_FALSE(ini.HasKey("FLASH", "DownloadRetry"));
    }
    {  // kept when present; a vanished folder gives the default, not a re-created one
        ProgramDir dir;
        QDir().mkdir(QString::fromStdString(dir.Path() + "mine"));
        ProgramDir::Write(dir.Ini(), kFactory + "[EVENT]\nSaveDirectory=" + dir.Path() + "mine/\n[EEPROM]\n"
                                     "SaveDirectory=" + dir.Path() + "gone/\n");
        const LoadedSettings s = LoadSettings(dir.Path());
        EXPECT_EQ(s.cfg.mEVENTSaveDir, dir.Path() + "mine/");
        EXPECT_EQ(s.cfg.mEEPROMSaveDir, dir.Path() + "EEPROM/");
        EXPECT_FALSE(IsDir(dir.Path() + "gone"));
        EXPECT_FALSE(IsDir(dir.Path() + "EVENT"));
    }
    {  // an existing image gives the firmware folder; a missing one is forgotten
        ProgramDir dir;
        QDir().mkdir(QString::fromStdString(dir.Path() + "fw"));
        ProgramDir::Write(dir.Path() + "fw/v13.img", "x");
        ProgramDir::Write(dir.Ini(), "[FLASH]\nImageFile= " + dir.Path() + "fw/v13.img \n");
        LoadedSettings s = LoadSettings(dir.Path());
        EXPECT_EQ(s.cfg.mFLASHFile, dir.Path() + "fw/v13.img");
        EXPECT_EQ(s.cfg.mFLASHSaveDir, dir.Path() + "fw/");
        EXPECT_FALSE(IsDir(dir.Path() + "IMG"));
        ProgramDir::Write(dir.Ini(), "[FLASH]\nImageFile=" + dir.Path() + "fw\n");  // a folder is no image
        s = LoadSettings(dir.Path());
        EXPECT_TRUE(s.cfg.mFLASHFile.empty());
        EXPECT_EQ(s.cfg.mFLASHSaveDir, dir.Path() + "IMG/");
    }
    {  // one level at a time: a missing program directory stays missing
        QTemporaryDir temp;
        const std::string missing = temp.path().toStdString() + "/absent/";
        EXPECT_EQ(LoadSettings(missing).cfg.mEVENTSaveDir, missing + "EVENT/");
        EXPECT_FALSE(IsDir(missing));
    }
}

TEST(Settings, WindowHelpers)
{
    for (const auto& [maxAddress, rows, last] :
         {std::tuple{1024, 64u, "03F0"}, {32768, 2048u, "7FF0"}, {40, 2u, "0010"}, {15, 0u, ""}}) {
        RDeviceCFG cfg;
        cfg.mEEPROMMaxAddress = static_cast<std::uint16_t>(maxAddress);
        const std::vector<std::string> texts = EepromGridStartTexts(cfg);
        ASSERT_EQ(texts.size(), rows) << maxAddress;
        EXPECT_EQ(texts.empty() ? "" : texts.back(), last);
    }

    ProgramDir dir("; keep me\n[SENSORCAL]\nH2S=250\n");
    const WindowGeometry d = ReadWindowGeometry(dir.Path());
    EXPECT_EQ(std::vector<int>({d.width, d.height, d.left, d.top}), std::vector<int>({500, 750, 0, 0}));
    ASSERT_TRUE(WriteWindowGeometry(dir.Path(), {640, 580, -1200, 33}));
    const WindowGeometry g = ReadWindowGeometry(dir.Path());
    EXPECT_EQ(std::vector<int>({g.width, g.height, g.left, g.top}), std::vector<int>({640, 580, -1200, 33}));
    EXPECT_EQ(ReadSpanGas(dir.Path(), "h2s"), 250);
    EXPECT_EQ(ReadSpanGas(dir.Path(), "CO"), std::nullopt);
    ASSERT_TRUE(WriteSpanGas(dir.Path(), "CO", 1000));
    EXPECT_EQ(dir.IniBytes(),
              "; keep me\n[SENSORCAL]\nH2S=250\nCO=1000\n[WINDOW]\nWIDTH=640\nHEIGHT=580\nLEFT=-1200\nTOP=33\n");
}

TEST(Settings, SettersUpdateMemoryAndFile)
{
    ProgramDir dir;
    SetCurrentSettings(LoadSettings(dir.Path()));
    EXPECT_TRUE(SetEventSaveDir("/data/events/"));
    EXPECT_TRUE(SetFlashFile("/data/fw/v14.img"));
    EXPECT_EQ(CurrentSettings().cfg.mEVENTSaveDir, "/data/events/");
    EXPECT_EQ(CurrentSettings().cfg.mFLASHSaveDir, "/data/fw/");
    EXPECT_EQ(dir.IniBytes(), "[FLASH]\r\nDownloadRetry=3\r\nImageFile=/data/fw/v14.img\r\n"
                              "[EVENT]\r\nSaveDirectory=/data/events/\r\n");
    SetCurrentSettings(LoadedSettings{});  // nothing loaded: no file to write to
    EXPECT_FALSE(SetLogSaveDir("/x/"));
    EXPECT_EQ(CurrentSettings().cfg.mLogSaveDir, "/x/");

    for (const auto& [cwd, programDir] : {std::pair{"", "/"}, {"/", "/"}, {"/home/t", "/home/t/"}, {"/home/t/", "/home/t/"}})
        EXPECT_EQ(ProgramDirectory(cwd), programDir) << cwd;
}

}  // namespace
