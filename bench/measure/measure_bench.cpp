// Figures of the measurement thread against the meter simulator pacing its bytes at the wire
// speed:
//  1. an interval run with interval 0 (a 10 ms ticker sets IntervalEvent) and a window that
//     acknowledges each reading at once: captures per second beside the bound
//     min(100/s, 1 / wire time of one fetch and its reply);
//  2. the CPU time of the measurement thread while it waits for an external trigger that
//     never comes.
// Usage: measure_bench [interval-run seconds, default 5] [trigger-wait seconds, default 10]
#include <pthread.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include "link/meter_comm.h"
#include "measure/meas_messages.h"
#include "measure/meas_thread.h"
#include "platform/serial_device.h"
#include "sim/meter_simulator.h"

namespace {

using namespace lyr;
using Clock = std::chrono::steady_clock;

class NoPorts final : public IPortEnumerator {
  public:
    QList<PortInfo> enumerate() override { return {}; }
};

// A window that handles every message at once on the thread that posts it: sets IntervalEvent
// on WM_MEAS_INTERVAL_START and ReadyEvent on each reading.
class AckWindow final : public INotifyWindow {
  public:
    void Post(unsigned message, WPARAM, LPARAM, std::shared_ptr<const MessagePayload>) override {
        if (thread == nullptr) return;
        if (message == WM_MEAS_INTERVAL_START) thread->IntervalEvent->Set();
        if (message == WM_MEAS_READING) {
            ++readings;
            thread->ReadyEvent->Set();
        }
    }
    LRESULT Send(unsigned, WPARAM, LPARAM) override { return 0; }

    CMeasThread* thread = nullptr;  // set before the thread is resumed
    std::atomic<unsigned> readings{0};
};

struct Run {
    explicit Run(const sim::SimConfig& config)
        : meter(config), link(MakeTermiosSerialDevice(), std::make_unique<NoPorts>()) {}

    bool Start(int captureMode) {
        if (!meter.Start()) return false;
        link.PortNames = {meter.PortName()};
        link.SelectedPort = meter.PortName();
        link.SelectedBaudRate = meter.Config().baudRate;
        thread = std::make_unique<CMeasThread>(&window, link);
        window.thread = thread.get();
        if (!thread->CreateThread()) return false;
        thread->CaptureMode = captureMode;
        thread->CountLimit = 0xFFFFFFFFu;
        thread->CreateEvents();
        thread->ResumeThread();
        const int connected = thread->ConnectInstrument();
        thread->StartEvent->Set();
        if (connected != 0) return false;
        thread->Armed = true;
        return true;
    }

    void Stop() {
        while (thread->StopMeasurement() == 0) {
        }
    }

    sim::MeterSimulator meter;
    CMeterComm link;
    AckWindow window;
    std::unique_ptr<CMeasThread> thread;
};

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

void IntervalRun(quint32 baudRate, double seconds) {
    sim::SimConfig config;
    config.baudRate = baudRate;
    config.pace = true;
    Run run(config);
    if (!run.Start(CaptureInterval)) {
        std::printf("interval run at %u baud: the simulated meter did not answer\n", baudRate);
        return;
    }
    // The window's interval timer at interval 0 ticks every 10 ms.
    std::atomic<bool> ticking{true};
    std::thread ticker([&] {
        auto next = Clock::now();
        while (ticking) {
            next += std::chrono::milliseconds(10);
            std::this_thread::sleep_until(next);
            run.thread->IntervalEvent->Set();
        }
    });
    // Count from the first reading on, so that the set-up pause is not part of the figure.
    while (run.window.readings == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const unsigned first = run.window.readings;
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const unsigned taken = run.window.readings - first;
    const double elapsed = Seconds(Clock::now() - start);
    ticking = false;
    ticker.join();
    run.Stop();

    // Bytes on the wire per capture: the fetch with CR LF, the reply with CR LF; 10 bits each.
    const double fetchBytes = sizeof(":FETC? LIMit\r\n") - 1;
    const double replyBytes = static_cast<double>(run.meter.LastReply().size()) + 2;
    const double wireSeconds = (fetchBytes + replyBytes) * 10.0 / baudRate;
    const double bound = std::min(100.0, 1.0 / wireSeconds);
    // The pseudo-terminal has no wire: the simulator paces the bytes it writes (the reply), the
    // fetch arrives at once. So the figure may pass the bound on the slow line, up to this one.
    const double replyOnlyBound = std::min(100.0, baudRate / (replyBytes * 10.0));
    std::printf(
        "interval run, interval 0, %6u baud: %6.1f captures/s over %.1f s   bound %.1f/s = "
        "min(100/s, 1 / %.2f ms wire time of fetch and reply) [%.0f %% of it]; reply paced "
        "only: %.1f/s\n",
        baudRate, taken / elapsed, elapsed, bound, wireSeconds * 1000.0,
        100.0 * taken / elapsed / bound, replyOnlyBound);
}

void TriggerWait(double seconds) {
    sim::SimConfig config;
    config.triggerSource = "EXT";
    config.pace = true;
    Run run(config);
    if (!run.Start(CaptureExtTrigger)) {
        std::printf("trigger wait: the simulated meter did not answer\n");
        return;
    }
    while (!run.meter.ReadPending()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    clockid_t cpuClock;
    if (pthread_getcpuclockid(run.thread->NativeHandle(), &cpuClock) != 0) {
        std::printf("trigger wait: no CPU clock for the thread\n");
        run.Stop();
        return;
    }
    auto cpuNow = [&] {
        timespec ts{};
        clock_gettime(cpuClock, &ts);
        return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
    };
    const double cpuStart = cpuNow();
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const double cpu = cpuNow() - cpuStart;
    const double elapsed = Seconds(Clock::now() - start);
    run.Stop();
    std::printf(
        "waiting for an external trigger: thread CPU %.3f s over %.1f s = %.2f %% of one core   "
        "(goal: below 5 %%; the loop polls about 1000 times a second)\n",
        cpu, elapsed, 100.0 * cpu / elapsed);
}

}  // namespace

int main(int argc, char** argv) {
    const double intervalSeconds = argc > 1 ? std::atof(argv[1]) : 5.0;
    const double waitSeconds = argc > 2 ? std::atof(argv[2]) : 10.0;
    IntervalRun(115200, intervalSeconds);
    IntervalRun(9600, intervalSeconds);
    TriggerWait(waitSeconds);
    return 0;
}
