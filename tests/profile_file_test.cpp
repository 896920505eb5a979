// The settings file is shared with people editing it by hand, so these tests
// pin what is read and, above all, that a write leaves every other byte alone.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <fcntl.h>
#include <future>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "ProfileFile.h"

namespace {

std::string ReadBytes(const std::string& path)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        return "<missing>";
    return file.readAll().toStdString();
}

class ProfileFileTest : public ::testing::Test {
protected:
    ProfileFile WithContent(const std::string& bytes, const char* name = "test.ini") const
    {
        const std::string path = mDir.path().toStdString() + "/" + name;
        QFile file(QString::fromStdString(path));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes.data(), static_cast<qint64>(bytes.size()));
        return ProfileFile(path);
    }
    QTemporaryDir mDir;
};

const std::string kSample =
    "; Beamdock settings\n[Environment]\nModeEntry = USER \n\tConnectTime=\t1500ms\nEmpty=\nJustAWord\n"
    ";Hidden=1\nBig=99999999999\n\n[FLASH]\nRetry=4\nretry=9\nPath=a=b\n[flash]\nLate=1\n[Broken\nLeak=1\n"
    "[Vendor]\nExtra=kept\n";

TEST_F(ProfileFileTest, ReadsValuesLikeTheWindowsProfileFunctions)
{
    std::string windows = "\xEF\xBB\xBF";  // the same file as Windows Notepad saves it
    for (const char c : kSample)
        windows += (c == '\n') ? std::string("\r\n") : std::string(1, c);
    const ProfileFile plain = WithContent(kSample, "plain.ini");
    const ProfileFile crlf = WithContent(windows, "crlf.ini");
    struct Case {
        const char* section;
        const char* key;
        const char* text;  // "<none>" = the fallback
        int number;        // fallback 77
    };
    const Case cases[] = {
        {"Environment", "ModeEntry", "USER", 0},      // trimmed
        {"environment", "MODEENTRY", "USER", 0},      // names ignore letter case
        {"Environment", "ConnectTime", "1500ms", 1500},
        {"Environment", "Empty", "", 0},              // present but empty
        {"Environment", "Big", "99999999999", 77},    // digits beyond 32 bits
        {"Environment", "JustAWord", "<none>", 77},   // no "=": not a key
        {"Environment", "Hidden", "<none>", 77},      // comment
        {"FLASH", "Retry", "4", 4},                   // the first duplicate wins
        {"FLASH", "Path", "a=b", 0},
        {"FLASH", "Late", "<none>", 77},              // only the first section of a name counts
        {"Environment", "Leak", "<none>", 77},        // keys under "[Broken" belong nowhere
        {"Vendor", "Extra", "kept", 0},
        {"Nowhere", "Extra", "<none>", 77},
    };
    for (const ProfileFile* ini : {&plain, &crlf}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(ini->Path() + " " + c.section + "/" + c.key);
            EXPECT_EQ(ini->ReadString(c.section, c.key, "<none>"), c.text);
            EXPECT_EQ(ini->ReadInt(c.section, c.key, 77), c.number);
            EXPECT_EQ(ini->HasKey(c.section, c.key), std::string(c.text) != "<none>");
        }
        EXPECT_EQ(ini->SectionLines("flash"), (std::vector<std::string>{"Retry=4", "Path=a=b"}));
        EXPECT_EQ(ini->Keys("Environment"),
                  (std::vector<std::string>{"ModeEntry", "ConnectTime", "Empty", "Big"}));
    }
    EXPECT_EQ(ProfileFile(mDir.path().toStdString() + "/absent.ini").ReadString("A", "B", "d"), "d");
}

