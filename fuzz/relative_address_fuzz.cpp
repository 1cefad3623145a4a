// ParseRelativeAddress on arbitrary address texts, and the A1 names of the cells it leads to.
//
// The text comes from the spreadsheet application, so nothing in it is trusted: any bracket
// content, any number, any length must give a row and a column without undefined behaviour.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <QString>

#include "record/calc/automation.h"

namespace {
[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "relative_address_fuzz: %s\n", what);
    std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    int row = 0;
    int column = 0;
    lyr::ParseRelativeAddress(text, row, column);

    // The column letters: nothing below 1, one to three capital letters from 1 on.
    const QString name = lyr::ColumnName(column);
    if (column < 1 ? !name.isEmpty() : name.isEmpty() || name.size() > 3)
        Fail("column name length");
    for (const QChar c : name)
        if (c < u'A' || c > u'Z') Fail("column name holds other than A to Z");
    const QString cell = lyr::CellName(column, row);
    if (!cell.startsWith(name) || cell.mid(name.size()) != QString::number(row))
        Fail("cell name is not the column letters followed by the row");
    return 0;
}
