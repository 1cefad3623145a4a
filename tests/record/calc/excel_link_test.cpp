#include <memory>

#include <gtest/gtest.h>

#include "record/calc/excel_record.h"
#include "support/recording_message_box.h"
#include "tests/record/calc/fake_excel.h"

namespace lyr {
namespace {

using Fault = test::FakeExcel::Fault;

const QString kErrorText = QStringLiteral("Stand-in - refused");

class ExcelLinkTest : public ::testing::Test {
  protected:
    ExcelLinkTest() {
        excel.AddWorkbook();
        view.m_clock = [] { return LocalTime{2024, 3, 5, 7, 8, 9}; };
        view.m_strValue = QStringLiteral("+1.2345E-03");
        view.m_strJudge = QStringLiteral("IN");
    }

    // Constructed on first use, so that a test can prepare the installation for the probe.
    CExcelRecordView& Writer() {
        if (!writer) writer = std::make_unique<CExcelRecordView>(view);
        return *writer;
    }
    CExcelLink& Link() { return Writer().m_excel; }
    void SaveColumns(bool index, bool date, bool time, bool judge, bool temp) {
        view.m_settings.SaveDataIndex = index;
        view.m_settings.SaveDate = date;
        view.m_settings.SaveTime = time;
        view.m_settings.SaveJudge = judge;
        view.m_settings.SaveTemp = temp;
    }

