#pragma once

#include <QString>

#include <com/sun/star/uno/Reference.hxx>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <rtl/ustring.hxx>

// UNO helpers of the Calc connection (and of the tests that look into a real office).

namespace lyr {

using rtl::OUString;

[[nodiscard]] inline OUString ToOUString(const QString& text) {
    return OUString(reinterpret_cast<const sal_Unicode*>(text.utf16()),
                    static_cast<sal_Int32>(text.size()));
}

[[nodiscard]] inline QString ToQString(const OUString& text) {
    return QString(reinterpret_cast<const QChar*>(text.getStr()), text.getLength());
}

// The process's own UNO context, bootstrapped once from the installation's fundamentalrc; empty
// when that fails. The first caller's installation directory counts.
[[nodiscard]] css::uno::Reference<css::uno::XComponentContext> LocalUnoContext(
    const QString& installDirectory);

// The component context of the office accepting on the named pipe; empty when none accepts
// there. A pipe nobody listens on fails at once.
[[nodiscard]] css::uno::Reference<css::uno::XComponentContext> ConnectUnoPipe(
    const css::uno::Reference<css::uno::XComponentContext>& local, const OUString& pipeName);

}  // namespace lyr
