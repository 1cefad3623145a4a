// Rows per second through WriteExcelRecord into a real LibreOffice Calc: one Range lookup and
// one Value assignment per reading (plus the formats of a date and a time cell). Starts an X
// server and an office of its own, on a profile of its own, and kills both at the end.

#include <chrono>
#include <cstdio>

#include "record/calc/excel_record.h"
#include "tests/record/calc/test_office.h"
#include "support/recording_message_box.h"

namespace {

struct Columns {
    const char* name;
    bool index, date, time, judge, temp;
};

}  // namespace

int main() {
    using namespace lyr;
    test::XServer xserver;
    if (xserver.display.isEmpty()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    test::TestOffice office;
    auto server = CreateCalcAutomationServer(office.LinkOptions());
    if (!server) {
        std::fprintf(stderr, "this build has no Calc connection\n");
        return 1;
    }
    SetAutomationServer(server.get());
    test::RecordingMessageBox box;
    int status = 0;
    {
        CRecordView view;
        view.m_strValue = QStringLiteral("+1.23456E-03");
        view.m_strJudge = QStringLiteral("IN");
        view.m_strTemperature = QStringLiteral("23.5");
        CExcelRecordView writer(view);

        const auto startOpen = std::chrono::steady_clock::now();
        if (!writer.m_excel.Open()) {
            std::fprintf(stderr, "Open failed\n");
            status = 1;
        } else {
            const double openMs = std::chrono::duration<double, std::milli>(
                                      std::chrono::steady_clock::now() - startOpen)
                                      .count();
            std::printf("Open, starting an office on a new profile: %.0f ms\n", openMs);
            const Columns columns[] = {{"value only (1 cell)", false, false, false, false, false},
                                       {"all columns (6 cells)", true, true, true, true, true}};
            constexpr int kRows = 2000;
            for (const Columns& c : columns) {
                view.m_settings.SaveDataIndex = c.index;
                view.m_settings.SaveDate = c.date;
                view.m_settings.SaveTime = c.time;
                view.m_settings.SaveJudge = c.judge;
                view.m_settings.SaveTemp = c.temp;
                const auto start = std::chrono::steady_clock::now();
                int written = 0;
                while (written < kRows && writer.WriteExcelRecord(written)) ++written;
                const double seconds =
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
                std::printf(
                    "%-22s %5d rows in %6.2f s: %7.0f rows/s  (goal: >= 200 rows/s, "
                    "a reading every 10 ms)\n",
                    c.name, written, seconds, written / seconds);
                if (written < kRows) status = 1;
            }
        }
        writer.m_excel.Release();
    }
    SetAutomationServer(nullptr);
    office.Kill();
    return status;
}