// Reading the settings takes a snapshot of the file and reads every key from
// it: it must give what reading the file key by key gives, and keep giving
// it after the file changes.
TEST_F(ProfileFileTest, SnapshotReadsAsTheFileDidWhenItWasTaken)
{
    const ProfileFile ini = WithContent("\xEF\xBB\xBF" + kSample);
    const ProfileText snapshot = ini.Snapshot();
    const std::pair<const char*, const char*> keys[] = {
        {"Environment", "ModeEntry"}, {"environment", "CONNECTTIME"}, {"Environment", "Empty"},
        {"Environment", "Big"},       {"Environment", "JustAWord"},   {"Environment", "Hidden"},
        {"FLASH", "Retry"},           {"FLASH", "Path"},              {"FLASH", "Late"},
        {"Environment", "Leak"},      {"Vendor", "Extra"},            {"Nowhere", "Extra"},
    };
    for (const auto& [section, key] : keys) {
        SCOPED_TRACE(std::string(section) + "/" + key);
        EXPECT_EQ(snapshot.ReadString(section, key, "<none>"), ini.ReadString(section, key, "<none>"));
        EXPECT_EQ(snapshot.ReadInt(section, key, 77), ini.ReadInt(section, key, 77));
        EXPECT_EQ(snapshot.HasKey(section, key), ini.HasKey(section, key));
    }
    EXPECT_EQ(snapshot.ReadString("FLASH", "Retry", ""), "4");
    EXPECT_EQ(snapshot.SectionLines("flash"), (std::vector<std::string>{"Retry=4", "Path=a=b"}));
    EXPECT_EQ(snapshot.Keys("Environment"), ini.Keys("Environment"));

    ASSERT_TRUE(ini.WriteString("FLASH", "Retry", "9"));
    EXPECT_EQ(ini.ReadString("FLASH", "Retry", ""), "9");
    EXPECT_EQ(snapshot.ReadString("FLASH", "Retry", ""), "4");
    EXPECT_EQ(ini.Snapshot().ReadString("FLASH", "Retry", ""), "9");

    // No file, or a folder in its place: no keys, every read its fallback.
    EXPECT_EQ(ProfileFile(mDir.path().toStdString() + "/absent.ini").Snapshot().ReadString("A", "B", "d"), "d");
    ASSERT_TRUE(QDir(mDir.path()).mkdir("folder.ini"));
    const ProfileText folder = ProfileFile(mDir.path().toStdString() + "/folder.ini").Snapshot();
    EXPECT_TRUE(folder.Bytes().empty());
    EXPECT_EQ(folder.ReadInt("A", "K", 5), 5);
    // Too large to hold whole: the head is read, as from the file.
    const ProfileFile big =
        WithContent("[A]\nK=1\n" + std::string(static_cast<std::size_t>(ProfileFile::kMaxBytes), 'x'), "big.ini");
    EXPECT_EQ(big.Snapshot().Bytes().size(), static_cast<std::size_t>(ProfileFile::kMaxBytes));
    EXPECT_EQ(big.Snapshot().ReadString("A", "K", ""), "1");
}

