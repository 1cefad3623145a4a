// Figures of the instrument link against a simulated meter that paces its bytes at the wire
// speed: the round trip of one fetch query and its reply, and what a polling loop costs.
//
//   link_bench [poll-seconds (default 10)] [round trips per rate (default 200)]
#include <sys/resource.h>

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "link/meter_comm.h"
#include "platform/tick.h"
#include "sim/meter_simulator.h"

namespace {

using Clock = std::chrono::steady_clock;

double CpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_THREAD, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[index];
}

bool RoundTrips(quint32 rate, int count) {
    lyr::sim::SimConfig config;
    config.baudRate = rate;
    config.pace = true;
    lyr::sim::MeterSimulator meter(config);
    if (!meter.Start()) {
        std::fprintf(stderr, "simulator did not start\n");
        return false;
    }
    lyr::CMeterComm link(lyr::MakeTermiosSerialDevice(), lyr::MakeUdevPortEnumerator());
    if (!link.OpenPort(meter.PortName(), rate)) {
        std::fprintf(stderr, "could not open %s\n", qPrintable(meter.PortName()));
        return false;
    }
    QString maker, model, serial;
    if (!link.Identify(maker, model, serial)) {
        std::fprintf(stderr, "no identification at %u baud\n", rate);
        return false;
    }

    std::vector<double> ms;
    qsizetype replyBytes = 0;
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        link.SendFetchQuery();
        // Paced like the measurement thread: one poll per millisecond.
        while (!link.PollReply()) {
            if (Clock::now() - start > std::chrono::seconds(5)) {
                std::fprintf(stderr, "reply %d timed out\n", i);
                return false;
            }
            lyr::Sleep(1);
        }
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        replyBytes = link.ReplyBuffer.size() + 2;
    }
    const auto queryBytes =
        static_cast<qsizetype>(lyr::CommandsOfFamily(link.ModelFamily).FetchQuery.size() + 2);
    const auto wireMs = [rate](qsizetype bytes) {
        return static_cast<double>(bytes * 10) * 1000.0 / rate;
    };
    std::printf(
        "round trip at %6u baud: median %7.2f ms  p99 %7.2f ms  (%d trips); "
        "wire time of query + reply (%lld bytes) %6.2f ms, of the reply alone %6.2f ms "
        "(the simulator paces its replies only); bound: wire time + 1 ms poll period\n",
        rate, Percentile(ms, 0.5), Percentile(ms, 0.99), count,
        static_cast<long long>(queryBytes + replyBytes), wireMs(queryBytes + replyBytes),
        wireMs(replyBytes));
    return true;
}

bool PollCost(double seconds) {
    lyr::sim::MeterSimulator meter{lyr::sim::SimConfig{}};
    if (!meter.Start()) return false;
    lyr::CMeterComm link(lyr::MakeTermiosSerialDevice(), lyr::MakeUdevPortEnumerator());
    if (!link.OpenPort(meter.PortName(), 9600)) return false;

    long polls = 0;
    const double cpuStart = CpuSeconds();
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        (void)link.PollReply();  // nothing was asked, nothing arrives: the idle cost
        lyr::Sleep(1);
        ++polls;
    }
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = CpuSeconds() - cpuStart;
    std::printf(
        "PollReply loop with 1 ms sleeps over %.1f s: CPU %.3f s (%.2f %% of one core), "
        "%.0f polls/s; goal: a small fraction of one core, about 1000 polls/s\n",
        wall, cpu, 100.0 * cpu / wall, static_cast<double>(polls) / wall);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    const int trips = argc > 2 ? std::atoi(argv[2]) : 200;
    if (seconds <= 0 || trips <= 0) {
        std::fprintf(stderr, "usage: %s [poll-seconds] [round-trips]\n", argv[0]);
        return 2;
    }
    // Keep the simulators' links out of the user's own virtual port directory.
    QTemporaryDir runtime;
    if (!runtime.isValid()) return 1;
    ::setenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()).constData(), 1);

    bool ok = RoundTrips(9600, trips) && RoundTrips(115200, trips);
    ok = PollCost(seconds) && ok;
    return ok ? 0 : 1;
}
