#pragma once

// What a bench does to a logging run, at the level of the libraries: the measurement thread on
// a real pty, the text log writer, and the test thread standing in for the main window (it shows,
// saves and acknowledges each reading as the window does).

#include <pthread.h>
#include <time.h>

#include <QFile>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "link/meter_comm.h"
#include "measure/meas_thread.h"
#include "platform/serial_device.h"
#include "record/text_log.h"
#include "support/fake_port_enumerator.h"
#include "support/recording_window.h"

namespace lyr::test {

using Clock = std::chrono::steady_clock;

inline long long MsSince(Clock::time_point from) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - from).count();
}

// Resident memory of this process in KiB (VmRSS of /proc/self/status); 0 when unreadable.
inline long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    }
    return 0;
}

// CPU time a running thread has used so far, in seconds.
inline double ThreadCpuSeconds(pthread_t thread) {
    clockid_t clock{};
    if (::pthread_getcpuclockid(thread, &clock) != 0) return -1.0;
    timespec ts{};
    if (::clock_gettime(clock, &ts) != 0) return -1.0;
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// The lines of a text log (CR LF ends each); `torn` is set when the file does not end with a
// line end or holds a bare LF, i.e. a line was cut.
struct LogContent {
    QStringList lines;
    bool torn = false;
};
inline LogContent ReadLog(const QString& path) {
    LogContent out;
    if (path.isEmpty()) return out;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return out;
    const QByteArray bytes = f.readAll();
    if (bytes.isEmpty()) return out;
    out.torn = !bytes.endsWith("\r\n") || bytes.count("\n") != bytes.count("\r\n");
    QStringList lines = QString::fromLatin1(bytes).split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    out.lines = lines;
    return out;
}

// True when `lines` are the captures 1..lines.size(), each once and in order, with the number
// first and a value after it (the layout with SaveDataIndex on). Reports the first bad line.
inline ::testing::AssertionResult NumberedOnceInOrder(const QStringList& lines) {
    static const QRegularExpression layout(QStringLiteral("^(\\d+),[^,]*(,.*)?$"));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QRegularExpressionMatch m = layout.match(lines[i]);
        if (!m.hasMatch() || m.captured(1).toLongLong() != i + 1)
            return ::testing::AssertionFailure()
                   << "line " << i + 1 << " is \"" << lines[i].toStdString() << "\"";
    }
    return ::testing::AssertionSuccess();
}

class BenchRun {
  public:
    BenchRun(const QString& portName, quint32 baudRate)
        : link(MakeTermiosSerialDevice(), std::make_unique<FakePortEnumerator>()) {
        link.PortNames = {portName};
        link.SelectedPort = portName;
        link.SelectedBaudRate = baudRate;
        // Index, value and judgement, comma separated: one capture per line, easy to check.
        view.m_settings.SaveDataIndex = true;
        view.m_settings.SaveJudge = true;
        window.SetHandler([this](const RecordingWindow::Message& m) { Handle(m); });
    }
    ~BenchRun() { thread.reset(); }  // the thread uses link and window

    // The window's StartLogging: thread made suspended, fields, events, resume, connect,
    // StartEvent, then the log file and Armed. The ConnectInstrument result, or -1 when the
    // log file did not open.
    int Start(int mode, const QString& logPath, unsigned countLimit = 1000000) {
        thread = std::make_unique<CMeasThread>(&window, link);
        EXPECT_TRUE(thread->CreateThread());
        thread->CaptureMode = mode;
        thread->CountLimit = countLimit;
        thread->CreateEvents();
        thread->ResumeThread();
        const int result = thread->ConnectInstrument();
        thread->StartEvent->Set();
        if (result != 0) return result;
        recording = true;
        if (mode != CaptureMonitor && !view.OpenLogFile(logPath)) return -1;
        thread->Armed = true;
        return 0;
    }

    // The window's stop, again on each WM_MEAS_STOP_RETRY until the thread has ended; then the
    // log file is closed. The time until the run was over.
    long long Stop() {
        const auto start = Clock::now();
        if (!thread) return 0;
        std::size_t retries = window.Count(WM_MEAS_STOP_RETRY);
        while (thread->StopMeasurement() == 0) {
            ++retries;
            if (!window.WaitForCount(WM_MEAS_STOP_RETRY, retries, 30000)) {
                ADD_FAILURE() << "no WM_MEAS_STOP_RETRY";
                break;
            }
        }
        thread.reset();
        view.CloseLogFile();
        return MsSince(start);
    }

    // Pumps the window's messages until `done` holds or `timeoutMs` passed.
    bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
        return window.WaitUntil([&](const RecordingWindow::Messages&) { return done(); },
                                timeoutMs);
    }
    void PumpFor(int ms) {
        (void)window.WaitUntil([](const RecordingWindow::Messages&) { return false; }, ms);
    }

    CMeterComm link;
    RecordingWindow window;
    CRecordView view;
    std::unique_ptr<CMeasThread> thread;

    bool recording = false;  // cleared at the first failed save, as m_bRecording
    int savedCaptures = 0;   // captures written and acknowledged
    int saveFailures = 0;    // failed saves reported ("Failed to save data.")
    int readingsShown = 0;   // readings shown, captures or not
    QString lastText;        // the text of the last reading shown
    std::size_t longestText = 0;

  private:
    void Handle(const RecordingWindow::Message& m) {
        if (!thread || !thread->ReadyEvent) return;
        if (m.message == WM_MEAS_INTERVAL_START) thread->IntervalEvent->Set();
        if (m.message != WM_MEAS_READING || m.runId != thread->RunId || !recording) return;
        ++readingsShown;
        lastText = m.text;
        longestText = std::max<std::size_t>(longestText, static_cast<std::size_t>(m.text.size()));
        const qsizetype comma = m.text.indexOf(u',');
        view.m_strValue = comma >= 0 ? m.text.left(comma) : m.text;
        view.m_strJudge = comma >= 0 ? m.text.mid(comma + 1) : QStringLiteral("--");
        if (m.record.Captured != 0) {
            if (!view.WriteTextRecord(static_cast<int>(m.record.Index))) {
                // The window reports once and stops; nothing is acknowledged any more.
                recording = false;
                ++saveFailures;
                return;
            }
            ++savedCaptures;
        }
        // An interval of 0: the next tick is always due when the reading has been handled.
        thread->IntervalEvent->Set();
        thread->ReadyEvent->Set();
    }
};

}  // namespace lyr::test
