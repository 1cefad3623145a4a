#pragma once

#include <QString>
#include <QtGlobal>

#include <atomic>
#include <memory>

#include "link/meter_comm.h"
#include "measure/meas_messages.h"
#include "measure/thread_object.h"
#include "platform/event.h"
#include "platform/notify_window.h"

namespace lyr {

// Values of CMeasThread::CaptureMode. 0 to 2 equal the capture-method choice of the main window
// and the settings value LogType. Any value other than 1 and 2 behaves as 0 and 3 do.
inline constexpr int CaptureEnterKey = 0;    // Capture button or ENTER key
inline constexpr int CaptureExtTrigger = 1;  // external trigger
inline constexpr int CaptureInterval = 2;    // at intervals, a given number of times
inline constexpr int CaptureMonitor = 3;     // monitor only

// The answer to "io:input?" read as strtol with base 16 reads it: leading white space and a
// sign allowed, an optional 0x, digits up to the first other character, 0 when there are none.
// Bit 0 set means an external trigger came since the last poll.
[[nodiscard]] long ParseTriggerInput(const QString& reply);

// The worker of one logging or monitor run: sends the set-up commands, takes readings in the
// chosen capture mode and hands each one to the window as a message. A new object is made for
// every run.
//
// Start of a run, on the window's thread: construct; CreateThread (suspended); set CaptureMode,
// CountLimit, FilterEnable, FilterTime, SaveTemp; CreateEvents; ResumeThread; ConnectInstrument;
// StartEvent->Set(); once the run has started, Armed = true. End: StopMeasurement until it
// returns 1 (it posts WM_MEAS_STOP_RETRY otherwise), then delete the object.
class CMeasThread final : public CThreadObject {
  public:
    explicit CMeasThread(INotifyWindow* notifyWnd, CMeterComm& link = TheMeterComm());
    // Ends a thread that still runs (a stop the owner did not finish), waiting for it.
    ~CMeasThread() override;

    // Creates the run's events, in this order: IntervalEvent reset, ReadyEvent set, StartEvent
    // reset. Called by the window before ResumeThread.
    void CreateEvents();

    // On the window's thread, while the thread waits for StartEvent: 0 connected and identified;
    // 1 the port failed to open; 2 it opened but no valid identification came (the port stays
    // open, StopMeasurement closes it).
    [[nodiscard]] int ConnectInstrument();

    // On the window's thread: 1 the run is over (events closed, port closed); 0 the thread has
    // not ended within 100 ms and WM_MEAS_STOP_RETRY has been posted to try again.
    [[nodiscard]] int StopMeasurement();

    void ThreadMain() override;

    // Written by the window before ResumeThread and only read afterwards, except Armed and
    // Running, each written by one thread and read by the other on every pass.
    int CaptureMode = CaptureMonitor;
    unsigned CountLimit = 100;
    bool LimitReached = false;
    bool FilterEnable = false;
    // Taken from the settings unchecked: the dead time waits on the stop request, so even a
    // value of weeks never holds a stop back.
    unsigned FilterTime = 0;
    // False from construction: the thread never clears it, so a set by the window can never
    // come before a clear and leave the thread idle for the whole run.
    std::atomic<bool> Armed{false};
    bool SaveTemp = false;
    std::atomic<bool> Running{true};
    INotifyWindow* NotifyWnd;  // not owned
    unsigned ReadingCount = 0;
    ::lyr::ReadingRecord ReadingRecord = {};
    bool AwaitingReply = false;
    bool CaptureReading = false;
    bool TriggerSeen = false;
    char16_t ReadingText[ReadingTextSize] = {};

    // The run's manual-reset events; empty when closed. The window sets StartEvent after
    // ConnectInstrument, IntervalEvent at each interval tick, ReadyEvent once it has handled a
    // reading. The pointers change only while the thread is not running.
    std::unique_ptr<Event> StartEvent;
    std::unique_ptr<Event> IntervalEvent;
    std::unique_ptr<Event> ReadyEvent;

    // Identity of this run, unique in the process; every WM_MEAS_READING carries it.
    const quint64 RunId;

  private:
    void PostReading();
    bool SendTemperature();

    void StepEnterKeyOrMonitor();
    void StepExtTrigger(bool triggerSourceExternal, bool& filterDone);
    void StepInterval(bool& firstPass);

    // Waits like a sleep of `milliseconds` that a stop request ends at once.
    void SleepUnlessStopped(std::uint32_t milliseconds);

    CMeterComm& Link;
    // Set by the stop request; ends the long sleeps (set-up pause, filter dead time) at once.
    Event StopRequested;
};

}  // namespace lyr
