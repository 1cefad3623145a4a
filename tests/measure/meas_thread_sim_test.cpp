// The measurement thread against the meter simulator on a real pseudo-terminal.
#include <QByteArray>
#include <QList>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "meas_run.h"
#include "platform/serial_device.h"
#include "platform/virtual_ports.h"
#include "sim/meter_simulator.h"

namespace lyr::test {
namespace {

constexpr int WaitMs = 10000;

class MeasThreadSim : public ::testing::Test {
  protected:
    void StartSim(sim::SimConfig config = {}) {
        meter = std::make_unique<sim::MeterSimulator>(config);
        // Lines are kept here rather than read back with Received(): a copy of the simulator's
        // list shares its buffer, which the simulator's thread goes on appending to.
        meter->SetReceivedCallback([this](const sim::ReceivedLine& r) {
            {
                std::lock_guard guard(heardLock);
                heard.push_back({r.line, Clock::now()});
            }
            heardChanged.notify_all();
        });
        ASSERT_TRUE(meter->Start());
        run = std::make_unique<MeasRun>(MakeTermiosSerialDevice(), meter->PortName(),
                                        config.baudRate);
    }
    void TearDown() override {
        run.reset();  // the thread and the link go before the meter
        meter.reset();
    }

    struct Heard {
        QByteArray line;
        Clock::time_point at;
    };
    [[nodiscard]] std::vector<Heard> HeardLines() const {
        std::lock_guard guard(heardLock);
        return heard;
    }
    [[nodiscard]] QList<QByteArray> Lines() const {
        QList<QByteArray> lines;
        for (const Heard& h : HeardLines()) lines.append(h.line);
        return lines;
    }
    void ClearHeard() {
        std::lock_guard guard(heardLock);
        heard.clear();
    }
    // True once the meter has received that line.
    bool WaitHeard(const QByteArray& line, int timeoutMs) {
        std::unique_lock guard(heardLock);
        return heardChanged.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] {
            return std::any_of(heard.begin(), heard.end(),
                               [&](const Heard& h) { return h.line == line; });
        });
    }
    [[nodiscard]] qsizetype CountLine(const QByteArray& line) const { return Lines().count(line); }
    // The lines after identification: what the thread sent.
    [[nodiscard]] QList<QByteArray> ThreadLines() const {
        const QList<QByteArray> lines = Lines();
        const qsizetype idn = lines.indexOf("*idn?");
        return idn < 0 ? lines : lines.mid(idn + 1);
    }

    std::unique_ptr<sim::MeterSimulator> meter;
    std::unique_ptr<MeasRun> run;

  private:
    mutable std::mutex heardLock;  // protects heard, appended on the simulator's thread
    std::condition_variable heardChanged;
    std::vector<Heard> heard;
};

