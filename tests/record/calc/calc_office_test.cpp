// LibreOffice Calc itself behind the link: on an X server and a profile of the test's own.
// Every office a test starts, or makes the link start, is killed at its end.

#include <chrono>
#include <stdexcept>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QProcess>

#include <com/sun/star/awt/XWindow2.hpp>
#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XFrame.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/sheet/XSpreadsheetView.hpp>
#include <com/sun/star/sheet/XSpreadsheets.hpp>
#include <com/sun/star/table/XCell.hpp>
#include <com/sun/star/table/XCellRange.hpp>
#include <com/sun/star/text/XTextRange.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/util/XProtectable.hpp>
#include <com/sun/star/view/XSelectionSupplier.hpp>

#include "record/calc/automation.h"
#include "record/calc/excel_record.h"
#include "support/recording_message_box.h"
#include "tests/record/calc/test_office.h"

namespace lyr {
namespace {

using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

// The test's own look into an office, beside the link.
class OfficeView {
  public:
    explicit OfficeView(Reference<css::uno::XComponentContext> context)
        : m_context(std::move(context)), m_desktop(css::frame::Desktop::create(m_context)) {}

    std::vector<Reference<css::frame::XModel>> CalcDocuments() const {
        std::vector<Reference<css::frame::XModel>> documents;
        auto components = m_desktop->getComponents()->createEnumeration();
        while (components->hasMoreElements()) {
            Reference<css::lang::XServiceInfo> info(components->nextElement(), UNO_QUERY);
            if (info.is() && info->supportsService("com.sun.star.sheet.SpreadsheetDocument")) {
                documents.emplace_back(info, UNO_QUERY);
            }
        }
        return documents;
    }

    Reference<css::frame::XModel> NewDocument() const {
        Reference<css::frame::XComponentLoader> loader(m_desktop, UNO_QUERY_THROW);
        Reference<css::frame::XModel> model(
            loader->loadComponentFromURL("private:factory/scalc", "_blank", 0, {}),
            UNO_QUERY_THROW);
        model->getCurrentController()->getFrame()->activate();
        return model;
    }

    static Reference<css::sheet::XSpreadsheetView> View(const Reference<css::frame::XModel>& m) {
        return Reference<css::sheet::XSpreadsheetView>(m->getCurrentController(), UNO_QUERY_THROW);
    }

    static Reference<css::sheet::XSpreadsheet> AddSheet(const Reference<css::frame::XModel>& m,
                                                        const char* name) {
        auto sheets = Reference<css::sheet::XSpreadsheetDocument>(m, UNO_QUERY_THROW)->getSheets();
        sheets->insertNewByName(OUString::createFromAscii(name), 1);
        return Reference<css::sheet::XSpreadsheet>(
            sheets->getByName(OUString::createFromAscii(name)), UNO_QUERY_THROW);
    }

    static void Select(const Reference<css::frame::XModel>& m, const char* range) {
        auto sheet = View(m)->getActiveSheet();
        Reference<css::view::XSelectionSupplier>(m->getCurrentController(), UNO_QUERY_THROW)
            ->select(css::uno::Any(sheet->getCellRangeByName(OUString::createFromAscii(range))));
    }

    static Reference<css::table::XCell> Cell(const Reference<css::sheet::XSpreadsheet>& sheet,
                                             const char* name) {
        return Reference<css::table::XCellRange>(sheet, UNO_QUERY_THROW)
            ->getCellRangeByName(OUString::createFromAscii(name))
            ->getCellByPosition(0, 0);
    }
    static QString Text(const Reference<css::table::XCell>& cell) {
        return ToQString(Reference<css::text::XTextRange>(cell, UNO_QUERY_THROW)->getString());
    }
    static bool IsVisible(const Reference<css::frame::XModel>& m) {
        Reference<css::awt::XWindow2> window(
            m->getCurrentController()->getFrame()->getContainerWindow(), UNO_QUERY_THROW);
        return window->isVisible();
    }

