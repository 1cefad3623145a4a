// Faults of the meter, the port and the disk during a logging run, against the measurement
// thread and the text log writer on real pseudo-terminals and a real small file system.
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <future>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "bench_run.h"
#include "scripted_meter.h"
#include "small_disk.h"
#include "sim/meter_simulator.h"

namespace lyr::test {
namespace {

constexpr int WaitMs = 20000;
// A core's share the measurement thread may take while it waits for a meter that is gone.
constexpr double MaxIdleCpuShare = 0.05;
constexpr int CpuWindowMs = 3000;

// ---- The meter goes silent or hangs up mid-run -------------------------------------------

enum class MeterLoss { Silent, HangUp };

struct LossCase {
    const char* name;
    MeterLoss loss;
    int mode;
    const char* triggerSource;  // the meter's own trigger source
    bool captures;              // the mode saves readings
};

const LossCase kLossCases[] = {
    {"IntervalSilent", MeterLoss::Silent, CaptureInterval, "IMM", true},
    {"IntervalHangUp", MeterLoss::HangUp, CaptureInterval, "IMM", true},
    {"TriggerInputSilent", MeterLoss::Silent, CaptureExtTrigger, "IMM", true},
    {"TriggerInputHangUp", MeterLoss::HangUp, CaptureExtTrigger, "IMM", true},
    {"ExternalTriggerSilent", MeterLoss::Silent, CaptureExtTrigger, "EXT", true},
    {"ExternalTriggerHangUp", MeterLoss::HangUp, CaptureExtTrigger, "EXT", true},
    {"MonitorSilent", MeterLoss::Silent, CaptureMonitor, "IMM", false},
    {"MonitorHangUp", MeterLoss::HangUp, CaptureMonitor, "IMM", false},
    {"CaptureButtonHangUp", MeterLoss::HangUp, CaptureEnterKey, "IMM", false},
};

class MeterLostMidRun : public ::testing::TestWithParam<LossCase> {
  protected:
    QTemporaryDir dir;
};

TEST_P(MeterLostMidRun, ThreadIdlesStopEndsRunAndEveryEarlierCaptureIsInFileOnce) {
    const LossCase& c = GetParam();
    ASSERT_TRUE(dir.isValid());
    sim::SimConfig config;
    config.baudRate = 115200;
    config.triggerSource = c.triggerSource;
    config.triggerEveryMs = 20;  // trigger modes capture too
    auto meter = std::make_unique<sim::MeterSimulator>(config);
    ASSERT_TRUE(meter->Start());

    BenchRun run(meter->PortName(), config.baudRate);
    const QString logPath = dir.filePath("run.csv");
    ASSERT_EQ(run.Start(c.mode, logPath), 0);
    if (c.captures)
        ASSERT_TRUE(run.PumpUntil([&] { return run.savedCaptures >= 5; }, WaitMs));
    else
        ASSERT_TRUE(run.PumpUntil([&] { return run.readingsShown >= 3; }, WaitMs));

    if (c.loss == MeterLoss::Silent)
        meter->SetSilent(true);
    else
        meter->HangUp();
    // A reply already on its way may still complete; after that nothing more comes.
    run.PumpFor(300);
    const int savedBefore = run.savedCaptures;

    const pthread_t worker = run.thread->NativeHandle();
    const double cpuStart = ThreadCpuSeconds(worker);
    const auto wallStart = Clock::now();
    run.PumpFor(CpuWindowMs);
    const double cpuShare =
        (ThreadCpuSeconds(worker) - cpuStart) / (static_cast<double>(MsSince(wallStart)) / 1000.0);
    EXPECT_GE(cpuStart, 0.0);
    EXPECT_LT(cpuShare, MaxIdleCpuShare) << "the thread spins waiting for a lost meter";
    EXPECT_EQ(run.savedCaptures, savedBefore) << "a capture without a meter";

    // The first stop request comes back at once (the window returns to its message loop); a
    // thread inside a 5000 ms trigger-input receive ends within that time-out.
    const auto callStart = Clock::now();
    const int first = run.thread->StopMeasurement();
    EXPECT_LT(MsSince(callStart), 1000);
    long long stopMs = MsSince(callStart);
    if (first == 0) stopMs += run.Stop();
    run.thread.reset();
    run.view.CloseLogFile();
    EXPECT_LT(stopMs, 12000);
    std::printf("  measurement thread %.2f %% of a core with the meter gone; stop %lld ms\n",
                cpuShare * 100.0, stopMs);

    const LogContent log = ReadLog(logPath);
    EXPECT_FALSE(log.torn);
    EXPECT_EQ(log.lines.size(), run.savedCaptures);
    EXPECT_TRUE(NumberedOnceInOrder(log.lines));
}

INSTANTIATE_TEST_SUITE_P(Reliability, MeterLostMidRun, ::testing::ValuesIn(kLossCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- The meter sends what no meter should --------------------------------------------------

struct GarbleCase {
    const char* name;
    QByteArray reply;
    QString shown;  // the reading text the window gets
};

QString Latin1(const QByteArray& bytes) { return QString::fromLatin1(bytes); }

const GarbleCase kGarbleCases[] = {
    {"BytesAboveAscii",
     QByteArray("\xFF\x80\xFE"
                "1.0E-03,IN\r\n"),
     Latin1("\xFF\x80\xFE"
            "1.0E-03,IN")},
    {"NulBytes", QByteArray("1.0\0\0E-03,I\0N\r\n", 15), QStringLiteral("1.0E-03,IN")},
    {"LfBeforeCr", QByteArray("2.0E-03,HI\n\r"), QStringLiteral("2.0E-03,HI")},
    {"LongerThanReadingText", QByteArray(300, '5') + ",IN\r\n", QString(127, u'5')},
    {"LongerThanReplyBuffer", QByteArray(100000, '6') + ",IN\r\n", QString(127, u'6')},
    {"OnlyLineEnd", QByteArray("\r\n"), QString()},
    {"ControlCharacters", QByteArray("\x1B[2J\x07\x7F,LO\r\n"), Latin1("\x1B[2J\x07\x7F,LO")},
};

class GarbledReplies : public ::testing::TestWithParam<GarbleCase> {
  protected:
    QTemporaryDir dir;
};

TEST_P(GarbledReplies, AreShownAsFarAsTheyFitAndLoggedWithoutCrash) {
    const GarbleCase& c = GetParam();
    ASSERT_TRUE(dir.isValid());
    ScriptedMeter meter;
    meter.SetReadingReply(c.reply);
    ASSERT_TRUE(meter.Start());

    BenchRun run(meter.PortName(), 115200);
    const QString logPath = dir.filePath("run.csv");
    ASSERT_EQ(run.Start(CaptureInterval, logPath), 0);
    ASSERT_TRUE(run.PumpUntil([&] { return run.savedCaptures >= 3; }, WaitMs));
    EXPECT_EQ(run.lastText, c.shown);
    EXPECT_LE(run.longestText, ReadingTextSize - 1);
    run.Stop();
    EXPECT_LE(run.link.ReplyBuffer.size(), MaxReplyLength);

    const LogContent log = ReadLog(logPath);
    EXPECT_FALSE(log.torn);
    EXPECT_EQ(log.lines.size(), run.savedCaptures);
    ASSERT_FALSE(log.lines.isEmpty());
    // The value and judgement as shown (the separator is ',' here, as in the reply).
    EXPECT_EQ(log.lines.first(),
              QStringLiteral("1,") + (c.shown.contains(u',') ? c.shown : c.shown + ",--"));
}

INSTANTIATE_TEST_SUITE_P(Reliability, GarbledReplies, ::testing::ValuesIn(kGarbleCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(EndlessLine, KeepsMemoryBoundedAndTheRunRecoversWhenTheLineEnds) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ScriptedMeter meter;
    ASSERT_TRUE(meter.Start());
    BenchRun run(meter.PortName(), 115200);
    const QString logPath = dir.filePath("run.csv");
    ASSERT_EQ(run.Start(CaptureInterval, logPath), 0);
    ASSERT_TRUE(run.PumpUntil([&] { return run.savedCaptures >= 2; }, WaitMs));

    meter.SetEndless(true);
    run.PumpFor(500);
    const long rssStart = ResidentKiB();
    // A megabyte of one line, far beyond anything the link keeps.
    ASSERT_TRUE(run.PumpUntil([&] { return meter.EndlessBytesSent() > (1 << 20); }, 120000))
        << meter.EndlessBytesSent() << " bytes sent";
    const long rssGrowth = ResidentKiB() - rssStart;
    EXPECT_LT(rssGrowth, 8 * 1024) << "KiB";
    const int before = run.savedCaptures;

    meter.SetEndless(false);  // the line ends; the reading is the start of it, cut to fit
    ASSERT_TRUE(run.PumpUntil([&] { return run.savedCaptures >= before + 3; }, WaitMs));
    run.Stop();
    EXPECT_LE(run.longestText, ReadingTextSize - 1);

    const LogContent log = ReadLog(logPath);
    EXPECT_FALSE(log.torn);
    EXPECT_EQ(log.lines.size(), run.savedCaptures);
    EXPECT_TRUE(NumberedOnceInOrder(log.lines));
    ASSERT_GT(log.lines.size(), before);
    EXPECT_EQ(log.lines[before], QString::number(before + 1) + "," + QString(127, u'7') + ",--");
}

// A meter still sending an endless line when the next run opens the port: the open's drain of
// stale input must end (it runs on the window's thread, which would freeze), and the start
// ends with a result rather than never.
TEST(EndlessLine, NextStartStillReturnsWhileTheMeterChatters) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    sim::SimConfig config;
    config.baudRate = 115200;
    sim::MeterSimulator meter(config);
    ASSERT_TRUE(meter.Start());
    {
        BenchRun first(meter.PortName(), config.baudRate);
        ASSERT_EQ(first.Start(CaptureInterval, dir.filePath("first.csv")), 0);
        ASSERT_TRUE(first.PumpUntil([&] { return first.savedCaptures >= 2; }, WaitMs));
        meter.SetEndlessLine(true);  // from the next fetch on, the meter never ends its line
        first.PumpFor(500);
        first.Stop();
    }

    BenchRun second(meter.PortName(), config.baudRate);
    auto connect = std::async(std::launch::async, [&] {
        return second.Start(CaptureInterval, dir.filePath("second.csv"));
    });
    // Pumped meanwhile: a start that gets through sends the identity to the window.
    const auto ready = [&] {
        return connect.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    };
    const auto waitStart = Clock::now();
    while (!ready() && MsSince(waitStart) < 15000) second.PumpFor(50);
    const bool returned = ready();
    if (!returned) meter.HangUp();  // ends the drain, so the test can end
    ASSERT_TRUE(returned) << "the open never finished draining a chattering meter";
    const int result = connect.get();
    std::printf("  start while the meter chatters: result %d after %lld ms\n", result,
                MsSince(waitStart));
    second.Stop();
}

// ---- The port ------------------------------------------------------------------------------

// Another process opens the port the run holds: refused, and the run goes on.
TEST(PortInUse, SecondProcessIsRefusedAndTheFirstKeepsLogging) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    sim::SimConfig config;
    config.baudRate = 115200;
    sim::MeterSimulator meter(config);
    ASSERT_TRUE(meter.Start());
    BenchRun run(meter.PortName(), config.baudRate);
    const QString logPath = dir.filePath("run.csv");
    ASSERT_EQ(run.Start(CaptureInterval, logPath), 0);
    ASSERT_TRUE(run.PumpUntil([&] { return run.savedCaptures >= 3; }, WaitMs));

    QProcess other;
    other.start(QStringLiteral(LYR_PORT_OPENER),
                {meter.PortName(), QString::number(config.baudRate)});
    ASSERT_TRUE(other.waitForStarted(WaitMs));
    // Pumped meanwhile, so the run goes on while the other process tries.
    ASSERT_TRUE(run.PumpUntil(
        [&] { return other.state() == QProcess::NotRunning || other.waitForFinished(10); },
        WaitMs));
    EXPECT_EQ(other.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(other.exitCode(), 1) << other.readAllStandardOutput().toStdString();

    const int atRefusal = run.savedCaptures;
    EXPECT_TRUE(run.PumpUntil([&] { return run.savedCaptures >= atRefusal + 5; }, WaitMs));
    run.Stop();
    const LogContent log = ReadLog(logPath);
    EXPECT_FALSE(log.torn);
    EXPECT_EQ(log.lines.size(), run.savedCaptures);
    EXPECT_TRUE(NumberedOnceInOrder(log.lines));

    // Once the run has let go, the other process gets the port.
    QProcess later;
    later.start(QStringLiteral(LYR_PORT_OPENER),
                {meter.PortName(), QString::number(config.baudRate)});
    ASSERT_TRUE(later.waitForFinished(WaitMs));
    EXPECT_EQ(later.exitCode(), 0);
}

// The USB adapter found at start-up is unplugged before Start.
TEST(AdapterVanished, StartFailsToOpenThePortAndTheRunStops) {
    auto meter = std::make_unique<sim::MeterSimulator>();
    ASSERT_TRUE(meter->Start());
    BenchRun run(meter->PortName(), 9600);
    meter.reset();  // the link and the pty are gone
    ASSERT_EQ(run.Start(CaptureInterval, QString()), 1);
    EXPECT_FALSE(run.link.Connected);
    run.Stop();
    EXPECT_TRUE(run.link.DevicePath.isEmpty());
}

// ---- The disk fills ------------------------------------------------------------------------

TEST(DiskFull, SaveFailsOnceAndEveryEarlierLineStaysWhole) {
    SmallDisk disk;
    if (!disk.mounted) GTEST_SKIP() << "cannot mount a tmpfs: " << disk.error;
    ASSERT_TRUE(disk.error.empty()) << disk.error;
    sim::SimConfig config;
    config.baudRate = 115200;
    sim::MeterSimulator meter(config);
    ASSERT_TRUE(meter.Start());
    BenchRun run(meter.PortName(), config.baudRate);
    run.view.m_settings.SaveDate = true;  // longer lines, so one page fills sooner
    run.view.m_settings.SaveTime = true;
    const QString logPath = disk.FilePath("run.csv");
    ASSERT_EQ(run.Start(CaptureInterval, logPath), 0);
    ASSERT_TRUE(run.PumpUntil([&] { return run.saveFailures > 0; }, 120000));
    run.PumpFor(300);  // readings still queued are dropped, not saved nor reported again
    EXPECT_EQ(run.saveFailures, 1);
    run.Stop();

    const LogContent log = ReadLog(logPath);
    EXPECT_GT(run.savedCaptures, 10);
    EXPECT_FALSE(log.torn);
    EXPECT_EQ(log.lines.size(), run.savedCaptures);
    static const QRegularExpression layout(
        QStringLiteral("^(\\d+),\\d{4}-\\d\\d-\\d\\d,\\d\\d:\\d\\d:\\d\\d,[0-9.E+-]+,(IN|HI|LO)$"));
    for (qsizetype i = 0; i < log.lines.size(); ++i) {
        const QRegularExpressionMatch m = layout.match(log.lines[i]);
        ASSERT_TRUE(m.hasMatch()) << log.lines[i].toStdString();
        EXPECT_EQ(m.captured(1).toLongLong(), i + 1);
    }
}

}  // namespace
}  // namespace lyr::test
