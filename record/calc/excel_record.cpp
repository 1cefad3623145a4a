#include "record/calc/excel_record.h"

namespace lyr {

bool CExcelRecordView::WriteExcelRecord(int index) {
    const CSettingData& settings = m_view.m_settings;
    LocalTime now;
    if (settings.SaveDate || settings.SaveTime) now = m_view.m_clock();

    if (index == 0) {
        m_nExcelCellCount = 1 + int(settings.SaveDataIndex) + int(settings.SaveDate) +
                            int(settings.SaveTime) + int(settings.SaveJudge) +
                            int(settings.SaveTemp);
        if (!m_excel.GetActiveCellPosition(m_nExcelStartColumn, m_nExcelRow)) return false;
    } else {
        ++m_nExcelRow;
    }
    if (!m_excel.BeginRow(m_nExcelStartColumn, m_nExcelRow, m_nExcelCellCount)) return false;

    // Every cell goes over as text: number, date and time conversion is the spreadsheet's own.
    int k = 0;
    if (settings.SaveDataIndex) {
        if (!m_excel.SetCell(0, QString::number(index + 1))) return false;
        k = 1;
    }
    if (settings.SaveDate) {
        if (!m_excel.SetCell(k,
                             QString::asprintf("%04d-%02d-%02d", now.year, now.month, now.day))) {
            return false;
        }
        ++k;
    }
    if (settings.SaveTime) {
        if (!m_excel.SetCell(
                k, QString::asprintf("%02d:%02d:%02d", now.hour, now.minute, now.second))) {
            return false;
        }
        ++k;
    }
    if (!m_excel.SetCell(k, m_view.m_strValue)) return false;
    if (settings.SaveJudge) {
        ++k;
        if (!m_excel.SetCell(k, m_view.m_strJudge)) return false;
    }
    if (settings.SaveTemp) {
        ++k;
        if (!m_excel.SetCell(k, m_view.m_strTemperature)) return false;
    }
    return m_excel.WriteRow();
}

}  // namespace lyr
