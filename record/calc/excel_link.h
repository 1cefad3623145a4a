#pragma once

#include <memory>

#include <QString>

#include "record/calc/dispatch.h"

namespace lyr {

// The main window's link to the spreadsheet application: attaches to it (or starts it) for a
// run, and writes each reading as one row of the worksheet, starting at the cell that was active
// when the run's first reading came. Never saves, closes or quits the workbook or the
// application: releasing its objects is all it does. Used on the user-interface thread only.
//
// Error convention of every operation: an error the application reports (a dispatch exception)
// is shown with the application's own text (not by ProbeVersion); every failure counts in
// m_nErrors (not in ShowApplication), and while m_nErrors is nonzero the row operations refuse
// until the next Open.
class CExcelLink {
  public:
    // Probes the installed version; never starts the application nor waits for one.
    CExcelLink();
    ~CExcelLink();  // ReleaseTargets, then Release
    CExcelLink(const CExcelLink&) = delete;
    CExcelLink& operator=(const CExcelLink&) = delete;

    // Learns the version and the worksheet limits from the installation; false, limits 0 and
    // nothing shown when the application is not installed.
    bool ProbeVersion();
    // Attaches to a running application or starts one, shows it and chooses the worksheet: the
    // active sheet of the active workbook, or the first sheet of a workbook it adds when none is
    // open.
    [[nodiscard]] bool Open();
    bool ShowApplication();
    // Column and row of the application's active cell; false when there is none or the lookup
    // failed.
    [[nodiscard]] bool GetActiveCellPosition(int& column, int& row);
    // One row at a time: BeginRow opens it in memory, SetCell fills its cells (index 0 first),
    // WriteRow hands the whole row to the application in one range call and closes it.
    [[nodiscard]] bool BeginRow(int column, int row, int width);
    [[nodiscard]] bool SetCell(int index, const QString& text);
    [[nodiscard]] bool WriteRow();
    // Releases the application and worksheet objects (a driver a row still targets stays with
    // the target member until ReleaseTargets).
    bool Release();
    // Releases target objects that are no longer owned.
    bool ReleaseTargets();

  private:
    // The error convention of the counted operations: a dispatch exception is shown with the
    // application's own text and counted, any other failure is counted silently; both give
    // FALSE. Otherwise the result of `body`.
    template <typename Body>
    bool Counted(Body&& body);

  public:
    double m_dVersion = -1.0;  // version number of the application; -1.0 until read
    int m_nMaxRows = 0;        // highest row a row may be written to; 0 until a probe succeeds
    int m_nMaxColumns = 0;     // columns of a worksheet; recorded only
    std::shared_ptr<COleDispatchDriver> m_pApplication;  // between Open and Release
    std::shared_ptr<COleDispatchDriver> m_pWorksheet;    // the worksheet receiving the rows
    COleSafeArray* m_pTargetData = nullptr;              // borrowed: m_pRowData of the open row
    // The application and worksheet of the open row. They share the driver with m_pApplication
    // and m_pWorksheet; after Release they alone keep a still targeted driver alive, until the
    // row is written or ReleaseTargets runs.
    std::shared_ptr<COleDispatchDriver> m_pTargetApplication;
    std::shared_ptr<COleDispatchDriver> m_pTargetWorksheet;
    std::unique_ptr<COleSafeArray> m_pRowData;  // the open row: 1 x m_nRowWidth variants
    int m_nErrors = 0;                          // failed operations since the last Open
    int m_nRowColumn = 0;                       // column (1 = A) of the open row's first cell
    int m_nRowNumber = 0;                       // row number (1-based) of the open row
    int m_nRowWidth = 0;                        // cells of the open row
    int m_nRowHeight = 0;                       // rows of the open block; always 1
};

// The worksheet limits of LibreOffice Calc of version `version`: 1048576 rows, and 16384
// columns from 7.4 on (1024 before).
struct SheetLimits {
    int rows;
    int columns;
};
[[nodiscard]] SheetLimits CalcSheetLimits(double version);

}  // namespace lyr