TEST_F(ProfileFileTest, WriteChangesOnlyTheOneLine)
{
    struct Case {
        const char* name;
        std::string before, section, key, value, after;
    };
    const Case cases[] = {
        {"replace keeps comments, blanks and unknown sections",
         "; top\n[Vendor]\nX = 1 ; odd\n\n[FLASH]\n  Retry = 4\nOther=2\n\n[Tail]\nY=2", "FLASH", "Retry", "5",
         "; top\n[Vendor]\nX = 1 ; odd\n\n[FLASH]\n  Retry =5\nOther=2\n\n[Tail]\nY=2"},
        {"names match without case; the file's spelling and CR LF stay", "[FLASH]\r\nDownloadRetry=0\r\n",
         "flash", "downloadretry", "3", "[FLASH]\r\nDownloadRetry=3\r\n"},
        {"only the first of duplicate keys changes", "[A]\nK=1\nk=2\n", "A", "K", "7", "[A]\nK=7\nk=2\n"},
        {"new key goes after the section's last line, before the blank separator",
         "[A]\r\nK=1\r\n; c\r\n\r\n[B]\r\nZ=1\r\n", "A", "New", "x",
         "[A]\r\nK=1\r\n; c\r\nNew=x\r\n\r\n[B]\r\nZ=1\r\n"},
        {"new key in a last section without a final line end", "[A]\nK=1\n[B]", "B", "N", "2",
         "[A]\nK=1\n[B]\nN=2\n"},
        {"new section after a mark and a line without line end", "\xEF\xBB\xBF[A]\r\nK=1", "EVENT",
         "SaveDirectory", "/tmp/EVENT/", "\xEF\xBB\xBF[A]\r\nK=1\r\n[EVENT]\r\nSaveDirectory=/tmp/EVENT/\r\n"},
        {"an empty file gets CR LF", "", "FLASH", "DownloadRetry", "3", "[FLASH]\r\nDownloadRetry=3\r\n"},
        {"a last line without line end keeps lacking it", "[A]\nK=1", "A", "K", "22", "[A]\nK=22"},
        {"a key under a broken header is not the section's", "[A]\n[A\nK=1\n", "A", "K", "",
         "[A]\nK=\n[A\nK=1\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ProfileFile ini = WithContent(c.before);
        ASSERT_TRUE(ini.WriteString(c.section, c.key, c.value));
        EXPECT_EQ(ReadBytes(ini.Path()), c.after);
    }
    const ProfileFile created(mDir.path().toStdString() + "/new.ini");
    ASSERT_TRUE(created.WriteInt("WINDOW", "LEFT", -20));
    EXPECT_EQ(ReadBytes(created.Path()), "[WINDOW]\r\nLEFT=-20\r\n");
}

TEST_F(ProfileFileTest, RefusedAndFailedWritesAreReportedAndChangeNothing)
{
    const std::string content = "[A]\nK=1\n";
    struct Case {
        std::string section, key, value;
    };
    const Case refused[] = {
        {"", "K", "1"}, {"A", "", "1"}, {"A", "K=2", "1"}, {"A]", "K", "1"}, {"A", "K", "1\n[B]"},
        {"A", "K", "1\r"}, {"A", std::string("K\0x", 3), "1"}, {"A", ";K", "1"}, {"A", "[K", "1"}, {" A", "K", "1"},
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(c.section + "/" + c.key + "=" + c.value);
        const ProfileFile ini = WithContent(content);
        EXPECT_FALSE(ini.WriteString(c.section, c.key, c.value));
        EXPECT_EQ(ReadBytes(ini.Path()), content);
    }
    EXPECT_FALSE(ProfileFile(mDir.path().toStdString() + "/no/dir/x.ini").WriteString("A", "K", "1"));
    ASSERT_TRUE(QDir(mDir.path()).mkdir("folder.ini"));
    EXPECT_FALSE(ProfileFile(mDir.path().toStdString() + "/folder.ini").WriteString("A", "K", "1"));
    // Too large to hold whole: refused rather than cut, but its head stays readable.
    const std::string big = content + std::string(static_cast<std::size_t>(ProfileFile::kMaxBytes), 'x');
    const ProfileFile ini = WithContent(big, "big.ini");
    EXPECT_FALSE(ini.WriteString("A", "K", "2"));
    EXPECT_EQ(ReadBytes(ini.Path()).size(), big.size());
    EXPECT_EQ(ini.ReadString("A", "K", ""), "1");
}

// A settings file beyond 1 MiB is read whole (its last key counts), one
// made read-only stays unwritten with its mode, and a FIFO in its place is
// neither waited on nor read; each of these is said once.
TEST_F(ProfileFileTest, LargeReadOnlyAndSpecialFiles)
{
    const ProfileFile large = WithContent(std::string(1536 * 1024, ';') + "\n[ETC]\nLogEnable=1\n", "large.ini");
    EXPECT_EQ(large.Snapshot().ReadInt("ETC", "LogEnable", 0), 1);
    EXPECT_EQ(ProfileFileNotice(large.Path()), std::nullopt);

    const ProfileFile locked = WithContent("[A]\nK=1\n", "locked.ini");
    ASSERT_EQ(::chmod(locked.Path().c_str(), 0444), 0);
    EXPECT_FALSE(locked.WriteString("A", "K", "2"));
    struct stat info {};
    ASSERT_EQ(::stat(locked.Path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0444u);
    EXPECT_EQ(ReadBytes(locked.Path()), "[A]\nK=1\n");
    EXPECT_NE(ProfileFileNotice(locked.Path()).value_or("").find("locked.ini is read-only"), std::string::npos);

    const std::string fifo = mDir.path().toStdString() + "/fifo.ini";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto pending = std::async(std::launch::async, [&] { return ProfileFile(fifo).Snapshot().Bytes(); });
    const bool atOnce = pending.wait_for(std::chrono::seconds(2)) == std::future_status::ready;
    if (!atOnce)
        ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));  // lets a blocked reader go
    EXPECT_TRUE(atOnce);
    EXPECT_TRUE(pending.get().empty());
    if (atOnce) {
        EXPECT_FALSE(ProfileFile(fifo).WriteString("A", "K", "1"));
    }
    EXPECT_NE(ProfileFileNotice(fifo).value_or("").find("is not a regular file"), std::string::npos);
}

TEST_F(ProfileFileTest, JunkNeverBreaksReadingOrWriting)
{
    std::string junk("\0\xFF\xFE[\x01]=\n", 8);
    for (int i = 0; i < 256; ++i)
        junk += static_cast<char>(i);
    junk += "\n[unterminated section\nkey without equals\n=value without key\n";
    junk += "[Long]\n" + std::string(300000, 'k') + "=" + std::string(300000, 'v') + "\n";
    junk += "[\xC3\x84rger]\n\xC3\xA4=umlaut\n";
    const ProfileFile ini = WithContent(junk);

    EXPECT_EQ(ini.ReadString("unterminated section", "key without equals", "d"), "d");
    EXPECT_EQ(ini.ReadString("Long", std::string(300000, 'K'), "d"), std::string(300000, 'v'));
    EXPECT_EQ(ini.ReadString("\xC3\xA4rger", "\xC3\x84", "d"), "umlaut");  // non-ASCII letter case
    ASSERT_TRUE(ini.WriteString("New", "K", "1"));
    EXPECT_EQ(ReadBytes(ini.Path()), junk + "[New]\nK=1\n");  // LF, like the file's first line
}

}  // namespace
