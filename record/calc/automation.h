#pragma once

#include <cstdint>
#include <memory>

#include <QString>

#include "record/calc/dispatch.h"

namespace lyr {

// Dispatch ids of the spreadsheet object model the link calls. Count and Add are the same ids
// on Workbooks and on Sheets.
namespace dispid {
enum : DISPID {
    Value = 0x6,       // Range, put: the row's two-dimensional array
    Count = 0x76,      // Workbooks / Sheets, get: 32-bit integer
    Item = 0xAA,       // Sheets, get: Index VT_I2
    Add = 0xB5,        // Workbooks (Template omitted) / Sheets (Before, After omitted; Count VT_I4)
    Range = 0xC5,      // Worksheet, get: Cell1, Cell2 as text
    Address = 0xEC,    // Range, get: RowAbsolute, ColumnAbsolute VT_I2; ReferenceStyle plain
                       // 32-bit; External, RelativeTo VT_I2
    Activate = 0x130,  // Worksheet, method
    ActiveCell = 0x131,   // Application, get: object or none
    ActiveSheet = 0x133,  // Application, get: object
    Version = 0x188,      // Application, get: text
    Sheets = 0x1E5,       // Workbook, get: object
    Visible = 0x22E,      // Application, put: BOOL
    Workbooks = 0x23C,    // Application, get: object
};
}  // namespace dispid

// The programmatic identifier the link asks for.
inline constexpr char kExcelProgId[] = "Excel.Application";

// The application's Version text.
[[nodiscard]] QString GetVersionText(COleDispatchDriver& application);
// Sheets.Add with Before and After omitted; answers the new sheet object.
[[nodiscard]] std::shared_ptr<IDispatch> AddSheets(COleDispatchDriver& sheets,
                                                   const COleVariant& count);
// Range.Address with the five arguments in their table types.
[[nodiscard]] QString GetAddressText(COleDispatchDriver& cell, const COleVariant& rowAbsolute,
                                     const COleVariant& columnAbsolute, std::int32_t referenceStyle,
                                     const COleVariant& external, const COleVariant& relativeTo);

// "source - description", the description alone when there is no source, and "unknown error"
// in place of an empty description.
[[nodiscard]] QString BuildDispatchErrorText(const COleDispatchException& e);
// Shows the error text in a message box with OK only and no icon.
void ReportDispatchError(const COleDispatchException& e);
// The help identifier that goes with the error box: the help context when a help file is named.
[[nodiscard]] std::uint32_t DispatchErrorHelpId(const COleDispatchException& e);

// A1 letters of column n (1 = A ... 16384 = XFD ... 18278 = ZZZ); ZZZ beyond, empty below 1.
[[nodiscard]] QString ColumnName(int n);
// Column letters followed by the row number: C5.
[[nodiscard]] QString CellName(int column, int row);
// Row and column from a relative R1C1 address relative to A1: R[4]C[2] gives row 5, column 3;
// a part without brackets is offset 0, and so is one whose closing "]" is missing.
void ParseRelativeAddress(const QString& text, int& row, int& column);

}  // namespace lyr
