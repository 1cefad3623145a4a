#include "measure/meas_thread.h"

#include <cstdlib>

#include "platform/tick.h"

namespace lyr {
namespace {

// Trigger-source and trigger-input exchanges: blocking, the meter answers at once.
constexpr quint32 QueryTimeoutMs = 5000;
// After the set-up commands of a run without external trigger, the meter needs a moment to
// start measuring continuously before the first fetch.
constexpr std::uint32_t SetUpPauseMs = 500;
constexpr std::uint32_t EventSliceMs = 100;
constexpr std::uint32_t StopWaitMs = 100;
constexpr std::uint32_t ReplyWaitMs = 20;

quint64 NextRunId() {
    static std::atomic<quint64> counter{0};
    return ++counter;
}

}  // namespace

long ParseTriggerInput(const QString& reply) {
    const QByteArray bytes = reply.toLatin1();
    return std::strtol(bytes.constData(), nullptr, 16);
}

CMeasThread::CMeasThread(INotifyWindow* notifyWnd, CMeterComm& link)
    : NotifyWnd(notifyWnd), RunId(NextRunId()), Link(link) {}

CMeasThread::~CMeasThread() {
    // ThreadMain uses this object's members, so the thread must end before they go. A thread
    // still waiting for StartEvent is let through; one in a 5000 ms receive is waited for.
    Running = false;
    StopRequested.Set();
    if (StartEvent) StartEvent->Set();
    Join();
}

void CMeasThread::CreateEvents() {
    IntervalEvent = std::make_unique<Event>(false);
    ReadyEvent = std::make_unique<Event>(true);
    StartEvent = std::make_unique<Event>(false);
}

int CMeasThread::ConnectInstrument() {
    if (!Link.OpenConfigured()) return 1;
    QString maker;
    QString model;
    QString serial;
    if (!Link.Identify(maker, model, serial)) {
        // The port stays open but unusable: every later send and receive does nothing.
        Link.Connected = false;
        return 2;
    }
    char16_t serialText[IdentityTextSize];
    char16_t modelText[IdentityTextSize];
    CopyText(serialText, Link.SerialNumber);
    CopyText(modelText, model);
    NotifyWnd->Send(WM_MEAS_IDENTITY, reinterpret_cast<WPARAM>(serialText),
                    reinterpret_cast<LPARAM>(modelText));
    return 0;
}

void CMeasThread::SleepUnlessStopped(std::uint32_t milliseconds) {
    (void)StopRequested.Wait(milliseconds);
}

void CMeasThread::ThreadMain() {
    // Without its events the thread has nothing to wait on; CreateEvents comes before resume.
    if (!StartEvent || !IntervalEvent || !ReadyEvent) return;

    // Armed is not cleared here: it is false from construction (see its declaration).
    LimitReached = false;
    ReadingCount = 0;
    bool triggerSourceExternal = false;
    bool filterDone = false;
    bool firstPass = true;

    (void)StartEvent->Wait(INFINITE);

    if (CaptureMode == CaptureExtTrigger) {
        Link.SendCommand(":trig:sour?");
        const QString reply = Link.ReceiveReply(QueryTimeoutMs);
        // No reply is taken as an external source: read queries then wait for the trigger.
        if (reply.left(3) == QLatin1String("IMM")) {
            triggerSourceExternal = false;
            Link.SendCommand(":init:cont on");
        } else {
            triggerSourceExternal = true;
            Link.SendCommand(":init:cont off");
        }
    } else {
        Link.SendCommand(":init:cont on");
        Link.SendCommand(":trig:sour imm");
        SleepUnlessStopped(SetUpPauseMs);
    }

    // The meter's own periodic output would mix with the replies to our queries.
    const std::string_view dataOutputOff = CommandsOfFamily(Link.ModelFamily).DataOutputOff;
    if (!dataOutputOff.empty()) Link.SendCommand(dataOutputOff);

    AwaitingReply = false;
    CaptureReading = true;
    TriggerSeen = false;
    Link.CrSeen = false;
    Link.LfSeen = false;
    Link.ReplyBuffer.clear();

    while (Running) {
        if (!Armed) {
            Sleep(10);
            continue;
        }
        switch (CaptureMode) {
            case CaptureExtTrigger:
                StepExtTrigger(triggerSourceExternal, filterDone);
                break;
            case CaptureInterval:
                StepInterval(firstPass);
                break;
            default:
                StepEnterKeyOrMonitor();
                break;
        }
        // While a reply is awaited nothing happens until bytes arrive: waiting on the line
        // instead of waking every millisecond keeps a run that waits for an external trigger
        // off the processor, and a reply is taken the moment it comes. A stop is still seen
        // within one wait, well inside StopMeasurement's 100 ms. Otherwise the next pass
        // begins by waiting for the window's events, which paces the loop by itself; only an
        // interval run past its count has nothing to wait for.
        if (AwaitingReply) {
            Link.WaitForInput(ReplyWaitMs);
        } else if (LimitReached) {
            Sleep(1);
        }
    }
}

void CMeasThread::StepEnterKeyOrMonitor() {
    if (AwaitingReply) {
        CaptureReading = false;
        if (Link.PollReply()) {
            PostReading();
            Sleep(50);
        }
    } else if (ReadyEvent->Wait(EventSliceMs) == WaitResult::Signalled) {
        Link.SendFetchQuery();
        AwaitingReply = true;
        ReadyEvent->Reset();
    }
}

void CMeasThread::StepExtTrigger(bool triggerSourceExternal, bool& filterDone) {
    if (AwaitingReply) {
        if (Link.PollReply()) PostReading();
        return;
    }
    if (ReadyEvent->Wait(EventSliceMs) != WaitResult::Signalled) return;

    if (triggerSourceExternal) {
        // The meter answers a read query only after its next external trigger, which may take
        // any time; the reply is polled every pass. Every such reading is a capture.
        AwaitingReply = true;
        Link.SendReadQuery();
        ReadyEvent->Reset();
        return;
    }

    // Source IMM: the meter measures continuously and the trigger input is watched here. The
    // filter's dead time passes before the first look at the input and after each capture, so
    // a bouncing contact makes one capture, not several.
    if (FilterEnable && !filterDone) {
        SleepUnlessStopped(FilterTime);
        // Woken by a stop: the run is over, and a meter gone quiet would hold the stop for two
        // more 5000 ms receives.
        if (!Running) return;
        Link.SendCommand("io:input?");
        (void)Link.ReceiveReply(QueryTimeoutMs);
        filterDone = true;
    }
    CaptureReading = false;
    TriggerSeen = false;
    Link.SendCommand("io:input?");
    const QString reply = Link.ReceiveReply(QueryTimeoutMs);
    // No reply parses as 0: no trigger, and the reading fetched below is a non-capture.
    if ((ParseTriggerInput(reply) & 1) != 0) {
        filterDone = false;
        CaptureReading = true;
        TriggerSeen = true;
    }
    Link.SendFetchQuery();
    AwaitingReply = true;
    ReadyEvent->Reset();
}

void CMeasThread::StepInterval(bool& firstPass) {
    if (firstPass) {
        firstPass = false;
        NotifyWnd->Post(WM_MEAS_INTERVAL_START, 0, 0);
    }
    if (LimitReached) return;
    if (AwaitingReply) {
        if (Link.PollReply()) {
            PostReading();
            if (ReadingCount >= CountLimit) {
                LimitReached = true;
                NotifyWnd->Post(WM_MEAS_LIMIT, 0, 0);
            }
        }
        return;
    }
    // Ticks that came while the window was still busy with the last reading merge into one.
    if (WaitForAll(*IntervalEvent, *ReadyEvent, EventSliceMs) == WaitResult::Signalled) {
        Link.SendFetchQuery();
        AwaitingReply = true;
        IntervalEvent->Reset();
        ReadyEvent->Reset();
    }
}

void CMeasThread::PostReading() {
    // Copied first: the temperature query empties ReplyBuffer.
    const QString reply = Link.ReplyBuffer;
    if (SaveTemp) SendTemperature();
    CopyText(ReadingText, reply);
    ReadingRecord.Index = ReadingCount;
    ReadingRecord.Captured = CaptureReading ? 1 : 0;
    ReadingRecord.Triggered = TriggerSeen ? 1 : 0;
    AwaitingReply = false;

    auto payload = std::make_shared<ReadingPayload>();
    std::copy(std::begin(ReadingText), std::end(ReadingText), std::begin(payload->ReadingText));
    payload->Record = ReadingRecord;
    payload->RunId = RunId;
    const WPARAM wParam = payload->TextParam();
    const LPARAM lParam = payload->RecordParam();
    NotifyWnd->Post(WM_MEAS_READING, wParam, lParam, std::move(payload));

    if (CaptureReading) ++ReadingCount;
}

bool CMeasThread::SendTemperature() {
    const QString text = Link.QueryTemperature();
    char16_t temperature[TemperatureTextSize];
    CopyText(temperature, text);
    // Sent, not posted: the window has taken the temperature before the reading it belongs to
    // is posted, and the buffer may be a local.
    NotifyWnd->Send(WM_MEAS_TEMPERATURE, reinterpret_cast<WPARAM>(temperature), 0);
    return true;
}

int CMeasThread::StopMeasurement() {
    Running = false;
    StopRequested.Set();
    // A thread in a 5000 ms receive, or blocked in a temperature send that this thread must
    // deliver, is waited for in 100 ms steps from the window's message loop.
    if (WaitForEnd(StopWaitMs) == WaitResult::Timeout) {
        NotifyWnd->Post(WM_MEAS_STOP_RETRY, 0, 0);
        return 0;
    }
    Sleep(1);
    for (std::unique_ptr<Event>* event : {&IntervalEvent, &ReadyEvent, &StartEvent}) {
        if (*event) {
            (*event)->Set();
            event->reset();
        }
    }
    // A read query waiting for a trigger would otherwise stay pending in the meter.
    if (CaptureMode == CaptureExtTrigger && AwaitingReply) Link.SendCommand(":ABORt");
    Link.Close();
    Link.Connected = false;
    return 1;
}

}  // namespace lyr