    test::FakeExcel excel;
    test::FakeAutomationServer server{excel};
    test::RecordingMessageBox box;
    CRecordView view;
    std::unique_ptr<CExcelRecordView> writer;
};

TEST_F(ExcelLinkTest, ProbeVersionLearnsTheLimitsFromTheInstallationWithoutStartingIt) {
    const struct {
        bool installed;
        const char* version;
        Fault fault;
        bool result;
        double dVersion;
        int rows, columns, errors;
    } cases[] = {
        {true, "7.4", Fault::None, true, 7.4, 1048576, 16384, 0},
        {true, "7.3.7.2", Fault::None, true, 7.3, 1048576, 1024, 0},
        {true, "24.2", Fault::None, true, 24.2, 1048576, 16384, 0},
        {false, "7.4", Fault::None, false, -1.0, 0, 0, 0},
        {true, "7.4", Fault::Dispatch, false, -1.0, 0, 0, 1},
        {true, "7.4", Fault::Other, false, -1.0, 0, 0, 1},
    };
    for (const auto& c : cases) {
        server.installed = c.installed;
        server.running = false;
        excel.version = QString::fromLatin1(c.version);
        excel.Inject("Application", dispid::Version, c.fault);
        CExcelLink link;
        EXPECT_EQ(link.ProbeVersion(), c.result) << c.version;
        EXPECT_DOUBLE_EQ(link.m_dVersion, c.dVersion) << c.version;
        EXPECT_EQ(link.m_nMaxRows, c.rows) << c.version;
        EXPECT_EQ(link.m_nMaxColumns, c.columns) << c.version;
        // The constructor probed once already; each probe counts its own failure.
        EXPECT_EQ(link.m_nErrors, 2 * c.errors) << c.version;
    }
    EXPECT_EQ(server.started, 0);
    EXPECT_FALSE(server.running);
    EXPECT_TRUE(box.shown.isEmpty());
}

TEST_F(ExcelLinkTest, OpenAttachesToTheRunningApplicationAndUsesItsActiveSheet) {
    excel.AddWorkbook(3);
    excel.workbooks[1].activeSheet = 2;
    SaveColumns(false, false, false, false, false);
    ASSERT_TRUE(Link().Open());
    EXPECT_TRUE(excel.visible);
    EXPECT_EQ(server.started, 0);
    EXPECT_EQ(excel.FindCall("Workbooks", dispid::Add), nullptr);
    ASSERT_TRUE(Writer().WriteExcelRecord(0));
    EXPECT_EQ(excel.Cell(5, 3, 1, 2), "+1.2345E-03");
    EXPECT_EQ(excel.CellCount(0, 0), 0u);
}

TEST_F(ExcelLinkTest, OpenStartsTheApplicationWhenNoneIsRunning) {
    server.running = false;
    ASSERT_TRUE(Link().Open());
    EXPECT_EQ(server.started, 1);
    EXPECT_TRUE(excel.visible);
}

TEST_F(ExcelLinkTest, OpenAddsAWorkbookWhenNoneIsOpenAndWritesIntoItsFirstSheet) {
    for (int sheets : {1, 0}) {
        excel.workbooks.clear();
        excel.activeWorkbook = -1;
        excel.sheetsOfNewWorkbook = sheets;
        ASSERT_TRUE(Link().Open()) << sheets;
        ASSERT_EQ(excel.workbooks.size(), 1u);
        EXPECT_EQ(excel.workbooks[0].sheets.size(), 1u) << "a sheet is added to an empty book";
        EXPECT_NE(excel.FindCall("Worksheet", dispid::Activate), nullptr);
        EXPECT_EQ(excel.FindCall("Sheets", dispid::Add) != nullptr, sheets == 0);
        ASSERT_TRUE(Writer().WriteExcelRecord(0));
        EXPECT_EQ(excel.Cell(5, 3), "+1.2345E-03");
        Link().Release();
        excel.calls.clear();
    }
    // The collections and the workbook were taken for Open only.
    EXPECT_EQ(excel.Live("Workbooks") + excel.Live("Workbook") + excel.Live("Sheets"), 0);
}

TEST_F(ExcelLinkTest, OpenFailsSilentlyWhenTheApplicationIsMissingOrDoesNotStart) {
    struct {
        bool registered, running, canStart;
    } cases[] = {{false, true, true}, {true, false, false}};
    for (const auto& c : cases) {
        server.registered = c.registered;
        server.running = c.running;
        server.canStart = c.canStart;
        EXPECT_FALSE(Link().Open());
        EXPECT_EQ(Link().m_nErrors, 1);
    }
    EXPECT_TRUE(box.shown.isEmpty());
}

// Every call of every operation fails once with an error of the application (its text is
// shown) and once with another failure (nothing shown); each counts one error.
TEST_F(ExcelLinkTest, EveryOperationReportsDispatchErrorsAndCountsEveryFailure) {
    enum class Op { Open, ActiveCell, WriteRow };  // the operation whose call fails
    const struct {
        const char* object;
        DISPID id;
        Op op;
        bool noWorkbook;
        int sheetsOfNewWorkbook;
    } cases[] = {
        {"Application", dispid::Workbooks, Op::Open, false, 1},
        {"Workbooks", dispid::Count, Op::Open, false, 1},
        {"Application", dispid::ActiveSheet, Op::Open, false, 1},
        {"Workbooks", dispid::Add, Op::Open, true, 1},
        {"Workbook", dispid::Sheets, Op::Open, true, 1},
        {"Sheets", dispid::Count, Op::Open, true, 1},
        {"Sheets", dispid::Add, Op::Open, true, 0},
        {"Sheets", dispid::Item, Op::Open, true, 1},
        {"Worksheet", dispid::Activate, Op::Open, true, 1},
        {"Application", dispid::ActiveCell, Op::ActiveCell, false, 1},
        {"Range", dispid::Address, Op::ActiveCell, false, 1},
        {"Worksheet", dispid::Range, Op::WriteRow, false, 1},
        {"Range", dispid::Value, Op::WriteRow, false, 1},
    };
    for (const auto& c : cases) {
        for (Fault fault : {Fault::Dispatch, Fault::Other}) {
            SCOPED_TRACE(QStringLiteral("%1 0x%2 %3")
                             .arg(c.object)
                             .arg(c.id, 0, 16)
                             .arg(fault == Fault::Dispatch ? "dispatch" : "other")
                             .toStdString());
            excel = test::FakeExcel();
            if (!c.noWorkbook) excel.AddWorkbook();
            excel.sheetsOfNewWorkbook = c.sheetsOfNewWorkbook;
            writer.reset();
            box.shown.clear();
            if (c.op == Op::Open) {
                excel.Inject(c.object, c.id, fault);
                EXPECT_FALSE(Link().Open());
            } else {
                ASSERT_TRUE(Link().Open());
                excel.Inject(c.object, c.id, fault);
                // The active cell is looked up by the run's first reading.
                EXPECT_FALSE(Writer().WriteExcelRecord(0));
            }
            EXPECT_EQ(Link().m_nErrors, 1);
            EXPECT_EQ(box.Texts(),
                      fault == Fault::Dispatch ? QStringList{kErrorText} : QStringList{});
        }
    }
}

TEST_F(ExcelLinkTest, ShowApplicationReportsButNeverCountsItsFailure) {
    for (Fault fault : {Fault::Dispatch, Fault::Other}) {
        box.shown.clear();
        excel.Inject("Application", dispid::Visible, fault);
        EXPECT_TRUE(Link().Open()) << "Open ignores the result";
        EXPECT_FALSE(Link().ShowApplication());
        EXPECT_EQ(Link().m_nErrors, 0);
        const QStringList once = fault == Fault::Dispatch ? QStringList{kErrorText} : QStringList{};
        EXPECT_EQ(box.Texts(), once + once);
        EXPECT_TRUE(Writer().WriteExcelRecord(0));
    }
}

TEST_F(ExcelLinkTest, RowsStartAtTheActiveCellAndGrowDownwards) {
    SaveColumns(true, true, false, true, false);
    view.m_settings.SaveTime = true;
    view.m_settings.Decimal = 1;  // no decimal rule for the spreadsheet
    ASSERT_TRUE(Link().Open());
    for (int index = 0; index < 3; ++index) {
        view.m_strJudge = index == 1 ? QStringLiteral("HI") : QStringLiteral("IN");
        ASSERT_TRUE(Writer().WriteExcelRecord(index));
    }
    for (int r = 0; r < 3; ++r) {
        EXPECT_EQ(excel.Cell(5 + r, 3), QString::number(r + 1));
        EXPECT_EQ(excel.Cell(5 + r, 4), "2024-03-05");
        EXPECT_EQ(excel.Cell(5 + r, 5), "07:08:09");
        EXPECT_EQ(excel.Cell(5 + r, 6), "+1.2345E-03");
        EXPECT_EQ(excel.Cell(5 + r, 7), r == 1 ? "HI" : "IN");
    }
    EXPECT_EQ(excel.CellCount(), 15u);
    EXPECT_EQ(Writer().m_nExcelCellCount, 5);
}

TEST_F(ExcelLinkTest, RowWidthFollowsTheSavedColumns) {
    const struct {
        bool index, date, time, judge, temp;
        int width;
    } cases[] = {{false, false, false, false, false, 1}, {true, true, true, true, true, 6}};
    view.m_strTemperature = QStringLiteral("23.5");
    for (const auto& c : cases) {
        excel = test::FakeExcel();
        excel.AddWorkbook();
        excel.activeCell = std::pair{1, 1};
        SaveColumns(c.index, c.date, c.time, c.judge, c.temp);
        ASSERT_TRUE(Link().Open());
        ASSERT_TRUE(Writer().WriteExcelRecord(0));
        EXPECT_EQ(excel.CellCount(), static_cast<std::size_t>(c.width));
        EXPECT_EQ(excel.Cell(1, c.width == 1 ? 1 : 4), "+1.2345E-03");
        if (c.width == 6) {
            EXPECT_EQ(excel.Cell(1, 6), "23.5");
        }
    }
}

TEST_F(ExcelLinkTest, ASecondRunWithoutMovingTheCursorOverwritesFromTheSameCell) {
    SaveColumns(true, false, false, false, false);
    for (int run : {1, 2}) {
        ASSERT_TRUE(Link().Open());
        view.m_strValue = QStringLiteral("run %1").arg(run);
        for (int index = 0; index < (run == 1 ? 3 : 2); ++index) {
            ASSERT_TRUE(Writer().WriteExcelRecord(index));
        }
        Link().Release();
    }
    EXPECT_EQ(excel.Cell(5, 4), "run 2");
    EXPECT_EQ(excel.Cell(6, 4), "run 2");
    EXPECT_EQ(excel.Cell(7, 4), "run 1");
    EXPECT_EQ(excel.Cell(7, 3), "3");
}

TEST_F(ExcelLinkTest, TheLastRowOfTheSheetIsWrittenAndTheNextRefusedWithoutError) {
    excel.activeCell = std::pair{1048575, 1};
    ASSERT_TRUE(Link().Open());
    ASSERT_EQ(Link().m_nMaxRows, 1048576);
    EXPECT_TRUE(Writer().WriteExcelRecord(0));
    EXPECT_TRUE(Writer().WriteExcelRecord(1));
    EXPECT_FALSE(Writer().WriteExcelRecord(2));
    EXPECT_EQ(excel.Cell(1048576, 1), "+1.2345E-03");
    EXPECT_EQ(excel.CellCount(), 2u);
    EXPECT_EQ(Link().m_nErrors, 0);
    EXPECT_TRUE(box.shown.isEmpty());
}

TEST_F(ExcelLinkTest, AFailedProbeRefusesEveryRow) {
    server.installed = false;
    ASSERT_TRUE(Link().Open());
    EXPECT_EQ(Link().m_nMaxRows, 0);
    excel.activeCell = std::pair{1, 1};
    EXPECT_FALSE(Writer().WriteExcelRecord(0));
    EXPECT_EQ(excel.CellCount(), 0u);
    EXPECT_EQ(Link().m_nErrors, 0);
}

TEST_F(ExcelLinkTest, NoActiveCellFailsTheFirstReadingWithoutCountingAnError) {
    excel.activeCell.reset();
    ASSERT_TRUE(Link().Open());
    EXPECT_FALSE(Writer().WriteExcelRecord(0));
    EXPECT_EQ(Link().m_nErrors, 0);
    EXPECT_TRUE(box.shown.isEmpty());
}

TEST_F(ExcelLinkTest, AfterACountedFailureTheLinkRefusesUntilTheNextOpen) {
    ASSERT_TRUE(Link().Open());
    excel.Inject("Range", dispid::Value, Fault::Other);
    EXPECT_FALSE(Writer().WriteExcelRecord(0));
    excel.Inject("Range", dispid::Value, Fault::None);
    EXPECT_FALSE(Link().BeginRow(3, 6, 1));
    EXPECT_FALSE(Link().SetCell(0, "x"));
    EXPECT_TRUE(Link().WriteRow()) << "writes nothing, fails nothing";
    EXPECT_FALSE(Link().ShowApplication());
    EXPECT_EQ(excel.CellCount(), 0u);
    ASSERT_TRUE(Link().Open());
    EXPECT_EQ(Link().m_nErrors, 0);
    EXPECT_TRUE(Writer().WriteExcelRecord(0));
    EXPECT_EQ(excel.CellCount(), 1u);
}

TEST_F(ExcelLinkTest, ACellOutsideTheOpenRowIsAnUncountedTextlessFailure) {
    ASSERT_TRUE(Link().Open());
    EXPECT_FALSE(Link().SetCell(0, "no row open"));
    EXPECT_EQ(Link().m_nErrors, 0);
    ASSERT_TRUE(Link().BeginRow(3, 5, 2));
    EXPECT_FALSE(Link().SetCell(2, "beyond"));
    EXPECT_EQ(Link().m_nErrors, 1);
    EXPECT_TRUE(box.shown.isEmpty());
}

TEST_F(ExcelLinkTest, ReleaseDropsTheApplicationAndTheWorksheet) {
    ASSERT_TRUE(Link().Open());
    ASSERT_TRUE(Writer().WriteExcelRecord(0));
    EXPECT_TRUE(Link().Release());
    EXPECT_EQ(Link().m_pApplication, nullptr);
    EXPECT_EQ(Link().m_pWorksheet, nullptr);
    EXPECT_EQ(excel.Live("Application") + excel.Live("Worksheet") + excel.Live("Range"), 0);
    EXPECT_EQ(excel.workbooks.size(), 1u) << "nothing is closed";
}

TEST_F(ExcelLinkTest, AWorksheetTargetedByAnUnwrittenRowOutlivesReleaseUntilReleaseTargets) {
    ASSERT_TRUE(Link().Open());
    ASSERT_TRUE(Link().BeginRow(3, 5, 1));
    EXPECT_TRUE(Link().ReleaseTargets()) << "targets still owned are left alone";
    EXPECT_EQ(excel.Live("Worksheet"), 1);
    EXPECT_TRUE(Link().Release());
    EXPECT_EQ(Link().m_pWorksheet, nullptr);
    EXPECT_EQ(excel.Live("Worksheet"), 1);
    EXPECT_EQ(excel.Live("Application"), 1);
    EXPECT_TRUE(Link().ReleaseTargets());
    EXPECT_EQ(Link().m_pTargetWorksheet, nullptr);
    EXPECT_EQ(excel.Live("Worksheet") + excel.Live("Application"), 0);
}

TEST_F(ExcelLinkTest, DestroyingTheLinkReleasesEveryObjectEvenWithARowOpen) {
    ASSERT_TRUE(Link().Open());
    ASSERT_TRUE(Link().BeginRow(3, 5, 1));
    writer.reset();
    EXPECT_EQ(excel.Live("Worksheet") + excel.Live("Application"), 0);
}

TEST_F(ExcelLinkTest, CallsCarryTheArgumentTypesOfTheObjectModel) {
    excel.workbooks.clear();
    excel.activeWorkbook = -1;
    excel.sheetsOfNewWorkbook = 0;
    ASSERT_TRUE(Link().Open());
    ASSERT_TRUE(Writer().WriteExcelRecord(0));
    const struct {
        const char* object;
        DISPID id;
        unsigned kind;
        std::vector<VARTYPE> types;
    } cases[] = {
        {"Application", dispid::Visible, DISPATCH_PROPERTYPUT, {VT_BOOL}},
        {"Application", dispid::Workbooks, DISPATCH_PROPERTYGET, {}},
        {"Workbooks", dispid::Count, DISPATCH_PROPERTYGET, {}},
        {"Workbooks", dispid::Add, DISPATCH_METHOD, {VT_ERROR}},
        {"Workbook", dispid::Sheets, DISPATCH_PROPERTYGET, {}},
        {"Sheets", dispid::Add, DISPATCH_METHOD, {VT_ERROR, VT_ERROR, VT_I4}},
        {"Sheets", dispid::Item, DISPATCH_PROPERTYGET, {VT_I2}},
        {"Worksheet", dispid::Activate, DISPATCH_METHOD, {}},
        {"Application", dispid::ActiveCell, DISPATCH_PROPERTYGET, {}},
        {"Range", dispid::Address, DISPATCH_PROPERTYGET, {VT_I2, VT_I2, VT_I4, VT_I2, VT_I2}},
        {"Worksheet", dispid::Range, DISPATCH_PROPERTYGET, {VT_BSTR, VT_BSTR}},
        {"Range",
         dispid::Value,
         DISPATCH_PROPERTYPUT,
         {static_cast<VARTYPE>(VT_ARRAY | VT_VARIANT)}},
    };
    for (const auto& c : cases) {
        const test::FakeExcel::Call* call = excel.FindCall(c.object, c.id);
        ASSERT_NE(call, nullptr) << c.object << " " << c.id;
        EXPECT_EQ(call->kind, c.kind) << c.object << " " << c.id;
        EXPECT_EQ(call->argTypes, c.types) << c.object << " " << c.id;
    }
}

}  // namespace
}  // namespace lyr
