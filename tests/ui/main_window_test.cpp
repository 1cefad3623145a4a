#include <QElapsedTimer>
#include <QFileDialog>
#include <QTimer>
#include <QFileInfo>
#include <QMenuBar>
#include <QRegularExpression>

#include "link/meter_comm.h"
#include "main_window_fixture.h"
#include "record/calc/calc_server.h"
#include "record/calc/dispatch.h"
#include "record/profile.h"
#include "record/text_log.h"

namespace lyr::test {
namespace {

class MainWindow : public MainWindowTest {
  public:
    void UseLogFile(const QString& path) {
        SetEditText(IDC_EDIT_FILE_PATH, path);
        m_logPath = path;
    }
    // A run of the Capture-button mode to the log file, waiting for the first reading.
    void StartCaptureRun() {
        UseLogFile(m_logPath);
        ClickStart();
        ASSERT_TRUE(Running());
        ASSERT_TRUE(
            WaitUntil([this] { return Dlg().m_strValue != QStringLiteral("-----------"); }));
    }
};

TEST_F(MainWindow, StartsWithoutSettingsFileOnDefaultsAndStringTableCaptions) {
    ASSERT_FALSE(QFile::exists(m_settingsPath));
    QElapsedTimer timer;
    timer.start();
    OpenWindow();
    EXPECT_GE(timer.elapsed(), 1000);  // the pause before the first exchange

    EXPECT_TRUE(Dlg().GetRadio(IDC_RADIO_SAVE_EXCEL)->isChecked());
    EXPECT_FALSE(Dlg().GetRadio(IDC_RADIO_SAVE_FILE)->isChecked());
    EXPECT_TRUE(Dlg().GetRadio(IDC_RADIO_CAPTURE_ENTER)->isChecked());
    EXPECT_EQ(Edit(IDC_EDIT_INTERVAL)->text(), "0");
    EXPECT_EQ(Edit(IDC_EDIT_TIMES)->text(), "1");
    const QString path = Edit(IDC_EDIT_FILE_PATH)->text();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^.+/\\d{14}\\.csv$")).match(path).hasMatch())
        << path.toStdString();
    EXPECT_EQ(GetPathDirectory(path), Dlg().m_settings.FileDir);

    const struct {
        int control;
        const char* text;
    } captions[] = {
        {IDC_GROUP_SAVE_FILE, "Save File"},
        {IDC_RADIO_SAVE_FILE, "Save to File"},
        {IDC_RADIO_SAVE_EXCEL, "Save to Excel"},
        {IDC_BUTTON_BROWSE, "Browse"},
        {IDC_GROUP_CAPTURE_METHOD, "Capture Method"},
        {IDC_RADIO_CAPTURE_ENTER, "With Capture button or ENTER key"},
        {IDC_RADIO_CAPTURE_TRIGGER, "With EXT Trigger"},
        {IDC_RADIO_CAPTURE_INTERVAL, "At Intervals"},
        {IDC_STATIC_SEC, "sec"},
        {IDC_STATIC_TIMES, "Times"},
        {IDC_BUTTON_MONITOR, "Monitor"},
        {IDC_BUTTON_START, "Start"},
        {IDC_BUTTON_CAPTURE, "Capture"},
        {IDC_BUTTON_STOP, "Stop"},
        {IDC_GROUP_VALUE, "Measurement Value"},
        {IDC_GROUP_JUDGE, "Judge"},
        {IDC_STATIC_SERIAL, "Serial No.:  --------"},
        {IDC_STATIC_VALUE, "-----------"},
        {IDC_STATIC_JUDGE, "---"},
    };
    for (const auto& c : captions)
        EXPECT_EQ(Dlg().GetDlgItemText(c.control), QString::fromUtf8(c.text)) << c.control;
    EXPECT_EQ(Dlg().windowTitle(), "LyrLogger");
    QStringList menu;
    for (QAction* a : Dlg().GetMenu()->actions()) menu << a->text();
    EXPECT_EQ(menu, QStringList({"Capture Settings", "Communication Settings", "Help"}));
    EXPECT_FALSE(Button(IDC_BUTTON_MONITOR)->isVisible());
    ExpectIdleControls();
    EXPECT_TRUE(m_box.shown.isEmpty());
}

TEST_F(MainWindow, CaptureButtonRunWritesOneNumberedLinePerCaptureByClickAndEnter) {
    ASSERT_TRUE(StartSimulator());
    WriteSettings();
    OpenWindow();
    StartCaptureRun();
    EXPECT_EQ(Dlg().GetDlgItemText(IDC_STATIC_SERIAL), "Serial No.: A1234567");
    EXPECT_EQ(ValueCaption(), "Measurement Value No.1");
    QPushButton* capture = Button(IDC_BUTTON_CAPTURE);
    EXPECT_TRUE(capture->isEnabled());
    EXPECT_TRUE(capture->hasFocus());
    EXPECT_FALSE(Button(IDC_BUTTON_START)->isEnabled());
    EXPECT_FALSE(Dlg().FindMenuItem(ID_MENU_COMM_TEST)->isEnabled());

    ClickCapture();
    ASSERT_TRUE(WaitUntil([&] { return capture->isEnabled(); }));
    ASSERT_TRUE(WaitUntil([&] { return ValueCaption() == "Measurement Value No.2"; }));

    // TAB keeps the focus on Capture, so ENTER captures like a click.
    QTest::keyClick(capture, Qt::Key_Tab);
    EXPECT_TRUE(capture->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    ASSERT_TRUE(WaitUntil([&] { return ValueCaption() == "Measurement Value No.3"; }));
    ASSERT_TRUE(WaitUntil([&] { return capture->isEnabled() && capture->hasFocus(); }));

    // Start during the run, and ESC, do nothing; closing is refused with its message.
    ClickStart();
    QTest::keyClick(capture, Qt::Key_Escape);
    EXPECT_TRUE(Dlg().isVisible());
    Dlg().close();
    EXPECT_TRUE(Dlg().isVisible());
    EXPECT_EQ(m_box.Texts(), QStringList{"Not available during measurement"});
    EXPECT_TRUE(Running());

    ClickStop();
    ASSERT_TRUE(WaitIdle());
    ExpectIdleControls();
    const QStringList lines = LogLines();
    ASSERT_EQ(lines.size(), 2) << lines.join('|').toStdString();
    const QRegularExpression line(QStringLiteral("^(\\d+),\\d\\.\\d{4}E-0\\d,(IN|HI|LO)$"));
    for (int i = 0; i < lines.size(); ++i) {
        const auto m = line.match(lines[i]);
        ASSERT_TRUE(m.hasMatch()) << lines[i].toStdString();
        EXPECT_EQ(m.captured(1).toInt(), i + 1);
    }
    // The last reading stays on display after the run; the window now closes.
    EXPECT_NE(Dlg().m_strValue, "-----------");
    Dlg().close();
    EXPECT_FALSE(Dlg().isVisible());
}

TEST_F(MainWindow, IntervalRunOfThreeTimesNumbersReadingsAndEndsByItself) {
    ASSERT_TRUE(StartSimulator());
    WriteSettings({{"LOG_TYPE", "LogType", "2"},
                   {"LOG_TYPE", "LogInterval", "1"},
                   {"LOG_TYPE", "LogLimit", "3"}});
    OpenWindow();
    EXPECT_EQ(Edit(IDC_EDIT_INTERVAL)->text(), "0.1");
    UseLogFile(m_logPath);
    QStringList captions;
    ClickStart();
    ASSERT_TRUE(Running());
    EXPECT_FALSE(Button(IDC_BUTTON_CAPTURE)->isEnabled());  // not a Capture-button run
    ASSERT_TRUE(WaitUntil([&] {
        if (!captions.contains(ValueCaption())) captions << ValueCaption();
        return !Running();
    }));
    EXPECT_TRUE(captions.contains("Measurement Value No.3"));
    EXPECT_EQ(ValueCaption(), "Measurement Value No.3");
    const QStringList lines = LogLines();
    ASSERT_EQ(lines.size(), 3);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(lines[i].startsWith(QString::number(i + 1) + ","));
    ExpectIdleControls();
    EXPECT_TRUE(m_box.shown.isEmpty());
}

TEST_F(MainWindow, ExternalTriggerRunsCaptureOnTheMetersTrigger) {
    for (const char* source : {"IMM", "EXT"}) {
        SCOPED_TRACE(source);
        sim::SimConfig config;
        config.triggerSource = QString::fromLatin1(source);
        ASSERT_TRUE(StartSimulator(config));
        WriteSettings({{"LOG_TYPE", "LogType", "1"}});
        m_logPath = m_dir.filePath(QStringLiteral("trigger-%1.csv").arg(source));
        OpenWindow();
        UseLogFile(m_logPath);
        ClickStart();
        ASSERT_TRUE(Running());
        for (int n = 1; n <= 2; ++n) {
            // A trigger before the thread is listening is simply missed: trigger until it counts.
            ASSERT_TRUE(WaitUntil([&] {
                m_sim->Trigger();
                QTest::qWait(150);
                return LogLines().size() >= n;
            })) << n;
        }
        ClickStop();
        ASSERT_TRUE(WaitIdle());
        const QStringList lines = LogLines();
        ASSERT_GE(lines.size(), 2);
        EXPECT_TRUE(lines[0].startsWith("1,"));
        EXPECT_TRUE(lines[1].startsWith("2,"));
        ExpectIdleControls();
        EXPECT_TRUE(m_box.shown.isEmpty());
        m_dlg->DestroyWindow();
        m_dlg.reset();
        m_sim.reset();
    }
}

// A spreadsheet link that finds no office.
class NoOffice final : public IAutomationServer {
  public:
    bool CLSIDFromProgID(const QString&, CLSID&) override { return false; }
    std::shared_ptr<IDispatch> GetActiveObject(const CLSID&) override { return {}; }
    std::shared_ptr<IDispatch> CreateDispatch(const QString&) override { return {}; }
    std::shared_ptr<IDispatch> CreateInstalledDispatch(const QString&) override { return {}; }
};

// Installs itself as the automation server for its lifetime.
struct NoOfficeInstalled {
    NoOfficeInstalled() { SetAutomationServer(&server); }
    ~NoOfficeInstalled() { SetAutomationServer(nullptr); }
    NoOffice server;
};

TEST_F(MainWindow, FailedStartsShowTheirMessageOnceAndLeaveTheControlsIdle) {
    NoOfficeInstalled noOffice;
    ASSERT_TRUE(StartSimulator());
    const struct Case {
        const char* name;
        std::function<void(MainWindow&)> prepare;
        const char* message;
    } cases[] = {
        {"port missing",
         [](MainWindow& t) {
             t.WriteSettings({{"COMM", "ComNo", t.m_dir.filePath("gone")}});
         },
         "Failed to open COM port."},
        {"silent meter",
         [](MainWindow& t) {
             t.m_sim->SetSilent(true);
             t.WriteSettings();
         },
         "No response."},
        {"folder missing",
         [](MainWindow& t) {
             t.m_sim->SetSilent(false);
             t.WriteSettings();
             t.m_logPath = t.m_dir.filePath("missing/run.csv");
         },
         "Failed to open file."},
        {"file locked",
         [](MainWindow& t) {
             t.WriteSettings();
             t.m_logPath = t.m_dir.filePath("locked.csv");
         },
         "Failed to open file."},
        {"no office",
         [](MainWindow& t) {
             t.WriteSettings({{"FILE_TYPE", "CsvEnable", "1"}});
         },
         "Failed to open Excel."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.prepare(*this);
        CStdioFile holder;  // another holder of the log file
        if (QString(c.name) == "file locked") {
            ASSERT_TRUE(holder.Open(m_logPath));
        }
        OpenWindow();
        // A port that is not present at start-up is replaced by another one the discovery
        // finds, so this one vanishes after it (as an unplugged adapter does).
        if (QString(c.name) == "port missing") UseMissingPort();
        if (Dlg().m_nSaveTarget == 0) UseLogFile(m_logPath);
        m_box.shown.clear();
        ClickStart();
        ASSERT_TRUE(WaitIdle());
        EXPECT_EQ(m_box.Texts(), QStringList{QString::fromUtf8(c.message)});
        ExpectIdleControls();
        EXPECT_EQ(Dlg().m_strValue, "-----------");
        EXPECT_EQ(ValueCaption(), "Measurement Value");
        m_dlg->DestroyWindow();
        m_dlg.reset();
    }
}

TEST_F(MainWindow, WriteFailureMidRunIsReportedOnceAndLaterReadingsAreDropped) {
    ASSERT_TRUE(StartSimulator());
    WriteSettings({{"LOG_TYPE", "LogType", "2"},
                   {"LOG_TYPE", "LogInterval", "0"},
                   {"LOG_TYPE", "LogLimit", "50"}});
    OpenWindow();
    // /dev/full opens for appending and refuses every write.
    UseLogFile(QStringLiteral("/dev/full"));
    ClickStart();
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(m_box.Texts(), QStringList{"Failed to save data."});
    ExpectIdleControls();
    const QString shown = Dlg().m_strValue;
    QTest::qWait(300);  // readings still queued are neither shown nor written
    EXPECT_EQ(Dlg().m_strValue, shown);
    EXPECT_EQ(m_box.shown.size(), 1);
}

TEST_F(MainWindow, StartCorrectsIntervalAndTimesAndShowsThemAtOnce) {
    WriteSettings();
    OpenWindow();
    UseMissingPort();  // every start fails quickly
    const struct {
        const char* interval;
        const char* times;
        const char* intervalShown;
        const char* timesShown;
    } cases[] = {
        {"-1", "0", "0", "1"},
        {"5000", "3", "3600", "3"},
        {"1.27", "1", "1.2", "1"},
        {"0.05", "7", "0", "7"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.interval);
        SetEditText(IDC_EDIT_INTERVAL, QString::fromUtf8(c.interval));
        SetEditText(IDC_EDIT_TIMES, QString::fromUtf8(c.times));
        ClickStart();
        EXPECT_EQ(Edit(IDC_EDIT_INTERVAL)->text(), c.intervalShown);
        EXPECT_EQ(Edit(IDC_EDIT_TIMES)->text(), c.timesShown);
    }
    // Text that does not parse brings the prompt and leaves the previous value.
    m_box.shown.clear();
    SetEditText(IDC_EDIT_INTERVAL, "abc");
    ClickStart();
    EXPECT_EQ(m_box.Texts().value(0), "Please enter a number.");
    EXPECT_EQ(Dlg().m_dInterval, 0.0);
    m_box.shown.clear();
    SetEditText(IDC_EDIT_INTERVAL, "1");
    SetEditText(IDC_EDIT_TIMES, "-2");
    ClickStart();
    EXPECT_EQ(m_box.Texts().value(0), "Please enter a positive integer.");
    EXPECT_EQ(Dlg().m_nTimes, 7u);
    EXPECT_EQ(Dlg().m_dInterval, 1.0);

    // Stop and Capture while idle do nothing.
    m_box.shown.clear();
    ClickStop();
    Dlg().OnBnClickedCapture();
    EXPECT_TRUE(m_box.shown.isEmpty());
    ExpectIdleControls();
}

TEST_F(MainWindow, TabMovesTheFocusOutsideCaptureButtonRunsAndEscNeverCloses) {
    WriteSettings();
    OpenWindow();
    QLineEdit* interval = Edit(IDC_EDIT_INTERVAL);
    interval->setFocus();
    QTest::keyClick(interval, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), Edit(IDC_EDIT_TIMES));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_TRUE(Dlg().isVisible());
    EXPECT_EQ(Dlg().ModalResult(), -1);
}

TEST_F(MainWindow, ShowsValueAndJudgementWithTheJudgementColour) {
    ASSERT_TRUE(StartSimulator());
    WriteSettings();
    OpenWindow();
    StartCaptureRun();
    // The meter falls silent: from now on the readings are ours.
    m_sim->SetSilent(true);
    QTest::qWait(200);
    const QColor white(255, 255, 255), red(255, 0, 0), green(0, 255, 0);
    const struct {
        const char* text;
        const char* value;
        const char* judge;
        QColor color;
    } cases[] = {
        {"1.2345E-03,IN", "1.2345E-03", "IN", green},
        {"no comma", "no comma", "--", white},
        {"-----------,HI", "-----------", "HI", red},
        {"12.5,LO", "12.5", "LO", red},
        {"12.5,LO,extra", "12.5", "LO,extra", white},
        {"1.0,in", "1.0", "in", white},
        {"1.0,IN ", "1.0", "IN ", white},
        {"", "", "--", white},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        auto payload = std::make_shared<ReadingPayload>();
        CopyText(payload->ReadingText, QString::fromUtf8(c.text));
        payload->RunId = Dlg().m_pMeasThread->RunId;
        Dlg().Post(WM_MEAS_READING, payload->TextParam(), payload->RecordParam(), payload);
        QCoreApplication::sendPostedEvents(&Dlg());
        EXPECT_EQ(Dlg().GetDlgItemText(IDC_STATIC_VALUE), c.value);
        EXPECT_EQ(Dlg().GetDlgItemText(IDC_STATIC_JUDGE), c.judge);
        QLabel* judge = Dlg().GetStatic(IDC_STATIC_JUDGE);
        EXPECT_TRUE(judge->autoFillBackground());
        EXPECT_EQ(judge->palette().color(QPalette::Window), c.color);
    }
    // A reading of another run is dropped unread.
    auto stale = std::make_shared<ReadingPayload>();
    CopyText(stale->ReadingText, QStringLiteral("9.9,IN"));
    stale->RunId = Dlg().m_pMeasThread->RunId + 1000;
    Dlg().Post(WM_MEAS_READING, stale->TextParam(), stale->RecordParam(), stale);
    QCoreApplication::sendPostedEvents(&Dlg());
    EXPECT_EQ(Dlg().m_strValue, "");
    ClickStop();
    ASSERT_TRUE(WaitIdle());
}

TEST_F(MainWindow, BrowseStartsFromThePathAndItsOkRefreshesEveryControlFromTheMembers) {
    WriteSettings();
    OpenWindow();
    const QString start = m_dir.filePath("run.csv");
    Dlg().m_strFilePath = start;
    Dlg().UpdateData(false);
    SetEditText(IDC_EDIT_INTERVAL, "2.5");  // typed, not yet read by the window
    const QString chosen = m_dir.filePath("chosen.csv");
    QString shownDirectory, shownFile;
    QTimer::singleShot(200, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        shownDirectory = dialog->directory().absolutePath();
        shownFile = dialog->selectedFiles().value(0);
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        name->setText(QFileInfo(chosen).fileName());
        QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
    });
    QTest::mouseClick(Button(IDC_BUTTON_BROWSE), Qt::LeftButton);
    EXPECT_EQ(shownDirectory, m_dir.path());
    EXPECT_EQ(shownFile, start);
    EXPECT_EQ(Edit(IDC_EDIT_FILE_PATH)->text(), chosen);
    EXPECT_EQ(Edit(IDC_EDIT_INTERVAL)->text(), "0");
}

TEST_F(MainWindow, ExitSavesTheSettingsWithTheTypedIntervalAndTheLinksPort) {
    ASSERT_TRUE(StartSimulator());
    WriteSettings();
    OpenWindow();
    SetEditText(IDC_EDIT_INTERVAL, "2.35");
    SetEditText(IDC_EDIT_TIMES, "4");
    ClickRadio(IDC_RADIO_CAPTURE_INTERVAL);
    Dlg().close();
    EXPECT_FALSE(Dlg().isVisible());
    m_dlg->DestroyWindow();
    m_dlg.reset();
    const CIniProfile ini(m_settingsPath);
    EXPECT_EQ(ini.GetProfileInt("LOG_TYPE", "LogInterval", -1), 23);
    EXPECT_EQ(ini.GetProfileInt("LOG_TYPE", "LogLimit", -1), 4);
    EXPECT_EQ(ini.GetProfileInt("LOG_TYPE", "LogType", -1), 2);
    EXPECT_EQ(ini.GetProfileInt("LOG_TYPE", "GetCompRes", -1), 1);
    EXPECT_EQ(ini.GetProfileInt("FILE_TYPE", "CsvEnable", -1), 0);
    EXPECT_EQ(ini.GetProfileString("FILE_TYPE", "FileDir", ""), m_dir.path());
    EXPECT_EQ(ini.GetProfileString("COMM", "ComNo", ""), TheMeterComm().SelectedPort);
    EXPECT_EQ(ini.GetProfileString("COMM", "ComNo", ""), m_sim->PortName());
    EXPECT_EQ(ini.GetProfileInt("COMM", "BaudRate", -1), 9600);
}

TEST_F(MainWindow, ExitKeepsTheConfiguredPortWhenNoPortIsPresent) {
    WriteSettings({{"COMM", "ComNo", "ttyUSB7"}});
    OpenWindow();
    if (!TheMeterComm().PortNames.isEmpty()) GTEST_SKIP() << "serial ports present";
    m_dlg->DestroyWindow();
    m_dlg.reset();
    EXPECT_EQ(CIniProfile(m_settingsPath).GetProfileString("COMM", "ComNo", ""), "ttyUSB7");
}

TEST_F(MainWindow, ClosingTheWindowStopsARunningThreadBeforeItGoes) {
    ASSERT_TRUE(StartSimulator());
    WriteSettings({{"SAVE", "SaveTemp", "1"}});
    OpenWindow();
    StartCaptureRun();
    m_dlg->DestroyWindow();
    EXPECT_FALSE(Running());
    m_dlg.reset();
}

TEST_F(MainWindow, MonitorCommandFromTheContextMenuShowsReadingsWithoutNumber) {
    ASSERT_TRUE(StartSimulator());
    WriteSettings();
    OpenWindow();
    Dlg().SendCommand(IDC_BUTTON_MONITOR);
    ASSERT_TRUE(Running());
    EXPECT_EQ(Button(IDC_BUTTON_MONITOR)->text(), "Stop Monitor");
    EXPECT_FALSE(Button(IDC_BUTTON_STOP)->isEnabled());
    ASSERT_TRUE(WaitUntil([this] { return Dlg().m_strValue != "-----------"; }));
    EXPECT_EQ(ValueCaption(), "Measurement Value");
    Dlg().SendCommand(IDC_BUTTON_MONITOR);
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Button(IDC_BUTTON_MONITOR)->text(), "Monitor");
    EXPECT_TRUE(Button(IDC_BUTTON_STOP)->isEnabled());
    EXPECT_FALSE(QFile::exists(m_logPath));
}

TEST_F(MainWindow, ScreenshotsOfIdleAndRunningWindow) {
    ASSERT_TRUE(StartSimulator());
    WriteSettings();
    OpenWindow();
    const QString dir = QStringLiteral(LYR_SCREENSHOT_DIR);
    EXPECT_TRUE(Dlg().grab().save(dir + "/main-window-idle.png"));
    StartCaptureRun();
    ClickCapture();
    ASSERT_TRUE(WaitUntil([this] { return ValueCaption() == "Measurement Value No.2"; }));
    EXPECT_TRUE(Dlg().grab().save(dir + "/main-window-running.png"));
    ClickStop();
    ASSERT_TRUE(WaitIdle());
}

}  // namespace
}  // namespace lyr::test
