#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>
#include <memory>

#include <gtest/gtest.h>

#include "link/meter_comm.h"
#include "measure/meas_thread.h"
#include "support/fake_port_enumerator.h"
#include "support/recording_window.h"

namespace lyr::test {

using Clock = std::chrono::steady_clock;
using Message = RecordingWindow::Message;

inline long long MsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

// One run of the measurement thread as the main window drives it, with the test thread as the
// window's thread: the recording window answers like the real one (sets IntervalEvent on
// WM_MEAS_INTERVAL_START, sets IntervalEvent and ReadyEvent once it has handled a reading) while
// the test pumps it.
class MeasRun {
  public:
    MeasRun(std::unique_ptr<ISerialDevice> device, const QString& portName, quint32 baudRate)
        : link(std::move(device), std::make_unique<FakePortEnumerator>()) {
        link.PortNames = {portName};
        link.SelectedPort = portName;
        link.SelectedBaudRate = baudRate;
        window.SetHandler([this](const Message& m) { Handle(m); });
    }

    // Creates the thread suspended and sets its mode; the test sets further fields after this.
    void Prepare(int captureMode) {
        thread = std::make_unique<CMeasThread>(&window, link);
        ASSERT_TRUE(thread->CreateThread());
        thread->CaptureMode = captureMode;
    }

    // The window's start of a run: events, resume, connect, StartEvent, then Armed.
    int Begin(bool arm = true) {
        thread->CreateEvents();
        thread->ResumeThread();
        const int result = thread->ConnectInstrument();
        thread->StartEvent->Set();
        if (arm && result == 0) thread->Armed = true;
        return result;
    }

    struct StopOutcome {
        int retries = 0;
        long long durationMs = 0;
        long long shortestRetryMs = 0;  // shortest time one unsuccessful call took
        bool closedEarly = false;       // an unsuccessful call closed an event or the port
    };

    // Stops as the window does: again on every WM_MEAS_STOP_RETRY, until the run is over.
    StopOutcome Stop() {
        StopOutcome out;
        const auto start = Clock::now();
        out.shortestRetryMs = 1 << 30;
        for (;;) {
            const auto callStart = Clock::now();
            if (thread->StopMeasurement() == 1) break;
            out.shortestRetryMs = std::min(out.shortestRetryMs, MsBetween(callStart, Clock::now()));
            ++out.retries;
            if (!thread->StartEvent || !thread->IntervalEvent || !thread->ReadyEvent ||
                link.DevicePath.isEmpty())
                out.closedEarly = true;
            if (!window.WaitForCount(WM_MEAS_STOP_RETRY, static_cast<std::size_t>(out.retries),
                                     10000)) {
                ADD_FAILURE() << "WM_MEAS_STOP_RETRY not posted";
                break;
            }
        }
        out.durationMs = MsBetween(start, Clock::now());
        return out;
    }

    // Pumps the window for `ms` whatever arrives.
    void PumpFor(int ms) {
        (void)window.WaitUntil([](const RecordingWindow::Messages&) { return false; }, ms);
    }

    [[nodiscard]] RecordingWindow::Messages Readings() const { return window.Of(WM_MEAS_READING); }

    CMeterComm link;
    RecordingWindow window;
    std::unique_ptr<CMeasThread> thread;  // destroyed first: it uses link and window
    bool acknowledge = true;              // the window sets ReadyEvent after each reading
    bool identityHandled = false;

  private:
    void Handle(const Message& m) {
        if (m.message == WM_MEAS_IDENTITY) identityHandled = true;
        // Readings and ticks that arrive after the run has ended are ignored, as by the window.
        if (!thread || !thread->ReadyEvent) return;
        if (m.message == WM_MEAS_INTERVAL_START) thread->IntervalEvent->Set();
        if (m.message == WM_MEAS_READING && m.runId == thread->RunId && acknowledge) {
            thread->IntervalEvent->Set();  // an interval of 0: the next tick is always due
            thread->ReadyEvent->Set();
        }
    }
};

}  // namespace lyr::test
