// Lines per second that WriteTextRecord appends to a log file on the local disk, with the time of
// one line at the 50th and 99th percentile. Each line is one write() of its own, so this is the
// cost of losing no line in a crash.
//
// Usage: record_text_log_bench [directory] [lines]   (default: the system's temporary folder,
// 20000 lines)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <QDir>
#include <QTemporaryDir>

#include "record/text_log.h"

int main(int argc, char** argv) {
    const QString base = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::tempPath();
    const int lines = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20000;
    QTemporaryDir dir(base + QStringLiteral("/lyr-bench-XXXXXX"));
    if (!dir.isValid()) {
        std::fprintf(stderr, "cannot make a folder in %s\n", qPrintable(base));
        return 1;
    }

    lyr::CRecordView view;
    lyr::CSettingData& s = view.m_settings;
    s.SaveDataIndex = s.SaveDate = s.SaveTime = s.SaveJudge = s.SaveTemp = true;
    s.Separator = 0;
    s.Decimal = 0;
    view.m_strValue = QStringLiteral("+1.2345E-03");
    view.m_strJudge = QStringLiteral("IN");
    view.m_strTemperature = QStringLiteral("23.5");
    if (!view.OpenLogFile(dir.filePath(QStringLiteral("bench.csv")))) {
        std::fprintf(stderr, "cannot open the log file\n");
        return 1;
    }

    using Clock = std::chrono::steady_clock;
    std::vector<double> micros;
    micros.reserve(static_cast<size_t>(lines));
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < lines; ++i) {
        const Clock::time_point t0 = Clock::now();
        if (!view.WriteTextRecord(i)) {
            std::fprintf(stderr, "write %d failed\n", i);
            return 1;
        }
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const Clock::time_point closeStart = Clock::now();
    view.CloseLogFile();
    const double closeMs =
        std::chrono::duration<double, std::milli>(Clock::now() - closeStart).count();

    std::sort(micros.begin(), micros.end());
    const auto at = [&](double q) {
        return micros[std::min(micros.size() - 1, static_cast<size_t>(q * micros.size()))];
    };
    std::printf("text log, %d lines of all six columns, in %s\n", lines, qPrintable(base));
    std::printf("  lines per second : %10.0f   (goal: >= 1000, far above any meter's rate)\n",
                lines / seconds);
    std::printf("  one line, p50    : %10.1f us (goal: < 1000 us)\n", at(0.50));
    std::printf("  one line, p99    : %10.1f us (goal: < 1000 us)\n", at(0.99));
    std::printf("  close with fsync : %10.1f ms\n", closeMs);
    return 0;
}