  private:
    Reference<css::uno::XComponentContext> m_context;
    Reference<css::frame::XDesktop2> m_desktop;
};

constexpr LocalTime kNow{2024, 3, 5, 7, 8, 9};
// The same moment as Calc's date and time serial numbers.
constexpr double kDateSerial = 45356.0;
constexpr double kTimeSerial = (7 * 3600 + 8 * 60 + 9) / 86400.0;

class CalcOfficeTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { xserver = std::make_unique<test::XServer>(); }
    static void TearDownTestSuite() { xserver.reset(); }

    void SetUp() override {
        ASSERT_FALSE(xserver->display.isEmpty()) << "Xvfb did not start";
        office.Kill();
        server = CreateCalcAutomationServer(office.LinkOptions());
        ASSERT_NE(server, nullptr);
        SetAutomationServer(server.get());
        view.m_clock = [] { return kNow; };
        view.m_strValue = QStringLiteral("1.2345E-03");
        view.m_strJudge = QStringLiteral("IN");
    }
    void TearDown() override {
        writer.reset();
        SetAutomationServer(nullptr);
        office.Kill();
        EXPECT_TRUE(office.OfficePids().isEmpty()) << "an office of the test survived";
    }

    CExcelRecordView& Writer() {
        if (!writer) writer = std::make_unique<CExcelRecordView>(view);
        return *writer;
    }
    CExcelLink& Link() { return Writer().m_excel; }
    void SaveColumns(bool index, bool date, bool time, bool judge) {
        view.m_settings.SaveDataIndex = index;
        view.m_settings.SaveDate = date;
        view.m_settings.SaveTime = time;
        view.m_settings.SaveJudge = judge;
        view.m_settings.SaveTemp = false;
    }
    // Opens on an office the link starts and writes the run's first reading into A1 of the new
    // document; answers the test's view of that document's sheet.
    Reference<css::sheet::XSpreadsheet> OpenAndWriteFirstRow() {
        SaveColumns(true, false, false, false);
        EXPECT_TRUE(Link().Open());
        EXPECT_TRUE(Writer().WriteExcelRecord(0));
        auto context = test::TestOffice::Connect(office.linkPipe);
        if (!context.is()) throw std::runtime_error("no office on the link's pipe");
        officeView = std::make_unique<OfficeView>(context);
        document = officeView->CalcDocuments().at(0);
        return OfficeView::View(document)->getActiveSheet();
    }

