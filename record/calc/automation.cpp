#include "record/calc/automation.h"

#include <algorithm>
#include <limits>

#include "platform/message_box.h"

namespace lyr {

QString GetVersionText(COleDispatchDriver& application) {
    return application.GetProperty(dispid::Version).bstrVal();
}

std::shared_ptr<IDispatch> AddSheets(COleDispatchDriver& sheets, const COleVariant& count) {
    return sheets
        .InvokeHelper(dispid::Add, DISPATCH_METHOD,
                      {COleVariant::Omitted(), COleVariant::Omitted(), count})
        .pdispVal();
}

QString GetAddressText(COleDispatchDriver& cell, const COleVariant& rowAbsolute,
                       const COleVariant& columnAbsolute, std::int32_t referenceStyle,
                       const COleVariant& external, const COleVariant& relativeTo) {
    return cell
        .InvokeHelper(
            dispid::Address, DISPATCH_PROPERTYGET,
            {rowAbsolute, columnAbsolute, COleVariant::I4(referenceStyle), external, relativeTo})
        .bstrVal();
}

QString BuildDispatchErrorText(const COleDispatchException& e) {
    QString text;
    if (!e.m_strSource.isEmpty()) text = e.m_strSource + QStringLiteral(" - ");
    text += e.m_strDescription.isEmpty() ? QStringLiteral("unknown error") : e.m_strDescription;
    return text;
}

std::uint32_t DispatchErrorHelpId(const COleDispatchException& e) {
    return e.m_strHelpFile.isEmpty() ? 0 : e.m_dwHelpContext;
}

void ReportDispatchError(const COleDispatchException& e) {
    // The message box interface has no help button; DispatchErrorHelpId is what it would get.
    AfxMessageBox(BuildDispatchErrorText(e), MB_OK);
}

QString ColumnName(int n) {
    if (n < 1) return {};
    const int k = n - 1;
    auto letter = [](int i) { return QChar(static_cast<char16_t>(u'A' + i)); };
    if (k < 26) return QString(letter(k));
    if (k < 702) return QString(letter(k / 26 - 1)) + letter(k % 26);
    if (k < 18278) {
        const int d = k - 702;
        return QString(letter(d / 676)) + letter((d / 26) % 26) + letter(d % 26);
    }
    return QStringLiteral("ZZZ");
}

QString CellName(int column, int row) {
    // Not cut to seven characters: a sheet of 1048576 rows names cells like XFD1048576.
    return ColumnName(column) + QString::number(row);
}

namespace {
// The signed offset after `open` ("R[" or "C[") up to the next "]"; 0 when the part is absent,
// its "]" is missing or what stands between is no number.
int BracketOffset(const QString& text, QStringView open) {
    const qsizetype start = text.indexOf(open);
    if (start < 0) return 0;
    const qsizetype from = start + open.size();
    const qsizetype end = text.indexOf(u']', from);
    if (end < 0) return 0;
    bool ok = false;
    const int offset = QStringView(text).mid(from, end - from).toInt(&ok);
    // The caller adds one; an offset beyond every sheet then names a row the writer refuses
    // instead of overflowing.
    return ok ? std::min(offset, std::numeric_limits<int>::max() - 1) : 0;
}
}  // namespace

void ParseRelativeAddress(const QString& text, int& row, int& column) {
    row = BracketOffset(text, u"R[") + 1;
    column = BracketOffset(text, u"C[") + 1;
}

}  // namespace lyr
