// LibreOffice lost in the middle of a spreadsheet run: the office killed, or its document
// closed. The failure is reported once, the run stops, and the program goes on working: a new
// run to a text file logs every capture.
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>
#include <com/sun/star/util/XCloseable.hpp>

#include <cstdio>

#include "bench_run.h"
#include "record/calc/calc_server.h"
#include "record/calc/calc_uno.h"
#include "tests/record/calc/test_office.h"
#include "ui/main_window_fixture.h"

namespace lyr::test {
namespace {

using css::uno::Reference;
using css::uno::UNO_QUERY;

constexpr int OfficeWaitMs = 180000;  // a first start on a new profile takes a while

enum class OfficeLoss { Killed, DocumentClosed };

// Closes every spreadsheet document of the office on `pipe`, as the operator closing the window
// of the workbook the run writes to.
int CloseSpreadsheets(const QString& pipe) {
    auto ctx = TestOffice::Connect(pipe);
    if (!ctx.is()) return 0;
    int closed = 0;
    auto components = css::frame::Desktop::create(ctx)->getComponents()->createEnumeration();
    while (components->hasMoreElements()) {
        Reference<css::lang::XServiceInfo> info(components->nextElement(), UNO_QUERY);
        if (!info.is() || !info->supportsService("com.sun.star.sheet.SpreadsheetDocument"))
            continue;
        Reference<css::util::XCloseable> closeable(info, UNO_QUERY);
        if (!closeable.is()) continue;
        closeable->close(true);
        ++closed;
    }
    return closed;
}

class OfficeLostDuringRun : public MainWindowTest,
                            public ::testing::WithParamInterface<OfficeLoss> {};

TEST_P(OfficeLostDuringRun, ReportsOnceStopsTheRunAndTheNextTextRunWorks) {
    XServer xserver;
    ASSERT_FALSE(xserver.display.isEmpty()) << "Xvfb did not start";
    TestOffice office;
    office.Kill();
    auto server = CreateCalcAutomationServer(office.LinkOptions());
    ASSERT_NE(server, nullptr);
    SetAutomationServer(server.get());

    sim::SimConfig config;
    config.baudRate = 115200;
    ASSERT_TRUE(StartSimulator(config));
    WriteSettings({{"FILE_TYPE", "CsvEnable", "1"},
                   {"LOG_TYPE", "LogType", "2"},
                   {"LOG_TYPE", "LogInterval", "1"},
                   {"LOG_TYPE", "LogLimit", "1000000"}});
    OpenWindow();
    ClickStart();  // starts the office
    ASSERT_TRUE(Running()) << m_box.Texts().join('|').toStdString();
    ASSERT_TRUE(WaitUntil([&] { return ValueCaption().endsWith("No.3"); }, OfficeWaitMs));
    ASSERT_TRUE(m_box.shown.isEmpty()) << m_box.Texts().join('|').toStdString();

    if (GetParam() == OfficeLoss::Killed)
        office.Kill();
    else
        ASSERT_GE(CloseSpreadsheets(office.linkPipe), 1);
    EXPECT_TRUE(WaitIdle(60000));
    QTest::qWait(500);  // readings still queued must not report again
    const QStringList texts = m_box.Texts();
    std::printf("  shown: %s\n", texts.join(" | ").toUtf8().constData());
    // The office's own error text may come first; "Failed to save data." comes once.
    EXPECT_EQ(texts.count(LoadString(IDS_FAILED_SAVE_DATA)), 1) << texts.join('|').toStdString();
    EXPECT_LE(texts.size(), 2) << texts.join('|').toStdString();
    ExpectIdleControls();

    // The program goes on: a text run logs every capture once.
    m_box.shown.clear();
    ClickRadio(IDC_RADIO_SAVE_FILE);
    ASSERT_EQ(Dlg().m_nSaveTarget, 0);
    ClickStart();
    ASSERT_TRUE(Running()) << m_box.Texts().join('|').toStdString();
    const QString log = Dlg().m_strFilePath;
    EXPECT_TRUE(WaitUntil([&] { return ReadLog(log).lines.size() >= 5; }, 60000));
    ClickStop();
    EXPECT_TRUE(WaitIdle());
    EXPECT_TRUE(m_box.shown.isEmpty()) << m_box.Texts().join('|').toStdString();
    const LogContent content = ReadLog(log);
    EXPECT_FALSE(content.torn);
    EXPECT_TRUE(NumberedOnceInOrder(content.lines));

    m_dlg->DestroyWindow();
    m_dlg.reset();
    SetAutomationServer(nullptr);
    office.Kill();
}

INSTANTIATE_TEST_SUITE_P(Reliability, OfficeLostDuringRun,
                         ::testing::Values(OfficeLoss::Killed, OfficeLoss::DocumentClosed),
                         [](const auto& info) {
                             return std::string(
                                 info.param == OfficeLoss::Killed ? "Killed" : "DocumentClosed");
                         });

}  // namespace
}  // namespace lyr::test
