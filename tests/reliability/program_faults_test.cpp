// The faults of a bench against the real main window (offscreen): a meter that goes quiet or
// is unplugged, a full disk, bad settings, garbled replies, an adapter gone before Start, a
// second LyrLogger on the same port and a kill in the middle of a run.
#include <signal.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>

#include <atomic>
#include <cstdio>
#include <random>

#include "bench_run.h"
#include "scripted_meter.h"
#include "small_disk.h"
#include "ui/main_window_fixture.h"

namespace lyr::test {
namespace {

constexpr int WaitMs = 30000;

// The log file of the window's run.
QString RunLogPath(CLyrSampleDlg& dlg) { return dlg.m_strFilePath; }

int LogLineCount(const QString& path) { return static_cast<int>(ReadLog(path).lines.size()); }

// Settings of an interval run at full speed (interval 0.0), for as long as the test wants.
void WriteIntervalRun(MainWindowTest& test) {
    test.WriteSettings({{"LOG_TYPE", "LogType", "2"},
                        {"LOG_TYPE", "LogInterval", "0"},
                        {"LOG_TYPE", "LogLimit", "1000000"}});
}

// ---- The meter goes silent or hangs up -----------------------------------------------------

enum class MeterLoss { Silent, HangUp };

class MeterLostDuringRun : public MainWindowTest,
                           public ::testing::WithParamInterface<MeterLoss> {};

TEST_P(MeterLostDuringRun, WindowStaysResponsiveThreadIdlesAndStopKeepsEveryCaptureOnce) {
    sim::SimConfig config;
    config.baudRate = 115200;
    ASSERT_TRUE(StartSimulator(config));
    WriteIntervalRun(*this);
    OpenWindow();
    ClickStart();
    ASSERT_TRUE(Running());
    const QString log = RunLogPath(Dlg());
    ASSERT_TRUE(WaitUntil([&] { return LogLineCount(log) >= 10; }, WaitMs));

    if (GetParam() == MeterLoss::Silent)
        m_sim->SetSilent(true);
    else
        m_sim->HangUp();
    QTest::qWait(300);
    const int linesBefore = LogLineCount(log);

    const pthread_t worker = Dlg().m_pMeasThread->NativeHandle();
    const double cpuStart = ThreadCpuSeconds(worker);
    const auto wallStart = Clock::now();
    QTest::qWait(3000);
    const double share =
        (ThreadCpuSeconds(worker) - cpuStart) / (static_cast<double>(MsSince(wallStart)) / 1000.0);
    EXPECT_LT(share, 0.05) << "the measurement thread spins";
    std::printf("  measurement thread %.2f %% of a core with the meter gone\n", share * 100.0);
    EXPECT_EQ(LogLineCount(log), linesBefore);

    ClickStop();
    // The controls are idle at once; the thread's end follows within its time-outs.
    EXPECT_TRUE(Button(IDC_BUTTON_START)->isEnabled());
    EXPECT_TRUE(WaitIdle());
    ExpectIdleControls();
    EXPECT_TRUE(m_box.shown.isEmpty()) << m_box.Texts().join('|').toStdString();

    const LogContent content = ReadLog(log);
    EXPECT_FALSE(content.torn);
    EXPECT_EQ(content.lines.size(), linesBefore);
    EXPECT_TRUE(NumberedOnceInOrder(content.lines));
}

INSTANTIATE_TEST_SUITE_P(Reliability, MeterLostDuringRun,
                         ::testing::Values(MeterLoss::Silent, MeterLoss::HangUp),
                         [](const auto& info) {
                             return std::string(info.param == MeterLoss::Silent ? "Silent"
                                                                                : "HangUp");
                         });

// ---- The disk fills ------------------------------------------------------------------------

TEST_F(MainWindowTest, FullDiskReportsFailedSaveOnceStopsTheRunAndKeepsEarlierLinesWhole) {
    SmallDisk disk;
    if (!disk.mounted) GTEST_SKIP() << "cannot mount a tmpfs: " << disk.error;
    ASSERT_TRUE(disk.error.empty()) << disk.error;
    sim::SimConfig config;
    config.baudRate = 115200;
    ASSERT_TRUE(StartSimulator(config));
    WriteIntervalRun(*this);
    WriteSettings({{"FILE_TYPE", "FileDir", disk.dir.path()},
                   {"SAVE", "SaveDate", "1"},
                   {"SAVE", "SaveTime", "1"}});
    OpenWindow();
    ClickStart();
    ASSERT_TRUE(Running());
    EXPECT_TRUE(WaitIdle(120000));
    QTest::qWait(300);  // readings still queued must not bring a second message
    EXPECT_EQ(m_box.Texts(), QStringList{LoadString(IDS_FAILED_SAVE_DATA)});
    ExpectIdleControls();

    const LogContent content = ReadLog(RunLogPath(Dlg()));
    EXPECT_FALSE(content.torn);
    EXPECT_GT(content.lines.size(), 10);
    static const QRegularExpression layout(
        QStringLiteral("^(\\d+),\\d{4}-\\d\\d-\\d\\d,\\d\\d:\\d\\d:\\d\\d,[0-9.E+-]+,(IN|HI|LO)$"));
    for (qsizetype i = 0; i < content.lines.size(); ++i) {
        const QRegularExpressionMatch m = layout.match(content.lines[i]);
        ASSERT_TRUE(m.hasMatch()) << content.lines[i].toStdString();
        EXPECT_EQ(m.captured(1).toLongLong(), i + 1);
    }
}

// ---- The adapter is unplugged between start-up and Start -----------------------------------

TEST_F(MainWindowTest, AdapterGoneBeforeStartFailsToOpenPortAndWorksAgainWhenPluggedBackIn) {
    sim::SimConfig config;
    config.linkName = QStringLiteral("replug-%1").arg(::getpid());
    ASSERT_TRUE(StartSimulator(config));
    WriteIntervalRun(*this);
    OpenWindow();  // the port is in the list
    m_sim.reset();
    ClickStart();
    EXPECT_EQ(m_box.Texts(), QStringList{LoadString(IDS_FAILED_OPEN_PORT)});
    ExpectIdleControls();

    // Plugged back in under the same name: the next Start runs.
    m_box.shown.clear();
    ASSERT_TRUE(StartSimulator(config));
    ClickStart();
    ASSERT_TRUE(Running());
    const QString log = RunLogPath(Dlg());
    EXPECT_TRUE(WaitUntil([&] { return LogLineCount(log) >= 3; }, WaitMs));
    ClickStop();
    EXPECT_TRUE(WaitIdle());
    EXPECT_TRUE(m_box.shown.isEmpty()) << m_box.Texts().join('|').toStdString();
}

// ---- Garbled replies on display -------------------------------------------------------------

struct DisplayCase {
    const char* name;
    QByteArray reply;
    QString value;  // what the value box shows
    QString judge;
};

const DisplayCase kDisplayCases[] = {
    {"FarLongerThanAnyBuffer", QByteArray(100000, '6') + ",IN\r\n", QString(127, u'6'), "--"},
    {"HighBytesAndNul",
     QByteArray("\xB5"
                "1.5\0E-03,\xC4N\r\n",
                14),
     QString::fromLatin1("\xB5"
                         "1.5E-03"),
     QString::fromLatin1("\xC4N")},
    {"EmptyLine", QByteArray("\r\n"), QString(), "--"},
};

class GarbledDisplay : public MainWindowTest, public ::testing::WithParamInterface<DisplayCase> {};

TEST_P(GarbledDisplay, ShowsWhatFitsAndLogsEveryCapture) {
    const DisplayCase& c = GetParam();
    ScriptedMeter meter;
    meter.SetReadingReply(c.reply);
    ASSERT_TRUE(meter.Start());
    WriteIntervalRun(*this);
    WriteSettings({{"COMM", "ComNo", meter.PortName()}, {"COMM", "BaudRate", "115200"}});
    OpenWindow();
    ClickStart();
    ASSERT_TRUE(Running()) << m_box.Texts().join('|').toStdString();
    const QString log = RunLogPath(Dlg());
    ASSERT_TRUE(WaitUntil([&] { return LogLineCount(log) >= 3; }, WaitMs));
    EXPECT_EQ(Dlg().m_strValue, c.value);
    EXPECT_EQ(Dlg().m_strJudge, c.judge);
    EXPECT_EQ(Dlg().GetDlgItemText(IDC_STATIC_VALUE), c.value);
    ClickStop();
    EXPECT_TRUE(WaitIdle());
    EXPECT_TRUE(m_box.shown.isEmpty()) << m_box.Texts().join('|').toStdString();
    const LogContent content = ReadLog(log);
    EXPECT_FALSE(content.torn);
    ASSERT_FALSE(content.lines.isEmpty());
    EXPECT_EQ(content.lines.first(), "1," + c.value + "," + c.judge);
}

INSTANTIATE_TEST_SUITE_P(Reliability, GarbledDisplay, ::testing::ValuesIn(kDisplayCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Bad settings files --------------------------------------------------------------------

struct Key {
    const char* section;
    const char* key;
    QByteArray value;
};

struct BadSettingsCase {
    const char* name;
    QByteArray before;       // bytes before the first section
    QList<Key> keys;         // replace the defaults below
    QString messageAtStart;  // the one message Start must show; empty: any the system has
};

// Placeholders: %PORT% the simulated meter, %DIR% the test's directory.
QByteArray ComposeSettings(const BadSettingsCase& c) {
    QList<Key> keys = {
        {"COMM", "ComNo", "%PORT%"},       {"COMM", "BaudRate", "9600"},
        {"SAVE", "SaveDataIndex", "1"},    {"SAVE", "SaveJudge", "1"},
        {"FILTER", "FilterEnable", "0"},   {"FILE_TYPE", "CsvEnable", "0"},
        {"FILE_TYPE", "FileDir", "%DIR%"}, {"LOG_TYPE", "LogType", "2"},
        {"LOG_TYPE", "LogInterval", "1"},  {"LOG_TYPE", "LogLimit", "1000000"},
    };
    for (const Key& k : c.keys) {
        bool replaced = false;
        for (Key& d : keys) {
            if (qstrcmp(d.section, k.section) == 0 && qstrcmp(d.key, k.key) == 0) {
                d.value = k.value;
                replaced = true;
            }
        }
        if (!replaced) keys.append(k);
    }
    QByteArray out = c.before;
    for (const char* section : {"COMM", "SAVE", "FILTER", "FILE_TYPE", "LOG_TYPE"}) {
        out += QByteArray("\n[") + section + "]\n";
        for (const Key& k : keys)
            if (qstrcmp(k.section, section) == 0) out += QByteArray(k.key) + '=' + k.value + '\n';
    }
    return out;
}

QByteArray Junk(std::size_t size) {
    std::mt19937 random(4711);
    QByteArray bytes;
    for (std::size_t i = 0; i < size; ++i) bytes.append(static_cast<char>(random() & 0xFF));
    return bytes;
}

QList<BadSettingsCase> BadSettingsCases() {
    const QString openPort = LoadString(IDS_FAILED_OPEN_PORT);
    const QString openFile = LoadString(IDS_FAILED_OPEN_FILE);
    return {
        {"BinaryJunk", Junk(64 * 1024), {}, {}},
        {"MegabyteLines",
         "JUNK=" + QByteArray(1 << 20, 'j') + "\n",
         {{"FILE_TYPE", "FileExtension", QByteArray(1 << 20, 'x')},
          {"SAVE", "SaveDate", QByteArray(1 << 20, '9')}},
         {}},
        {"IntegersBeyond32Bits",
         {},
         {{"COMM", "BaudRate", "99999999999999999999"},
          {"LOG_TYPE", "LogInterval", "-99999999999"},
          {"LOG_TYPE", "LogLimit", "18446744073709551617"},
          {"LOG_TYPE", "LogType", "4294967298"},
          {"FILTER", "FilterTime", "4294967296"},
          {"FILE_TYPE", "Decimal", "-4294967296"},
          {"FILE_TYPE", "Separator", "9223372036854775808"}},
         openPort},
        {"NegativeFilterTime",
         {},
         {{"LOG_TYPE", "LogType", "1"},
          {"FILTER", "FilterEnable", "1"},
          {"FILTER", "FilterTime", "-1000"}},
         {}},
        {"IntervalTwoToThe31", {}, {{"LOG_TYPE", "LogInterval", "2147483648"}}, {}},
        {"BaudRateZero", {}, {{"COMM", "BaudRate", "0"}}, openPort},
        {"FileDirMissing", {}, {{"FILE_TYPE", "FileDir", "%DIR%/no/such/dir"}}, openFile},
        {"FileDirNotWritable", {}, {{"FILE_TYPE", "FileDir", "/proc/self"}}, openFile},
        {"ComNoClimbingOut", {}, {{"COMM", "ComNo", "../../dev/ttyS0"}}, {}},
        {"ComNoThroughDotDot", {}, {{"COMM", "ComNo", "%PORTDIR%/../ports/../../x"}}, {}},
    };
}

class BadSettings : public MainWindowTest, public ::testing::WithParamInterface<BadSettingsCase> {
  protected:
    void WriteBadSettings(const QString& path) {
        QByteArray bytes = ComposeSettings(GetParam());
        bytes.replace("%PORTDIR%", QFile::encodeName(QFileInfo(m_sim->PortName()).path()));
        bytes.replace("%PORT%", QFile::encodeName(m_sim->PortName()));
        bytes.replace("%DIR%", QFile::encodeName(m_dir.path()));
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(f.write(bytes), bytes.size());
    }

    // Every text the system itself can show.
    static QSet<QString> SystemMessages() {
        QSet<QString> texts = {QStringLiteral("Failed to load settings."),
                               QStringLiteral("Failed to save settings.")};
        for (unsigned id = 1; id < 65536; ++id)
            if (const QString t = LoadString(id); !t.isEmpty()) texts.insert(t);
        return texts;
    }
};

TEST_P(BadSettings, WindowStartsShowsOnlyItsOwnMessagesAndEveryRunStops) {
    ASSERT_TRUE(StartSimulator());
    WriteBadSettings(m_settingsPath);
    OpenWindow();
    const QSet<QString> known = SystemMessages();
    for (const QString& text : m_box.Texts())
        EXPECT_TRUE(known.contains(text)) << "at start-up: " << text.left(200).toStdString();

    m_box.shown.clear();
    ClickStart();
    if (!GetParam().messageAtStart.isEmpty()) {
        EXPECT_EQ(m_box.Texts(), QStringList{GetParam().messageAtStart});
    }
    if (Running()) {
        QTest::qWait(500);
        ClickStop();
    }
    EXPECT_TRUE(WaitIdle());
    ExpectIdleControls();
    for (const QString& text : m_box.Texts())
        EXPECT_TRUE(known.contains(text)) << "in the run: " << text.left(200).toStdString();
    EXPECT_LE(Dlg().m_dInterval, 3600.0);
    EXPECT_GE(Dlg().m_dInterval, 0.0);
}

INSTANTIATE_TEST_SUITE_P(Reliability, BadSettings, ::testing::ValuesIn(BadSettingsCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// The program itself, with each bad file beside it where it looks for its settings: it comes
// up and stays up.
TEST_P(BadSettings, RealProgramStartsAndStaysUp) {
    ASSERT_TRUE(StartSimulator());
    const QString bin = m_dir.filePath("bin");
    ASSERT_TRUE(QDir().mkpath(bin));
    const QString program = bin + "/lyrlogger";
    ASSERT_TRUE(QFile::copy(QStringLiteral(LYR_PROGRAM), program));
    WriteBadSettings(bin + "/LyrSample.ini");

    QProcess lyrlogger;
    lyrlogger.setProcessChannelMode(QProcess::MergedChannels);
    lyrlogger.start(program, {});
    ASSERT_TRUE(lyrlogger.waitForStarted(WaitMs));
    // The window is up after its one-second pause; a crash would have ended the process.
    EXPECT_FALSE(lyrlogger.waitForFinished(4000))
        << "exit " << lyrlogger.exitCode() << ": " << lyrlogger.readAll().left(2000).toStdString();
    lyrlogger.kill();
    lyrlogger.waitForFinished(WaitMs);
}

// ---- Other processes -----------------------------------------------------------------------

// The main window in a process of its own (reliability_window_driver), its output collected.
class WindowProcess {
  public:
    explicit WindowProcess(const QString& settings, QStringList arguments = {"--start"}) {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput,
                         [this] { m_output += m_process.readAllStandardOutput(); });
        m_process.start(QStringLiteral(LYR_WINDOW_DRIVER), QStringList{settings} + arguments);
    }
    ~WindowProcess() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(WaitMs);
        }
    }
    [[nodiscard]] QStringList Lines() const {
        return QString::fromUtf8(m_output).split(u'\n', Qt::SkipEmptyParts);
    }
    [[nodiscard]] QStringList Boxes() const {
        QStringList boxes;
        for (const QString& line : Lines())
            if (line.startsWith("BOX ")) boxes.append(line.mid(4));
        return boxes;
    }
    [[nodiscard]] bool Saw(const QString& line) const { return Lines().contains(line); }
    [[nodiscard]] bool Finished() const { return m_process.state() == QProcess::NotRunning; }
    QProcess& Process() { return m_process; }

  private:
    QProcess m_process;
    QByteArray m_output;
};

// The log file a window process made in `dir` (its name comes from the time it started).
QString OnlyLogIn(const QString& dir) {
    const QStringList files = QDir(dir).entryList({"*.csv"}, QDir::Files);
    return files.size() == 1 ? dir + '/' + files.first() : QString();
}

TEST_F(MainWindowTest, SecondProgramOnTheSamePortFailsToOpenItAndTheFirstKeepsLogging) {
    sim::SimConfig config;
    config.baudRate = 115200;
    ASSERT_TRUE(StartSimulator(config));
    WriteIntervalRun(*this);
    OpenWindow();
    ClickStart();
    ASSERT_TRUE(Running());
    const QString log = RunLogPath(Dlg());
    ASSERT_TRUE(WaitUntil([&] { return LogLineCount(log) >= 5; }, WaitMs));

    // The second program: the same settings, its own log folder.
    const QString secondDir = m_dir.filePath("second");
    ASSERT_TRUE(QDir().mkpath(secondDir));
    const QString secondSettings = m_dir.filePath("second.ini");
    ASSERT_TRUE(QFile::copy(m_settingsPath, secondSettings));
    ASSERT_TRUE(CIniProfile(secondSettings).WriteProfileString("FILE_TYPE", "FileDir", secondDir));
    WindowProcess second(secondSettings, {"--start", "--run-ms", "200"});
    ASSERT_TRUE(WaitUntil([&] { return second.Finished(); }, 60000));
    EXPECT_EQ(second.Boxes(), QStringList{LoadString(IDS_FAILED_OPEN_PORT)})
        << second.Lines().join('|').toStdString();
    EXPECT_FALSE(second.Saw("STATE running"));
    EXPECT_EQ(second.Process().exitCode(), 0);
    EXPECT_TRUE(QDir(secondDir).entryList({"*.csv"}, QDir::Files).isEmpty());

    const int atRefusal = LogLineCount(log);
    EXPECT_TRUE(WaitUntil([&] { return LogLineCount(log) >= atRefusal + 10; }, WaitMs));
    EXPECT_TRUE(Running());
    ClickStop();
    EXPECT_TRUE(WaitIdle());
    EXPECT_TRUE(m_box.shown.isEmpty()) << m_box.Texts().join('|').toStdString();
    const LogContent content = ReadLog(log);
    EXPECT_FALSE(content.torn);
    EXPECT_TRUE(NumberedOnceInOrder(content.lines));
}

// SIGKILL at some moment of an interval run: every reading the window acknowledged (it asks the
// meter for the next one only after the line is written) is in the file once, and no line is
// torn. Several moments, each run in a fresh process and file.
TEST_F(MainWindowTest, KilledProgramLeavesEveryAcknowledgedCaptureInTheFileOnce) {
    for (const int killAfterMs : {0, 350, 1200, 2600}) {
        SCOPED_TRACE(killAfterMs);
        sim::SimConfig config;
        config.baudRate = 115200;
        ASSERT_TRUE(StartSimulator(config));
        auto fetches = std::make_shared<std::atomic<int>>(0);
        m_sim->SetReceivedCallback([fetches](const sim::ReceivedLine& line) {
            if (line.line.startsWith(":FETC?")) ++*fetches;
        });
        const QString dir = m_dir.filePath(QStringLiteral("kill-%1").arg(killAfterMs));
        ASSERT_TRUE(QDir().mkpath(dir));
        WriteIntervalRun(*this);
        WriteSettings({{"FILE_TYPE", "FileDir", dir}});

        WindowProcess program(m_settingsPath);
        ASSERT_TRUE(WaitUntil([&] { return LogLineCount(OnlyLogIn(dir)) >= 5; }, 60000))
            << program.Lines().join('|').toStdString();
        QTest::qWait(killAfterMs);
        ::kill(static_cast<pid_t>(program.Process().processId()), SIGKILL);
        ASSERT_TRUE(program.Process().waitForFinished(WaitMs));
        EXPECT_EQ(program.Process().exitStatus(), QProcess::CrashExit);
        QTest::qWait(300);  // the meter reads what the program sent before it died

        const LogContent content = ReadLog(OnlyLogIn(dir));
        const int sent = *fetches;
        EXPECT_FALSE(content.torn);
        EXPECT_TRUE(NumberedOnceInOrder(content.lines));
        // Reading k was asked for by fetch k; fetch k+1 went out only after line k was written.
        EXPECT_GE(content.lines.size(), sent - 1);
        EXPECT_LE(content.lines.size(), sent);
        EXPECT_TRUE(program.Boxes().isEmpty()) << program.Lines().join('|').toStdString();
        m_sim.reset();
    }
}

}  // namespace
}  // namespace lyr::test
