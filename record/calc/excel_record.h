#pragma once

#include "record/calc/excel_link.h"
#include "record/text_log.h"

namespace lyr {

// What the spreadsheet writer adds to the main window: the link and the position of the
// current run in the worksheet. It reads the reading on display, the settings and the clock
// from the window's CRecordView, which must outlive it. User-interface thread only.
class CExcelRecordView {
  public:
    explicit CExcelRecordView(const CRecordView& view) : m_view(view) {}

    // Writes the reading on display as one row; `index` is zero-based within the run. The
    // run's first reading (0) fixes the start column, the row and the row width from the active
    // cell; each further one writes the next row down. False when the row was not written.
    [[nodiscard]] bool WriteExcelRecord(int index);

    CExcelLink m_excel;
    int m_nExcelStartColumn = 0;  // column of the first cell of every row of the run
    int m_nExcelRow = 0;          // row of the last row begun in the run
    int m_nExcelCellCount = 0;    // cells per row in the run

  private:
    const CRecordView& m_view;
};

}  // namespace lyr