    static inline std::unique_ptr<test::XServer> xserver;
    test::TestOffice office;
    std::unique_ptr<IAutomationServer> server;
    test::RecordingMessageBox box;
    CRecordView view;
    std::unique_ptr<CExcelRecordView> writer;
    std::unique_ptr<OfficeView> officeView;
    Reference<css::frame::XModel> document;
};

TEST_F(CalcOfficeTest, ProbeReadsTheInstalledVersionWithoutStartingAnOffice) {
    CExcelLink link;
    const QString installed = InstalledCalcVersion(QStringLiteral("/usr/lib/libreoffice"));
    ASSERT_FALSE(installed.isEmpty());
    EXPECT_DOUBLE_EQ(link.m_dVersion, installed.section(u'.', 0, 1).toDouble());
    EXPECT_EQ(link.m_nMaxRows, 1048576);
    EXPECT_EQ(link.m_nMaxColumns, link.m_dVersion < 7.4 ? 1024 : 16384);
    EXPECT_TRUE(office.OfficePids().isEmpty());
}

TEST_F(CalcOfficeTest, OpenWithNoOfficeRunningStartsOneAndAddsAVisibleWorkbook) {
    ASSERT_TRUE(office.OfficePids().isEmpty());
    SaveColumns(true, true, true, true);
    ASSERT_TRUE(Link().Open());
    EXPECT_FALSE(office.OfficePids().isEmpty());
    EXPECT_EQ(GetVersionText(*Link().m_pApplication),
              InstalledCalcVersion(QStringLiteral("/usr/lib/libreoffice")));

    auto context = test::TestOffice::Connect(office.linkPipe);
    ASSERT_TRUE(context.is());
    OfficeView user(context);
    const auto documents = user.CalcDocuments();
    ASSERT_EQ(documents.size(), 1u);
    EXPECT_TRUE(OfficeView::IsVisible(documents[0]));

    for (int index = 0; index < 3; ++index) ASSERT_TRUE(Writer().WriteExcelRecord(index));
    auto sheet = OfficeView::View(documents[0])->getActiveSheet();
    EXPECT_DOUBLE_EQ(OfficeView::Cell(sheet, "A3")->getValue(), 3.0);
    EXPECT_EQ(OfficeView::Text(OfficeView::Cell(sheet, "E3")), "IN");
    EXPECT_TRUE(box.shown.isEmpty());

    // One look at the window with the rows in it, for whoever runs the test.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const QString shot = QStringLiteral(LYR_SCREENSHOT_PATH);
    if (QProcess::execute(QStringLiteral("import"),
                          {QStringLiteral("-display"), xserver->display, QStringLiteral("-window"),
                           QStringLiteral("root"), shot}) != 0) {
        std::fprintf(stderr, "no screenshot taken (ImageMagick's import missing?)\n");
    } else {
        std::fprintf(stderr, "screenshot: %s\n", qPrintable(shot));
    }
}

TEST_F(CalcOfficeTest, WithAnOfficeRunningOpenAttachesAndWritesFromTheActiveCellOfTheActiveSheet) {
    auto context = office.StartUserOffice();
    ASSERT_TRUE(context.is()) << "the user's office did not start";
    OfficeView user(context);
    const auto other = user.NewDocument();
    const auto active = user.NewDocument();
    const auto sheet = OfficeView::AddSheet(active, "Data");
    OfficeView::View(active)->setActiveSheet(sheet);
    OfficeView::Select(active, "C5");

    SaveColumns(true, true, true, true);
    ASSERT_TRUE(Link().Open());
    EXPECT_EQ(user.CalcDocuments().size(), 2u) << "no workbook added to a running office";
    for (int index = 0; index < 3; ++index) {
        view.m_strJudge = index == 1 ? QStringLiteral("HI") : QStringLiteral("IN");
        ASSERT_TRUE(Writer().WriteExcelRecord(index));
    }
    const char* rows[] = {"5", "6", "7"};
    for (int r = 0; r < 3; ++r) {
        auto cell = [&](const char* column) {
            return OfficeView::Cell(sheet, (QByteArray(column) + rows[r]).constData());
        };
        SCOPED_TRACE(rows[r]);
        // Calc converts the texts as typed input: numbers, a date, a time, a number, a text.
        EXPECT_DOUBLE_EQ(cell("C")->getValue(), r + 1.0);
        EXPECT_EQ(cell("D")->getType(), css::table::CellContentType_VALUE);
        EXPECT_DOUBLE_EQ(cell("D")->getValue(), kDateSerial);
        EXPECT_NEAR(cell("E")->getValue(), kTimeSerial, 1e-9);
        // ...shown as typed.
        EXPECT_EQ(OfficeView::Text(cell("D")), "2024-03-05");
        EXPECT_EQ(OfficeView::Text(cell("E")), "07:08:09");
        EXPECT_DOUBLE_EQ(cell("F")->getValue(), 1.2345E-03);
        EXPECT_EQ(OfficeView::Text(cell("G")), r == 1 ? "HI" : "IN");
        EXPECT_EQ(OfficeView::Text(cell("B")), "");
        EXPECT_EQ(OfficeView::Text(cell("H")), "");
    }
    EXPECT_EQ(OfficeView::Text(OfficeView::Cell(sheet, "C8")), "");
    auto otherSheet = OfficeView::View(other)->getActiveSheet();
    EXPECT_EQ(OfficeView::Text(OfficeView::Cell(otherSheet, "C5")), "");

    // A second run without moving the cursor starts over at the same cell. A reply that looks
    // like a formula stays text.
    ASSERT_TRUE(Link().Release());
    ASSERT_TRUE(Link().Open());
    view.m_strValue = QStringLiteral("=1+1");
    for (int index = 0; index < 2; ++index) ASSERT_TRUE(Writer().WriteExcelRecord(index));
    EXPECT_EQ(OfficeView::Cell(sheet, "F5")->getType(), css::table::CellContentType_TEXT);
    EXPECT_EQ(OfficeView::Text(OfficeView::Cell(sheet, "F5")), "=1+1");
    EXPECT_EQ(OfficeView::Text(OfficeView::Cell(sheet, "F6")), "=1+1");
    EXPECT_DOUBLE_EQ(OfficeView::Cell(sheet, "F7")->getValue(), 1.2345E-03);
    EXPECT_DOUBLE_EQ(OfficeView::Cell(sheet, "C7")->getValue(), 3.0);
    EXPECT_TRUE(box.shown.isEmpty());
}

TEST_F(CalcOfficeTest, ValueOnlyRowsHaveOneCellFromTheCursorOfARangeSelection) {
    SaveColumns(false, false, false, false);
    ASSERT_TRUE(Link().Open());
    auto context = test::TestOffice::Connect(office.linkPipe);
    ASSERT_TRUE(context.is());
    OfficeView user(context);
    const auto documents = user.CalcDocuments();
    ASSERT_EQ(documents.size(), 1u);
    OfficeView::Select(documents[0], "B2:D4");
    for (int index = 0; index < 2; ++index) ASSERT_TRUE(Writer().WriteExcelRecord(index));
    auto sheet = OfficeView::View(documents[0])->getActiveSheet();
    EXPECT_DOUBLE_EQ(OfficeView::Cell(sheet, "B2")->getValue(), 1.2345E-03);
    EXPECT_DOUBLE_EQ(OfficeView::Cell(sheet, "B3")->getValue(), 1.2345E-03);
    EXPECT_EQ(OfficeView::Text(OfficeView::Cell(sheet, "C2")), "");
    EXPECT_EQ(OfficeView::Text(OfficeView::Cell(sheet, "B4")), "");
    EXPECT_EQ(OfficeView::Text(OfficeView::Cell(sheet, "A1")), "");
}

TEST_F(CalcOfficeTest, AProtectedSheetShowsCalcsErrorAndFailsTheWrite) {
    auto sheet = OpenAndWriteFirstRow();
    Reference<css::util::XProtectable>(sheet, UNO_QUERY_THROW)->protect("");
    EXPECT_FALSE(Writer().WriteExcelRecord(1));
    EXPECT_EQ(box.Texts(), QStringList{"LibreOffice Calc - The sheet is protected."});
    EXPECT_EQ(Link().m_nErrors, 1);
    EXPECT_EQ(OfficeView::Text(OfficeView::Cell(sheet, "A2")), "");
}

TEST_F(CalcOfficeTest, ADocumentClosedAfterTheFirstReadingFailsTheNextWrite) {
    (void)OpenAndWriteFirstRow();
    Reference<css::util::XCloseable>(document, UNO_QUERY_THROW)->close(true);
    EXPECT_FALSE(Writer().WriteExcelRecord(1));
    EXPECT_EQ(box.Texts(), QStringList{"LibreOffice Calc - The document has been closed."});
    EXPECT_EQ(Link().m_nErrors, 1);
}

TEST_F(CalcOfficeTest, AKilledOfficeFailsTheNextWriteWithNoTextOfItsOwn) {
    (void)OpenAndWriteFirstRow();
    document.clear();
    officeView.reset();
    office.Kill();
    EXPECT_FALSE(Writer().WriteExcelRecord(1));
    EXPECT_TRUE(box.shown.isEmpty());
    EXPECT_EQ(Link().m_nErrors, 1);
    EXPECT_TRUE(Link().Release());
}

}  // namespace
}  // namespace lyr