// True once `done` holds, tried every 5 ms.
template <typename Predicate>
bool WaitFor(Predicate done, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// True once the meter holds a read query waiting for its trigger.
bool WaitReadPending(const sim::MeterSimulator& meter, int timeoutMs) {
    return WaitFor([&] { return meter.ReadPending(); }, timeoutMs);
}

// Where in the message log the first message of that number is; -1 when there is none.
qsizetype FirstOf(const RecordingWindow::Messages& ms, unsigned message) {
    for (std::size_t i = 0; i < ms.size(); ++i)
        if (ms[i].message == message) return static_cast<qsizetype>(i);
    return -1;
}
qsizetype LastOf(const RecordingWindow::Messages& ms, unsigned message) {
    for (std::size_t i = ms.size(); i-- > 0;)
        if (ms[i].message == message) return static_cast<qsizetype>(i);
    return -1;
}

// --- interval mode ---

struct IntervalCase {
    unsigned countLimit;
    unsigned readings;
};

class IntervalRun : public MeasThreadSim, public ::testing::WithParamInterface<IntervalCase> {};

TEST_P(IntervalRun, TakesCountLimitCapturesThenPostsOneLimitAndQueriesNoMore) {
    StartSim();
    run->Prepare(CaptureInterval);
    run->thread->CountLimit = GetParam().countLimit;
    ASSERT_EQ(run->Begin(), 0);
    ASSERT_TRUE(run->window.WaitForCount(WM_MEAS_LIMIT, 1, WaitMs));
    run->PumpFor(400);  // the thread keeps running; nothing more may come

    const RecordingWindow::Messages all = run->window.All();
    const RecordingWindow::Messages readings = run->Readings();
    ASSERT_EQ(readings.size(), GetParam().readings);
    for (unsigned i = 0; i < readings.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(readings[i].record.Index, i);
        EXPECT_EQ(readings[i].record.Captured, 1u);
        EXPECT_EQ(readings[i].record.Triggered, 0u);
        EXPECT_TRUE(readings[i].text.contains(',')) << readings[i].text.toStdString();
        EXPECT_EQ(readings[i].runId, run->thread->RunId);
        EXPECT_TRUE(readings[i].pointsIntoPayload);
    }
    EXPECT_EQ(RecordingWindow::CountIn(all, WM_MEAS_LIMIT), 1u);
    EXPECT_EQ(RecordingWindow::CountIn(all, WM_MEAS_INTERVAL_START), 1u);
    EXPECT_LT(FirstOf(all, WM_MEAS_INTERVAL_START), FirstOf(all, WM_MEAS_READING));
    EXPECT_GT(FirstOf(all, WM_MEAS_LIMIT), LastOf(all, WM_MEAS_READING));
    EXPECT_EQ(CountLine(":FETC? LIMit"), static_cast<qsizetype>(GetParam().readings));

    const MeasRun::StopOutcome stop = run->Stop();
    EXPECT_LE(stop.retries, 1);
    EXPECT_FALSE(WaitHeard(":ABORt", 200));
}

INSTANTIATE_TEST_SUITE_P(CountLimits, IntervalRun,
                         ::testing::Values(IntervalCase{0, 1}, IntervalCase{2, 2},
                                           IntervalCase{3, 3}),
                         [](const auto& info) {
                             return "CountLimit" + std::to_string(info.param.countLimit);
                         });

TEST_F(MeasThreadSim, IntervalStartIsPostedOnTheFirstPassAfterArmedOnly) {
    StartSim();
    run->Prepare(CaptureInterval);
    ASSERT_EQ(run->Begin(/*arm=*/false), 0);
    ASSERT_TRUE(WaitHeard("SYST:DATA 0", WaitMs));
    run->PumpFor(300);
    EXPECT_EQ(run->window.Count(WM_MEAS_INTERVAL_START), 0u);
    EXPECT_EQ(CountLine(":FETC? LIMit"), 0);

    run->thread->Armed = true;
    ASSERT_TRUE(run->window.WaitForCount(WM_MEAS_READING, 3, WaitMs));
    EXPECT_EQ(run->window.Count(WM_MEAS_INTERVAL_START), 1u);
    (void)run->Stop();
}

// --- Capture-button and monitor runs ---

struct DisplayCase {
    const char* name;
    int captureMode;
    const char* model;
    QByteArray dataOutputOff;  // empty: none sent
    QByteArray fetch;
};

class DisplayRun : public MeasThreadSim, public ::testing::WithParamInterface<DisplayCase> {};

TEST_P(DisplayRun, SetsUpThenDeliversUncountedReadingsOnePerHandledReading) {
    sim::SimConfig config;
    config.model = GetParam().model;
    StartSim(config);
    run->Prepare(GetParam().captureMode);
    ASSERT_EQ(run->Begin(), 0);
    ASSERT_TRUE(run->window.WaitForCount(WM_MEAS_READING, 3, WaitMs));

    for (const Message& m : run->Readings()) {
        EXPECT_EQ(m.record.Index, 0u);
        EXPECT_EQ(m.record.Captured, 0u);
        EXPECT_EQ(m.record.Triggered, 0u);
    }
    (void)run->Stop();
    EXPECT_EQ(run->thread->ReadingCount, 0u);

    QList<QByteArray> expected = {":init:cont on", ":trig:sour imm"};
    if (!GetParam().dataOutputOff.isEmpty()) expected.append(GetParam().dataOutputOff);
    expected.append(GetParam().fetch);
    QList<QByteArray> lines = ThreadLines();
    // KTV models take their format command during identification.
    if (!lines.isEmpty() && lines.first() == ":SYST:COMM:FORM FIX") lines.removeFirst();
    EXPECT_EQ(lines.mid(0, expected.size()), expected);
    // One query per reading handled; at most one more is pending at the stop.
    const qsizetype fetches = lines.count(GetParam().fetch);
    const auto readings = static_cast<qsizetype>(run->Readings().size());
    EXPECT_GE(fetches, readings);
    EXPECT_LE(fetches, readings + 1);
}

INSTANTIATE_TEST_SUITE_P(Modes, DisplayRun,
                         ::testing::Values(DisplayCase{"MonitorLyr", CaptureMonitor, "LYR102",
                                                       "SYST:DATA 0", ":FETC? LIMit"},
                                           DisplayCase{"CaptureButtonLyr", CaptureEnterKey,
                                                       "LYR101", "SYST:DATA 0", ":FETC? LIMit"},
                                           DisplayCase{"MonitorKtv", CaptureMonitor, "KTV201",
                                                       "SYST:COMM:DATA 0", ":FETC?;:CALC:LIM:RES?"},
                                           DisplayCase{"OtherModeValueUnsupportedModel", 7,
                                                       "XYZ900", "", ":FETC?"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(MeasThreadSim, NoQueryIsSentUntilTheWindowHasHandledTheReading) {
    StartSim();
    run->acknowledge = false;
    run->Prepare(CaptureMonitor);
    ASSERT_EQ(run->Begin(), 0);
    ASSERT_TRUE(run->window.WaitForCount(WM_MEAS_READING, 1, WaitMs));
    run->PumpFor(400);
    EXPECT_EQ(run->window.Count(WM_MEAS_READING), 1u);
    EXPECT_EQ(CountLine(":FETC? LIMit"), 1);

    run->thread->ReadyEvent->Set();
    EXPECT_TRUE(run->window.WaitForCount(WM_MEAS_READING, 2, WaitMs));
    EXPECT_EQ(CountLine(":FETC? LIMit"), 2);
    (void)run->Stop();
}

// --- temperature ---

class TemperatureRun : public MeasThreadSim, public ::testing::WithParamInterface<bool> {};

TEST_P(TemperatureRun, EachReadingFollowsExactlyOneTemperatureWhenSaveTempIsOn) {
    const bool saveTemp = GetParam();
    StartSim();
    run->Prepare(CaptureInterval);
    run->thread->CountLimit = 3;
    run->thread->SaveTemp = saveTemp;
    ASSERT_EQ(run->Begin(), 0);
    ASSERT_TRUE(run->window.WaitForCount(WM_MEAS_LIMIT, 1, WaitMs));
    (void)run->Stop();

    RecordingWindow::Messages ms;
    for (const Message& m : run->window.All())
        if (m.message == WM_MEAS_READING || m.message == WM_MEAS_TEMPERATURE) ms.push_back(m);
    ASSERT_EQ(ms.size(), saveTemp ? 6u : 3u);
    for (std::size_t i = 0; i < ms.size(); ++i) {
        SCOPED_TRACE(i);
        const bool temperatureSlot = saveTemp && i % 2 == 0;
        EXPECT_EQ(ms[i].message, temperatureSlot ? WM_MEAS_TEMPERATURE : WM_MEAS_READING);
        if (temperatureSlot) {
            EXPECT_TRUE(ms[i].sent);
            EXPECT_EQ(ms[i].text, QStringLiteral("23.5"));
        } else {
            // The reading, not the temperature reply that came after it.
            EXPECT_TRUE(ms[i].text.endsWith(QStringLiteral(",IN")) ||
                        ms[i].text.endsWith(QStringLiteral(",HI")) ||
                        ms[i].text.endsWith(QStringLiteral(",LO")))
                << ms[i].text.toStdString();
        }
    }
    EXPECT_EQ(CountLine(":FETC:TEMP?"), saveTemp ? 3 : 0);
}

INSTANTIATE_TEST_SUITE_P(SaveTemp, TemperatureRun, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "On" : "Off"; });

// --- external trigger, source IMM ---

// True once two readings have come after the first capture.
bool TwoReadingsAfterACapture(const RecordingWindow::Messages& ms) {
    std::size_t afterCapture = 0;
    bool captured = false;
    for (const Message& m : ms) {
        if (m.message != WM_MEAS_READING) continue;
        if (captured) ++afterCapture;
        captured = captured || m.record.Captured == 1;
    }
    return afterCapture >= 2;
}

TEST_F(MeasThreadSim, TriggerInputMakesOneTriggeredCaptureAndOtherReadingsCarryTheCount) {
    StartSim();
    run->Prepare(CaptureExtTrigger);
    ASSERT_EQ(run->Begin(), 0);
    ASSERT_TRUE(run->window.WaitForCount(WM_MEAS_READING, 2, WaitMs));
    meter->Trigger();
    ASSERT_TRUE(run->window.WaitUntil(TwoReadingsAfterACapture, WaitMs));
    (void)run->Stop();

    const QList<QByteArray> lines = ThreadLines();
    EXPECT_EQ(lines.mid(0, 3), (QList<QByteArray>{":trig:sour?", ":init:cont on", "SYST:DATA 0"}));
    unsigned captures = 0;
    for (const Message& m : run->Readings()) {
        EXPECT_EQ(m.record.Index, captures);
        EXPECT_EQ(m.record.Triggered, m.record.Captured);
        captures += m.record.Captured;
    }
    EXPECT_EQ(captures, 1u);
    EXPECT_EQ(run->thread->ReadingCount, 1u);
}

TEST_F(MeasThreadSim, FilterDeadTimePassesBeforeTheFirstPollAndAfterEachCaptureOnly) {
    constexpr unsigned filterMs = 400;
    StartSim();
    run->Prepare(CaptureExtTrigger);
    run->thread->FilterEnable = true;
    run->thread->FilterTime = filterMs;
    ASSERT_EQ(run->Begin(), 0);
    ASSERT_TRUE(run->window.WaitForCount(WM_MEAS_READING, 3, WaitMs));
    meter->Trigger();
    ASSERT_TRUE(run->window.WaitUntil(TwoReadingsAfterACapture, WaitMs));
    (void)run->Stop();

    // Each cycle as letters: P a trigger-input poll, F a fetch; a cycle after the dead time
    // starts with the discarded poll, "PPF".
    const std::vector<Heard> lines = HeardLines();
    const auto setUpEnd = std::find_if(lines.begin(), lines.end(),
                                       [](const Heard& h) { return h.line == "SYST:DATA 0"; });
    ASSERT_NE(setUpEnd, lines.end());
    std::string pattern;
    std::vector<long long> gapBeforeCycle;  // ms from the previous line to a cycle's first poll
    Clock::time_point previous = setUpEnd->at;
    bool cycleStart = true;
    for (auto it = setUpEnd + 1; it != lines.end(); ++it) {
        if (it->line == "io:input?") {
            if (cycleStart) gapBeforeCycle.push_back(MsBetween(previous, it->at));
            cycleStart = false;
            pattern += 'P';
        } else if (it->line == ":FETC? LIMit") {
            pattern += "F ";
            cycleStart = true;
        }
        previous = it->at;
    }

    const RecordingWindow::Messages readings = run->Readings();
    std::size_t capture = 0;
    while (capture < readings.size() && readings[capture].record.Captured == 0) ++capture;
    ASSERT_LT(capture, readings.size());
    ASSERT_EQ(readings[capture].record.Triggered, 1u);
    std::string expected = "PPF ";
    for (std::size_t i = 1; i <= capture; ++i) expected += "PF ";
    expected += "PPF ";
    EXPECT_EQ(pattern.substr(0, expected.size()), expected);
    EXPECT_EQ(pattern.find("PP", expected.size()), std::string::npos) << pattern;

    ASSERT_GE(gapBeforeCycle.size(), capture + 2);
    EXPECT_GE(gapBeforeCycle[0], filterMs - 20);
    EXPECT_GE(gapBeforeCycle[capture + 1], filterMs - 20);
}

// --- external trigger, external source ---

TEST_F(MeasThreadSim, ExternalSourceSendsOneReadQueryPerReadingAnsweredAtTheTrigger) {
    sim::SimConfig config;
    config.triggerSource = "EXT";
    StartSim(config);
    run->Prepare(CaptureExtTrigger);
    ASSERT_EQ(run->Begin(), 0);
    ASSERT_TRUE(WaitHeard(":READ? LIMit", WaitMs));
    run->PumpFor(300);
    EXPECT_EQ(run->window.Count(WM_MEAS_READING), 0u);  // nothing without a trigger

    for (unsigned n = 1; n <= 2; ++n) {
        // A trigger that comes while no read query waits is lost, as at the meter.
        ASSERT_TRUE(WaitReadPending(*meter, WaitMs));
        meter->Trigger();
        ASSERT_TRUE(run->window.WaitForCount(WM_MEAS_READING, n, WaitMs));
    }
    ASSERT_TRUE(WaitReadPending(*meter, WaitMs));
    EXPECT_EQ(CountLine(":READ? LIMit"), 3);  // two answered, one pending
    EXPECT_EQ(CountLine("io:input?"), 0);
    EXPECT_EQ(CountLine(":FETC? LIMit"), 0);
    EXPECT_EQ(ThreadLines().mid(0, 3),
              (QList<QByteArray>{":trig:sour?", ":init:cont off", "SYST:DATA 0"}));
    const RecordingWindow::Messages readings = run->Readings();
    for (unsigned i = 0; i < readings.size(); ++i) {
        EXPECT_EQ(readings[i].record.Index, i);
        EXPECT_EQ(readings[i].record.Captured, 1u);
        EXPECT_EQ(readings[i].record.Triggered, 0u);
    }
    (void)run->Stop();
}

struct AbortCase {
    const char* name;
    int captureMode;
    const char* triggerSource;
    bool queryPending;  // false: the window has not handled the last reading, nothing is asked
    bool abortSent;
};

class StopAbort : public MeasThreadSim, public ::testing::WithParamInterface<AbortCase> {};

TEST_P(StopAbort, AbortIsSentAtStopOnlyWhileAnExternalTriggerQueryIsPending) {
    const AbortCase& c = GetParam();
    sim::SimConfig config;
    config.triggerSource = c.triggerSource;
    StartSim(config);
    run->acknowledge = c.queryPending;
    run->Prepare(c.captureMode);
    ASSERT_EQ(run->Begin(), 0);
    if (QByteArray(c.triggerSource) == "EXT") {
        ASSERT_TRUE(WaitReadPending(*meter, WaitMs));
        meter->Trigger();
    }
    ASSERT_TRUE(run->window.WaitForCount(WM_MEAS_READING, 1, WaitMs));
    if (c.queryPending && QByteArray(c.triggerSource) == "EXT") {
        ASSERT_TRUE(WaitReadPending(*meter, WaitMs));
    }
    run->PumpFor(100);
    const MeasRun::StopOutcome stop = run->Stop();
    EXPECT_FALSE(stop.closedEarly);
    EXPECT_EQ(WaitHeard(":ABORt", c.abortSent ? WaitMs : 300), c.abortSent);
    if (c.abortSent) {
        EXPECT_EQ(Lines().last(), ":ABORt");  // before the port was closed, nothing after it
        EXPECT_TRUE(WaitFor([&] { return !meter->ReadPending(); }, WaitMs));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StopAbort,
    ::testing::Values(AbortCase{"ExternalSourceQueryPending", CaptureExtTrigger, "EXT", true, true},
                      AbortCase{"ExternalSourceNothingPending", CaptureExtTrigger, "EXT", false,
                                false},
                      AbortCase{"ImmSourceNothingPending", CaptureExtTrigger, "IMM", false, false},
                      AbortCase{"Interval", CaptureInterval, "IMM", true, false},
                      AbortCase{"Monitor", CaptureMonitor, "IMM", true, false}),
    [](const auto& info) { return std::string(info.param.name); });

// --- stop ---

TEST_F(MeasThreadSim, StopDuringBlockingReceiveRetriesEvery100MsAndClosesOnlyAtTheEnd) {
    StartSim();
    run->acknowledge = false;
    run->Prepare(CaptureExtTrigger);
    ASSERT_EQ(run->Begin(), 0);
    ASSERT_TRUE(run->window.WaitForCount(WM_MEAS_READING, 1, WaitMs));
    // The meter goes quiet; the next trigger-input poll waits its full 5000 ms.
    meter->SetSilent(true);
    ClearHeard();
    run->thread->ReadyEvent->Set();
    ASSERT_TRUE(WaitHeard("io:input?", WaitMs));
    const auto receiveStart = Clock::now();

    const MeasRun::StopOutcome stop = run->Stop();
    EXPECT_GE(stop.retries, 10);
    EXPECT_GE(stop.shortestRetryMs, 100);
    EXPECT_FALSE(stop.closedEarly);
    EXPECT_GE(MsBetween(receiveStart, Clock::now()), 4000);
    EXPECT_LT(stop.durationMs, 15000);
    EXPECT_EQ(run->window.Count(WM_MEAS_STOP_RETRY), static_cast<std::size_t>(stop.retries));
    EXPECT_FALSE(run->thread->StartEvent);
    EXPECT_FALSE(run->thread->IntervalEvent);
    EXPECT_FALSE(run->thread->ReadyEvent);
    EXPECT_TRUE(run->link.DevicePath.isEmpty());
    EXPECT_FALSE(run->link.Connected);
}

struct LongSleepCase {
    const char* name;
    int captureMode;
    unsigned filterTime;
    QByteArray sleepsAfter;  // the last line the thread sends before its sleep
    bool arm;
};

class StopDuringSleep : public MeasThreadSim,
                        public ::testing::WithParamInterface<LongSleepCase> {};

TEST_P(StopDuringSleep, StopEndsTheSleepWithinOneRetry) {
    const LongSleepCase& c = GetParam();
    StartSim();
    run->Prepare(c.captureMode);
    run->thread->FilterEnable = c.filterTime != 0;
    run->thread->FilterTime = c.filterTime;
    ASSERT_EQ(run->Begin(c.arm), 0);
    ASSERT_TRUE(WaitHeard(c.sleepsAfter, WaitMs));
    run->PumpFor(c.arm ? 150 : 0);  // armed: let the thread reach the dead time
    const MeasRun::StopOutcome stop = run->Stop();
    EXPECT_LE(stop.retries, 1);
    EXPECT_EQ(CountLine("io:input?"), 0);
    EXPECT_TRUE(run->link.DevicePath.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Sleeps, StopDuringSleep,
                         ::testing::Values(LongSleepCase{"FilterTimeOfWeeks", CaptureExtTrigger,
                                                         0xF0000000u, "SYST:DATA 0", true},
                                           LongSleepCase{"FilterTimeMaximum", CaptureExtTrigger,
                                                         0xFFFFFFFFu, "SYST:DATA 0", true},
                                           LongSleepCase{"SetUpPause", CaptureMonitor, 0,
                                                         ":trig:sour imm", false}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- ConnectInstrument ---

struct ConnectCase {
    const char* name;
    bool portMissing;
    bool silent;
    QString serial;
    QString model;
    int result;
    QString shownSerial;  // the identity message, when result is 0
    QString shownModel;
};

class Connect : public MeasThreadSim, public ::testing::WithParamInterface<ConnectCase> {};

TEST_P(Connect, ResultAndIdentityMessage) {
    const ConnectCase& c = GetParam();
    sim::SimConfig config;
    config.silent = c.silent;
    config.serial = c.serial;
    config.model = c.model;
    StartSim(config);
    if (c.portMissing) {
        const QString missing = VirtualPortDirectory() + "/no-such-meter";
        run->link.PortNames = {missing};
        run->link.SelectedPort = missing;
    }
    run->Prepare(CaptureMonitor);
    const int result = run->Begin(/*arm=*/false);
    EXPECT_EQ(result, c.result);
    // Sent: handled before ConnectInstrument returned, without a pump.
    EXPECT_EQ(run->identityHandled, c.result == 0);
    const RecordingWindow::Messages identity = run->window.Of(WM_MEAS_IDENTITY);
    if (c.result == 0) {
        ASSERT_EQ(identity.size(), 1u);
        EXPECT_TRUE(identity[0].sent);
        EXPECT_EQ(identity[0].text, c.shownSerial);
        EXPECT_EQ(identity[0].model, c.shownModel);
        EXPECT_TRUE(run->link.Connected);
    } else {
        EXPECT_TRUE(identity.empty());
        EXPECT_FALSE(run->link.Connected);
        // After no answer the port stays open until the stop closes it.
        EXPECT_EQ(run->link.DevicePath.isEmpty(), c.result == 1);
    }
    (void)run->Stop();
    EXPECT_TRUE(run->link.DevicePath.isEmpty());
    if (c.result != 0) {
        // The set-up commands went to a link that is not connected: nothing reached the meter.
        EXPECT_EQ(ThreadLines(), QList<QByteArray>{});
    }
}

INSTANTIATE_TEST_SUITE_P(
    Results, Connect,
    ::testing::Values(ConnectCase{"Identified", false, false, "A1234567", "LYR102", 0, "A1234567",
                                  "LYR102"},
                      ConnectCase{"UnsupportedModel", false, false, "A1234567", "XYZ900", 0,
                                  "--------", "XYZ900"},
                      ConnectCase{"LongIdentityIsCut", false, false, QString(100, 'S'),
                                  "LYR102-" + QString(100, 'X'), 0, QString(63, 'S'),
                                  ("LYR102-" + QString(100, 'X')).left(63)},
                      ConnectCase{"PortMissing", true, false, "A1234567", "LYR102", 1, "", ""},
                      ConnectCase{"NoAnswer", false, true, "A1234567", "LYR102", 2, "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace lyr::test
