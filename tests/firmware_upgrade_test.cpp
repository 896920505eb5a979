// The firmware upgrade as the user runs it: loading and checking an image
// file, checking the unit, and the download with its packet retries, whole
// attempts, Cancel and the unit's final check; byte for byte against a
// scripted unit, with the status lines, boxes, memo lines, progress and
// buttons the user would have seen.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <functional>
#include <memory>

#include "DetectorScript.h"
#include "DeviceSettings.h"
#include "FirmwareFiles.h"
#include "FirmwareUpgrade.h"
#include "MainWorkflows.h"
#include "ProfileFile.h"
#include "PtyPeer.h"
#include "ScriptedView.h"
#include "SimProcess.h"

namespace {

using script::Script;

const QString kLoading = QStringLiteral("Loading Upgrade File");
const QString kCheck = QStringLiteral("Check Program");
const QString kDownload = QStringLiteral("Download Image");
const QString kNoImage = QStringLiteral("Varnolite Firmware Upgrade ... Select File");

// A factory bench with small images (4 packets of 16 bytes), the packet
// and attempt counts of the defaults.
const QByteArray kSmallImagesIni = "[Environment]\r\nModeEntry=ZTR_ENG__\r\n"
                                   "[FLASH]\r\nPacketSize=16\r\nMaxAddress=4\r\nRetry=3\r\nDownloadRetry=3\r\n";

struct RecordingFirmwareView : IFirmwareView {
    struct Shown {
        QString file;
        QString description;
        bool upgradeEnabled;
    };
    std::vector<Shown> images;
    std::vector<bool> upgradeStates;
    std::vector<bool> cancelStates;
    std::vector<int> maxima;
    std::vector<int> progress;
    std::function<void(int)> onProgress;

    void ShowImage(const QString& file, const QString& description, bool enabled) override
    {
        images.push_back({file, description, enabled});
    }
    void SetUpgradeEnabled(bool enabled) override { upgradeStates.push_back(enabled); }
    void SetCancelEnabled(bool enabled) override { cancelStates.push_back(enabled); }
    void SetProgressMaximum(int maximum) override { maxima.push_back(maximum); }
    void SetProgress(int value) override
    {
        progress.push_back(value);
        if (onProgress)
            onProgress(value);
    }
    void ShowProgressText(const QString& text) override { progressTexts.push_back(text); }
    void ShowUpgradeNote(const QString& text) override { notes.push_back(text); }
    QStringList notes;
    QStringList progressTexts;
};

class Bench {
public:
    explicit Bench(const QByteArray& ini = {}, const QStringList& simArgs = {}) : sim(simArgs)
    {
        if (!ini.isEmpty()) {
            QFile file(programDir.filePath(QStringLiteral("LUMBRA.INI")));
            if (file.open(QIODevice::WriteOnly))
                file.write(ini);
        }
        SetCurrentSettings(LoadSettings(programDir.path().toStdString() + "/"));
        link.SetDefPort(sim.portPath().toStdString());
        main = std::make_unique<TMainWorkflows>(view, link, CurrentSettings());
        main->FormCreate();
        upgrade = std::make_unique<TFirmwareUpgrade>(*main, panels);
        view.ClearRecord();
    }
    ~Bench() { SetCurrentSettings(LoadedSettings{}); }

    QString Image(const ImageRecipe& recipe, const QString& name = QStringLiteral("fw.img"))
    {
        return QString::fromStdString(WriteTestFile(files, name, ImageBytes(recipe)));
    }
    // Loads an image and forgets what the load showed.
    void Load(const ImageRecipe& recipe)
    {
        ASSERT_EQ(upgrade->LoadUpgradeFile(Image(recipe), true), 0);
        panels = RecordingFirmwareView{};
        view.ClearRecord();
    }
    std::string IniKey(const char* section, const char* key) const
    {
        return ProfileFile(CurrentSettings().programDir + "LUMBRA.INI").ReadString(section, key, "");
    }
    QStringList StatusTexts() const
    {
        QStringList texts;
        for (const ShownStatus& s : view.statuses)
            texts << s.text;
        return texts;
    }

