// A spreadsheet run of the main window into LibreOffice Calc itself: the office on an X server and
// a profile of the test's own (killed at the end), the window on the offscreen platform.

#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetView.hpp>
#include <com/sun/star/table/XCell.hpp>
#include <com/sun/star/table/XCellRange.hpp>
#include <com/sun/star/text/XTextRange.hpp>

#include "main_window_fixture.h"
#include "record/calc/calc_server.h"
#include "record/calc/calc_uno.h"
#include "tests/record/calc/test_office.h"

namespace lyr::test {
namespace {

using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

// The active sheet of the office's only Calc document.
Reference<css::sheet::XSpreadsheet> ActiveSheet(const Reference<css::uno::XComponentContext>& ctx) {
    auto desktop = css::frame::Desktop::create(ctx);
    auto components = desktop->getComponents()->createEnumeration();
    while (components->hasMoreElements()) {
        Reference<css::lang::XServiceInfo> info(components->nextElement(), UNO_QUERY);
        if (info.is() && info->supportsService("com.sun.star.sheet.SpreadsheetDocument")) {
            Reference<css::frame::XModel> model(info, UNO_QUERY_THROW);
            return Reference<css::sheet::XSpreadsheetView>(model->getCurrentController(),
                                                           UNO_QUERY_THROW)
                ->getActiveSheet();
        }
    }
    return {};
}

QString CellText(const Reference<css::sheet::XSpreadsheet>& sheet, const char* name) {
    auto cell = Reference<css::table::XCellRange>(sheet, UNO_QUERY_THROW)
                    ->getCellRangeByName(OUString::createFromAscii(name))
                    ->getCellByPosition(0, 0);
    return ToQString(Reference<css::text::XTextRange>(cell, UNO_QUERY_THROW)->getString());
}

TEST_F(MainWindowTest, SpreadsheetRunWritesOneRowPerCaptureFromTheActiveCell) {
    XServer xserver;
    ASSERT_FALSE(xserver.display.isEmpty()) << "Xvfb did not start";
    TestOffice office;
    office.Kill();
    auto server = CreateCalcAutomationServer(office.LinkOptions());
    ASSERT_NE(server, nullptr);
    SetAutomationServer(server.get());

    ASSERT_TRUE(StartSimulator());
    WriteSettings({{"FILE_TYPE", "CsvEnable", "1"},
                   {"LOG_TYPE", "LogType", "2"},
                   {"LOG_TYPE", "LogInterval", "1"},
                   {"LOG_TYPE", "LogLimit", "3"}});
    OpenWindow();
    EXPECT_TRUE(Dlg().GetRadio(IDC_RADIO_SAVE_EXCEL)->isChecked());
    ClickStart();  // starts an office on the test profile: may take a while on a new profile
    EXPECT_TRUE(WaitIdle(180000));
    EXPECT_TRUE(m_box.shown.isEmpty()) << m_box.Texts().join('|').toStdString();
    EXPECT_EQ(ValueCaption(), "Measurement Value No.3");

    // A new workbook's active cell is A1: number, value, judgement in A to C, rows 1 to 3.
    auto sheet = ActiveSheet(TestOffice::Connect(office.linkPipe));
    ASSERT_TRUE(sheet.is());
    const char* numbers[] = {"A1", "A2", "A3"};
    for (int i = 0; i < 3; ++i) EXPECT_EQ(CellText(sheet, numbers[i]), QString::number(i + 1));
    for (const char* judge : {"C1", "C2", "C3"})
        EXPECT_TRUE(QStringList({"IN", "HI", "LO"}).contains(CellText(sheet, judge))) << judge;
    EXPECT_FALSE(CellText(sheet, "B3").isEmpty());
    EXPECT_EQ(CellText(sheet, "A4"), "");

    m_dlg->DestroyWindow();
    m_dlg.reset();
    SetAutomationServer(nullptr);
    office.Kill();
}

}  // namespace
}  // namespace lyr::test
