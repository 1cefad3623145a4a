#include "record/calc/excel_link.h"

#include <new>

#include "record/calc/automation.h"

namespace lyr {

SheetLimits CalcSheetLimits(double version) {
    return version < 7.4 ? SheetLimits{1048576, 1024} : SheetLimits{1048576, 16384};
}

namespace {
// The leading decimal number of a version text: "7.4.7.2" gives 7.4, "12.0" gives 12.0.
double LeadingVersionNumber(const QString& text) {
    qsizetype end = 0;
    while (end < text.size() && text[end].isDigit()) ++end;
    if (end < text.size() && text[end] == u'.') {
        ++end;
        while (end < text.size() && text[end].isDigit()) ++end;
    }
    bool ok = false;
    const double number = QStringView(text).left(end).toDouble(&ok);
    return ok ? number : 0.0;
}
}  // namespace

template <typename Body>
bool CExcelLink::Counted(Body&& body) {
    try {
        return body();
    } catch (const COleDispatchException& e) {
        ReportDispatchError(e);
        ++m_nErrors;
        return false;
    } catch (...) {
        ++m_nErrors;
        return false;
    }
}

CExcelLink::CExcelLink() { ProbeVersion(); }

CExcelLink::~CExcelLink() {
    ReleaseTargets();
    Release();
}

bool CExcelLink::ProbeVersion() {
    m_dVersion = -1.0;
    m_nMaxRows = 0;
    m_nMaxColumns = 0;
    // Runs while the main window is being built: the installed application's object answers
    // from the installation, so start-up never waits for the application nor leaves one
    // running.
    COleDispatchDriver application;
    try {
        if (!application.CreateInstalledDispatch(QString::fromLatin1(kExcelProgId))) {
            application.ReleaseDispatch();
            return false;
        }
        m_dVersion = LeadingVersionNumber(GetVersionText(application));
        const SheetLimits limits = CalcSheetLimits(m_dVersion);
        m_nMaxRows = limits.rows;
        m_nMaxColumns = limits.columns;
        application.ReleaseDispatch();
        return true;
    } catch (...) {
        // Shown nowhere, dispatch exception or not: the window is not up yet.
        ++m_nErrors;
        application.ReleaseDispatch();
        return false;
    }
}

bool CExcelLink::Open() {
    m_nErrors = 0;
    try {
        m_pApplication = std::make_shared<COleDispatchDriver>();
    } catch (const std::bad_alloc&) {
        ++m_nErrors;
        return false;
    }
    return Counted([&] {
        CLSID clsid;
        if (!CLSIDFromProgID(QString::fromLatin1(kExcelProgId), clsid)) {
            ++m_nErrors;
            return false;
        }
        if (std::shared_ptr<IDispatch> running = GetActiveObject(clsid)) {
            m_pApplication->AttachDispatch(std::move(running));
        } else if (!m_pApplication->CreateDispatch(QString::fromLatin1(kExcelProgId))) {
            ++m_nErrors;
            return false;
        }
        ShowApplication();

        m_pWorksheet = std::make_shared<COleDispatchDriver>();
        COleDispatchDriver workbooks(m_pApplication->GetProperty(dispid::Workbooks).pdispVal());
        const std::int32_t count = workbooks.GetProperty(dispid::Count).lVal();
        if (count != 0) {
            m_pWorksheet->AttachDispatch(
                m_pApplication->GetProperty(dispid::ActiveSheet).pdispVal());
        } else {
            COleDispatchDriver workbook(
                workbooks.InvokeHelper(dispid::Add, DISPATCH_METHOD, {COleVariant::Omitted()})
                    .pdispVal());
            COleDispatchDriver sheets(workbook.GetProperty(dispid::Sheets).pdispVal());
            if (sheets.GetProperty(dispid::Count).lVal() < 1) {
                COleDispatchDriver added(AddSheets(sheets, COleVariant::I4(1)));
                added.ReleaseDispatch();
            }
            m_pWorksheet->AttachDispatch(
                sheets.InvokeHelper(dispid::Item, DISPATCH_PROPERTYGET, {COleVariant::I2(1)})
                    .pdispVal());
            m_pWorksheet->InvokeHelper(dispid::Activate, DISPATCH_METHOD);
        }
        // The local drivers release the collections and the workbook here.
        return true;
    });
}

bool CExcelLink::ShowApplication() {
    if (m_nErrors != 0 || !m_pApplication) return false;
    try {
        m_pApplication->SetProperty(dispid::Visible, COleVariant::Bool(true));
        return true;
    } catch (const COleDispatchException& e) {
        ReportDispatchError(e);
        return false;
    } catch (...) {
        return false;
    }
}

bool CExcelLink::GetActiveCellPosition(int& column, int& row) {
    // A failing lookup must not leave the writer (it would take the program down): it fails the
    // call like a missing active cell, and counts as any failed operation does.
    return Counted([&] {
        if (!m_pApplication) return false;
        const COleVariant result = m_pApplication->GetProperty(dispid::ActiveCell);
        if (result.vt() == VT_EMPTY || !result.pdispVal()) return false;
        COleDispatchDriver cell(result.pdispVal());
        const QString address = GetAddressText(cell, COleVariant::I2(0), COleVariant::I2(0), 0,
                                               COleVariant::I2(0), COleVariant::I2(0));
        ParseRelativeAddress(address, row, column);
        cell.ReleaseDispatch();
        return true;
    });
}

bool CExcelLink::BeginRow(int column, int row, int width) {
    if (m_nErrors != 0 || !m_pWorksheet) return false;
    m_pTargetApplication = m_pApplication;
    m_pTargetWorksheet = m_pWorksheet;
    // Row m_nMaxRows itself is allowed; a refusal here is no failure of the application.
    if (row > m_nMaxRows) return false;
    return Counted([&] {
        auto data = std::make_unique<COleSafeArray>();
        data->CreateTwoDim(1, width);
        m_pRowData = std::move(data);
        m_pTargetData = m_pRowData.get();
        m_nRowColumn = column;
        m_nRowNumber = row;
        m_nRowWidth = width;
        m_nRowHeight = 1;
        return true;
    });
}

bool CExcelLink::SetCell(int index, const QString& text) {
    if (m_nErrors != 0 || !m_pRowData) return false;
    return Counted([&] {
        m_pRowData->PutElement(0, index, COleVariant(text));
        return true;
    });
}

bool CExcelLink::WriteRow() {
    const bool written = Counted([&] {
        if (m_pTargetWorksheet && m_pRowData && m_nErrors == 0) {
            const QString first = CellName(m_nRowColumn, m_nRowNumber);
            const QString last =
                CellName(m_nRowColumn + m_nRowWidth - 1, m_nRowNumber + m_nRowHeight - 1);
            COleDispatchDriver range(m_pTargetWorksheet
                                         ->InvokeHelper(dispid::Range, DISPATCH_PROPERTYGET,
                                                        {COleVariant(first), COleVariant(last)})
                                         .pdispVal());
            // The whole row in one call: one lookup and one assignment in the other process.
            range.SetProperty(dispid::Value, COleVariant(*m_pRowData));
            range.ReleaseDispatch();
        }
        return true;
    });
    if (m_pTargetData == m_pRowData.get()) m_pTargetData = nullptr;
    m_pRowData.reset();
    if (m_pTargetWorksheet == m_pWorksheet) m_pTargetWorksheet.reset();
    if (m_pTargetApplication == m_pApplication) m_pTargetApplication.reset();
    return written;
}

bool CExcelLink::Release() {
    return Counted([&] {
        if (m_pWorksheet && m_pWorksheet != m_pTargetWorksheet) m_pWorksheet->ReleaseDispatch();
        if (m_pApplication && m_pApplication != m_pTargetApplication) {
            m_pApplication->ReleaseDispatch();
        }
        m_pWorksheet.reset();
        m_pApplication.reset();
        return true;
    });
}

bool CExcelLink::ReleaseTargets() {
    return Counted([&] {
        if (m_pTargetWorksheet && m_pTargetWorksheet != m_pWorksheet) {
            m_pTargetWorksheet->ReleaseDispatch();
            m_pTargetWorksheet.reset();
        }
        if (m_pTargetApplication && m_pTargetApplication != m_pApplication) {
            m_pTargetApplication->ReleaseDispatch();
            m_pTargetApplication.reset();
        }
        return true;
    });
}

}  // namespace lyr