    QTemporaryDir programDir;
    QTemporaryDir files;
    SimProcess sim;
    TComZEL link;
    ScriptedView view;
    RecordingFirmwareView panels;
    std::unique_ptr<TMainWorkflows> main;
    std::unique_ptr<TFirmwareUpgrade> upgrade;
};

const ImageRecipe kSmall{.size = 64};

RZELIdenty Unit(std::uint8_t firmware = 13, std::uint8_t hardware = 1)
{
    RZELIdenty id{};
    id.mPID = 2;
    id.mHW = hardware;
    id.mSW = firmware;
    id.mSensor = 1;
    id.mLife = 40000000;
    std::memcpy(id.mSerial, "SH10000123", 10);
    return id;
}

void CheckProgramSteps(Script& s, const RZELIdenty& unit = Unit())
{
    s.Wake();
    s.Identify(unit);
    s.Kill();
}

// How the unit answers one attempt's packets: how often the data frame of
// each packet is refused before it is taken (-1: refused every time).
struct Attempt {
    std::vector<int> naks;          // per packet; missing entries: 0
    QByteArray executeReply = script::kAck;
    int packets = 4;                // packets the tool gets to send
};

void AttemptSteps(Script& s, const QByteArray& image, int packetSize, const Attempt& a)
{
    s.Wake();
    s.Ack(0x10);
    bool failed = false;
    for (int r = 0; r < a.packets && !failed; ++r) {
        const QByteArray row = image.mid(r * packetSize, packetSize);
        const int naks = r < static_cast<int>(a.naks.size()) ? a.naks[r] : 0;
        const int refusals = naks < 0 ? 4 : naks;
        for (int sending = 0; sending < std::min(refusals + 1, 4); ++sending) {
            s.Ack(sending == 0 ? 0x91 : 0x93);
            s.Data(row, sending < refusals ? script::kNak : script::kAck);
        }
        failed = refusals >= 4;
    }
    if (failed) {
        s.Kill();  // a negative answer: the unit still listens
        return;
    }
    if (a.packets == 4) {
        s.Reply(0x11, a.executeReply);
        if (a.executeReply == script::kAck)
            s.Kill();
    }
}

QStringList MemoTexts(const QStringList& trace)
{
    static const QRegularExpression stamp(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d:\\d\\d\\d "));
    QStringList texts;
    for (const QString& line : trace) {
        EXPECT_TRUE(stamp.match(line).hasMatch()) << line.toStdString();
        texts << line.mid(13);
    }
    return texts;
}

TEST(LoadUpgradeFile, ChecksAndPanels)
{
    struct Case {
        const char* name;
        ImageRecipe recipe;
        bool factory;
        bool missing;
        std::uint8_t status;
        QString box;
    };
    const Case cases[] = {
        {"valid", {}, false, false, 0, {}},
        {"one byte short", {.size = 16383}, false, false, 129,
         QStringLiteral("Upgrade data file size different\rCheck Upgrade File")},
        {"one byte long", {.size = 16385}, false, false, 129,
         QStringLiteral("Upgrade data file size different\rCheck Upgrade File")},
        {"CRC off by one", {.crcDelta = 1}, false, false, 130, QStringLiteral("Upgrade data file CRC error\rCheck Upgrade File")},
        {"model 0 in user mode", {.model = 0}, false, false, 131,
         QStringLiteral("Upgrade data file wrong type\rCheck Upgrade File")},
        {"model 0 in factory mode", {.model = 0}, true, false, 0, {}},
        {"missing", {}, false, true, 128, QStringLiteral("Upgrade data file open error\rCheck Upgrade File")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench(c.factory ? QByteArray("[Environment]\r\nModeEntry=ZTR_ENG__\r\n") : QByteArray());
        const QString path = c.missing ? bench.files.filePath(QStringLiteral("none.img")) : bench.Image(c.recipe);
        EXPECT_EQ(bench.upgrade->LoadUpgradeFile(path, false), c.status);

        ASSERT_EQ(bench.view.statuses.size(), 2u);
        EXPECT_EQ(bench.view.statuses[0].text, kLoading + "...");
        EXPECT_EQ(bench.view.statuses[0].background, colours::kWhite);
        ASSERT_EQ(bench.panels.images.size(), 1u);
        const RecordingFirmwareView::Shown& shown = bench.panels.images[0];
        if (c.status == 0) {
            EXPECT_EQ(bench.view.statuses[1].text, kLoading + "... OK");
            EXPECT_TRUE(bench.view.messages.empty());
            EXPECT_EQ(shown.file, path);
            EXPECT_EQ(shown.description, QStringLiteral("Varnolite Firmware Upgrade ... Firmware Version 1.4"));
            EXPECT_TRUE(shown.upgradeEnabled);
            EXPECT_EQ(bench.IniKey("FLASH", "ImageFile"), path.toStdString());
            EXPECT_EQ(CurrentSettings().cfg.mFLASHFile, path.toStdString());
            EXPECT_EQ(CurrentSettings().cfg.mFLASHSaveDir, bench.files.path().toStdString() + "/");
        } else {
            EXPECT_EQ(bench.view.statuses[1].text, kLoading + "... FAIL");
            EXPECT_EQ(bench.view.statuses[1].background, colours::kRed);
            ASSERT_EQ(bench.view.messages.size(), 1u);
            EXPECT_EQ(bench.view.messages[0].caption, kLoading);
            EXPECT_EQ(bench.view.messages[0].text, c.box);
            EXPECT_TRUE(shown.file.isEmpty());
            EXPECT_EQ(shown.description, kNoImage);
            EXPECT_FALSE(shown.upgradeEnabled);
            EXPECT_EQ(bench.IniKey("FLASH", "ImageFile"), "");
        }
    }
}

TEST(LoadUpgradeFile, FolderButtonAndAFailedLoadAfterAGoodOne)
{
    Bench bench;
    bench.view.openFileAnswers = {std::nullopt};
    bench.upgrade->UserFMOpenBtnClick();
    ASSERT_EQ(bench.view.fileRequests.size(), 1u);
    const RFileRequest& request = bench.view.fileRequests[0];
    EXPECT_EQ(request.title, QStringLiteral("Select Firmware Upgrade File"));
    EXPECT_EQ(request.filter, QStringLiteral("Image File|*.img|All files|*"));
    EXPECT_EQ(request.folder, bench.programDir.filePath(QStringLiteral("IMG/")));
    EXPECT_TRUE(bench.view.statuses.empty()) << "a cancelled dialog loads nothing";
    EXPECT_TRUE(bench.panels.images.empty());

    bench.view.openFileAnswers = {bench.Image({})};
    bench.upgrade->UserFMOpenBtnClick();
    EXPECT_TRUE(bench.upgrade->Image().Loaded());
    ImageRecipe bad;
    bad.crcDelta = 1;
    bench.view.openFileAnswers = {bench.Image(bad, QStringLiteral("bad.img"))};
    bench.upgrade->UserFMOpenBtnClick();
    EXPECT_FALSE(bench.upgrade->Image().Loaded()) << "the earlier image is not usable any more";
    ASSERT_EQ(bench.panels.images.size(), 2u);
    EXPECT_FALSE(bench.panels.images[1].upgradeEnabled);
    EXPECT_EQ(bench.view.fileRequests[2].folder, bench.files.path() + QLatin1Char('/'))
        << "the dialog opens where the last good image was";
}

TEST(LoadUpgradeFile, SilentReloadAtStartUp)
{
    QTemporaryDir files;
    ImageRecipe bad;
    bad.crcDelta = 1;
    struct Case {
        const char* name;
        QByteArray file;  // empty: missing
        bool loaded;
    };
    const Case cases[] = {
        {"good", ImageBytes({}), true},
        {"bad CRC", ImageBytes(bad), false},
        {"missing", {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = files.filePath(QString::fromLatin1(c.name) + ".img");
        if (!c.file.isEmpty())
            WriteTestFile(files, QString::fromLatin1(c.name) + ".img", c.file);
        Bench bench("[FLASH]\r\nImageFile=" + path.toLatin1() + "\r\n");
        bench.upgrade->ReloadRememberedImage();
        bench.upgrade->ReloadRememberedImage();
        EXPECT_TRUE(bench.view.statuses.empty());
        EXPECT_TRUE(bench.view.messages.empty());
        EXPECT_EQ(bench.upgrade->Image().Loaded(), c.loaded);
        EXPECT_EQ(bench.panels.images.size(), c.file.isEmpty() ? 0u : 1u) << "loaded once, silently";
        if (!bench.panels.images.empty()) {
            EXPECT_EQ(bench.panels.images[0].upgradeEnabled, c.loaded);
        }
    }
}

// The unit's versions against the image's: too old a unit is refused, an
// image older than the unit needs a Yes.
TEST(CheckProgram, VersionsAndModel)
{
    struct Case {
        const char* name;
        QStringList simArgs;
        ImageRecipe image;
        bool asked;
        std::uint8_t status;
        QString box;
    };
    const QString notUseful = QStringLiteral("This file is not useful to Varnolite unit\rCheck Upgrade File");
    const QString notOld = QStringLiteral("This file is not old version\rCheck Upgrade File");
    const Case cases[] = {
        {"unit firmware below the minimum", {"--fw", "9"}, {}, false, 133, notUseful},
        {"unit hardware below the minimum", {"--hw", "1"}, {.minHardware = 2}, false, 133, notUseful},
        {"image firmware older, declined", {"--fw", "15"}, {}, true, 132, notOld},
        {"image hardware older, declined", {"--hw", "2"}, {}, true, 132, notOld},
        {"another model", {"--model", "3"}, {}, false, 146, QStringLiteral("This is not Varnolite module")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench({}, c.simArgs);
        ASSERT_TRUE(bench.sim.start());
        bench.Load(c.image);
        bench.view.confirmAnswers = {true, false};  // start, then decline the older image
        bench.upgrade->UserFMUpgradeBtnClick();

        EXPECT_EQ(bench.StatusTexts(), (QStringList{kCheck + "...", kCheck + "... FAIL"}));
        ASSERT_EQ(bench.view.confirmations.size(), c.asked ? 2u : 1u);
        EXPECT_EQ(bench.view.confirmations[0].text,
                  QStringLiteral("Upgrade the firmware of the unit in front of the adapter?"));
        if (c.asked) {
            EXPECT_EQ(bench.view.confirmations[1].caption, QStringLiteral("File Version Check"));
            EXPECT_EQ(bench.view.confirmations[1].text, QStringLiteral("This file is not old version\rExecute upgrade?"));
        }
        ASSERT_EQ(bench.view.messages.size(), 1u);
        EXPECT_EQ(bench.view.messages[0].caption, kCheck);
        EXPECT_EQ(bench.view.messages[0].text, c.box);
        EXPECT_EQ(bench.main->LastResult(), std::optional<std::uint8_t>(c.status));
        EXPECT_TRUE(bench.panels.maxima.empty()) << "no download";
        EXPECT_EQ(bench.panels.cancelStates, (std::vector<bool>{false, false}));
        EXPECT_EQ(bench.panels.upgradeStates, (std::vector<bool>{false, true}));
        EXPECT_EQ(bench.view.buttonStates, (std::vector<bool>{false, true}));
        EXPECT_FALSE(bench.upgrade->Running());
        for (const QString& line : bench.sim.recordedLines()) {
            EXPECT_FALSE(line.startsWith(QStringLiteral("RX 10"))) << "no upgrade started";
        }
    }
}

struct DownloadCase {
    const char* name;
    std::vector<Attempt> attempts;
    QStringList statuses;        // after "Check Program..." and "... OK"
    QString box;                 // empty: none
    QStringList memo;
    int resultStatus;
};

TEST(DownloadImage, PacketsRetriesAttemptsAndTheUnitsCheck)
{
    const QString fail = QStringLiteral("Download Image...Fail");
    const QString upgradeMode = QLatin1Char('\r') + kUpgradeModeText;
    const QStringList okMemo{"[SEND] OK 0", "[SEND] OK 1", "[SEND] OK 2", "[SEND] OK 3"};
    const DownloadCase cases[] = {
        {"clean", {Attempt{}}, {kDownload + "...", kDownload + "... OK"}, {}, okMemo, 0},
        {"packet 2 refused once",
         {Attempt{.naks = {0, 0, 1}}},
         {kDownload + "...", kDownload + "... OK"},
         {},
         {"[SEND] OK 0", "[SEND] OK 1", "[SEND] Retry 2", "[SEND] OK 2", "[SEND] OK 3"},
         0},
        {"packet 1 refused three times, taken the fourth",
         {Attempt{.naks = {0, 3}}},
         {kDownload + "...", kDownload + "... OK"},
         {},
         {"[SEND] OK 0", "[SEND] Retry 1", "[SEND] Retry 1", "[SEND] Retry 1", "[SEND] OK 1", "[SEND] OK 2",
          "[SEND] OK 3"},
         0},
        {"packet 1 refused four times in every attempt",
         {Attempt{.naks = {0, -1}, .packets = 2}, Attempt{.naks = {0, -1}, .packets = 2},
          Attempt{.naks = {0, -1}, .packets = 2}},
         {kDownload + "...", fail, kDownload + "...", fail, kDownload + "...", fail, kDownload + "... FAIL"},
         QStringLiteral("Varnolite comunication error - negative response") + upgradeMode,
         {"[SEND] OK 0", "[SEND] Retry 1", "[SEND] Retry 1", "[SEND] Retry 1", "[SEND] OK 0", "[SEND] Retry 1",
          "[SEND] Retry 1", "[SEND] Retry 1", "[SEND] OK 0", "[SEND] Retry 1", "[SEND] Retry 1", "[SEND] Retry 1"},
         176},
        {"second attempt goes through",
         {Attempt{.naks = {0, 0, -1}, .packets = 3}, Attempt{}},
         {kDownload + "...", fail, kDownload + "...", kDownload + "... OK"},
         {},
         QStringList{"[SEND] OK 0", "[SEND] OK 1", "[SEND] Retry 2", "[SEND] Retry 2", "[SEND] Retry 2"} + okMemo,
         0},
        {"unit refuses the image",
         {Attempt{.executeReply = script::WithCrc(Hex("11"))}, Attempt{.executeReply = script::WithCrc(Hex("11"))},
          Attempt{.executeReply = script::WithCrc(Hex("11"))}},
         {kDownload + "...", fail, kDownload + "...", fail, kDownload + "...", fail, kDownload + "... FAIL"},
         QStringLiteral("Program validation failed\rRetry download image") + upgradeMode,
         okMemo + okMemo + okMemo,
         135},
    };
    for (const DownloadCase& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench(kSmallImagesIni);
        PtyPeer peer;
        bench.link.SetDefPort(peer.SlavePath());
        bench.Load(kSmall);
        const QByteArray image = ImageBytes(kSmall);
        Script s;
        CheckProgramSteps(s);
        for (const Attempt& a : c.attempts)
            AttemptSteps(s, image, 16, a);
        peer.Play(s.Steps());
        bench.upgrade->UserFMUpgradeBtnClick();

        // After a successful upgrade the unit is read again (this peer
        // answers no more), after a failed one nothing follows.
        const QByteArray received = script::OneWakeFramePerConnection(peer.Received(s.Expected().size(), 1000));
        EXPECT_EQ(received.left(s.Expected().size()), s.Expected());
        EXPECT_EQ(received.size() > s.Expected().size(), c.resultStatus == 0);
        EXPECT_EQ(bench.StatusTexts(), QStringList({kCheck + "...", kCheck + "... OK"}) + c.statuses);
        for (const ShownStatus& status : bench.view.statuses) {
            if (status.text == fail) {
                EXPECT_EQ(status.background, colours::kRed);
                EXPECT_EQ(status.font, colours::kWhite);
            }
        }
        if (c.box.isEmpty()) {
            EXPECT_TRUE(bench.view.messages.empty());
        } else {
            ASSERT_EQ(bench.view.messages.size(), 1u);
            EXPECT_EQ(bench.view.messages[0].caption, kDownload);
            EXPECT_EQ(bench.view.messages[0].text, c.box);
        }
        EXPECT_EQ(MemoTexts(bench.view.trace), c.memo) << "memo lines come whether or not the trace is on";
        EXPECT_EQ(bench.main->LastResult(), std::optional<std::uint8_t>(c.resultStatus));
        EXPECT_EQ(bench.panels.maxima, std::vector<int>{4});
        EXPECT_EQ(bench.panels.cancelStates, (std::vector<bool>{false, true, false}));
        EXPECT_EQ(bench.panels.upgradeStates, (std::vector<bool>{false, true}));
        // Every attempt starts its bars from 0; a complete one ends at the maximum.
        const int zeros = static_cast<int>(std::count(bench.panels.progress.begin(), bench.panels.progress.end(), 0));
        EXPECT_EQ(zeros, static_cast<int>(c.attempts.size()));
        if (c.resultStatus == 0 || c.resultStatus == 135) {
            EXPECT_EQ(bench.panels.progress.back(), 4);
        }
        EXPECT_TRUE(bench.upgrade->Image().Loaded()) << "kept for the next unit";
        // What the user reads besides the bars: the versions first, every
        // packet sent again, and the share with the time left after each packet.
        ASSERT_FALSE(bench.panels.notes.isEmpty());
        EXPECT_EQ(bench.panels.notes[0], QStringLiteral("unit 1.3 \u2192 image 1.4"));
        QStringList retries;
        for (const QString& line : c.memo)
            if (line.startsWith(QStringLiteral("[SEND] Retry ")))
                retries << QStringLiteral("retrying packet %1").arg(line.mid(13).toInt() + 1);
        EXPECT_EQ(bench.panels.notes.mid(1), retries);
        static const QRegularExpression share(QStringLiteral("^(25|50|75|100)%, \\d+:\\d\\d left$"));
        for (const QString& text : bench.panels.progressTexts)
            EXPECT_TRUE(share.match(text).hasMatch()) << text.toStdString();
        if (c.resultStatus == 0) {
            EXPECT_EQ(bench.panels.progressTexts.back(), QStringLiteral("100%, 0:00 left"));
        }
    }
}

// Cancel is seen after the packet being sent: one more packet at most, no
// further attempt, no "...Fail" line.
TEST(DownloadImage, CancelEndsTheAttemptAfterOneMorePacket)
{
    Bench bench(kSmallImagesIni);
    PtyPeer peer;
    bench.link.SetDefPort(peer.SlavePath());
    bench.Load(kSmall);
    Script s;
    CheckProgramSteps(s);
    AttemptSteps(s, ImageBytes(kSmall), 16, Attempt{.packets = 3});
    peer.Play(s.Steps());
    bench.panels.onProgress = [&](int value) {
        if (value == 2)  // packets 0 and 1 are through
            bench.upgrade->UserFMCancelBtnClick();
    };
    bench.upgrade->UserFMUpgradeBtnClick();

    const QByteArray sent = script::OneWakeFramePerConnection(peer.Received(s.Expected().size() + 3, 500));
    EXPECT_EQ(sent, s.Expected()) << "packet 2 still goes, then neither the unit's check nor an end-of-connection";
    EXPECT_EQ(bench.StatusTexts(),
              (QStringList{kCheck + "...", kCheck + "... OK", kDownload + "...", kDownload + "... USER STOP"}));
    ASSERT_EQ(bench.view.messages.size(), 1u);
    EXPECT_EQ(bench.view.messages[0].text, QStringLiteral("User Stop...\r") + kUpgradeModeText)
        << "the unit waits in upgrade mode";
    EXPECT_EQ(bench.panels.progress, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(bench.main->LastResult(), std::optional<std::uint8_t>(134));
    EXPECT_FALSE(bench.upgrade->Running());
}

TEST(DownloadImage, HibernateAnswerNoImageAndNoPort)
{
    {
        Bench bench;  // no image: the button is off, and a script asking anyway gets nothing
        bench.upgrade->UserFMUpgradeBtnClick();
        EXPECT_TRUE(bench.view.statuses.empty());
        EXPECT_TRUE(bench.panels.upgradeStates.empty());
    }
    {
        Bench bench;  // the simulator is not started: its port does not exist
        bench.Load({});
        bench.upgrade->UserFMUpgradeBtnClick();
        EXPECT_EQ(bench.StatusTexts(), (QStringList{kCheck + "...", kCheck + "... Beamdock Connection ERROR"}));
        ASSERT_EQ(bench.view.messages.size(), 1u) << "the port's own reason, once";
        EXPECT_EQ(bench.panels.upgradeStates, (std::vector<bool>{false, true}));
        EXPECT_EQ(bench.view.buttonStates, (std::vector<bool>{false, true}));
    }
    {
        // A factory bench lets the unit allow hibernation and confirms one.
        Bench bench("[Environment]\r\nModeEntry=ZTR_ENG__\r\n[UNIT]\r\nUnitWriteUserSize=8\r\n"
                    "UnitWriteFactoryStart=16\r\nUnitWriteFactorySize=20\r\n",
                    {"--fw", "9"});
        ASSERT_TRUE(bench.sim.start());
        bench.Load({});
        bench.main->UserReadDeviceBtnClick();
        bench.view.form.factory.hibernateItem = 1;
        bench.main->UserWriteDeviceBtnClick();
        bench.view.yesNoAnswers = {true};
        bench.main->UserOptHibernateBtnClick();
        ASSERT_TRUE(bench.main->HibernateConfirmed());
        bench.upgrade->UserFMOpenBtnClick();  // the folder button is no operation on the unit
        EXPECT_TRUE(bench.main->HibernateConfirmed());
        bench.upgrade->UserFMUpgradeBtnClick();  // refused: the unit's firmware is below the minimum
        EXPECT_FALSE(bench.main->HibernateConfirmed());
    }
}

}  // namespace
