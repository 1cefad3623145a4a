#include "record/calc/calc_uno.h"

#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/bridge/XUnoUrlResolver.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <rtl/bootstrap.hxx>

namespace lyr {

using css::uno::Reference;
using css::uno::UNO_QUERY;

Reference<css::uno::XComponentContext> LocalUnoContext(const QString& installDirectory) {
    static const Reference<css::uno::XComponentContext> context =
        [&]() -> Reference<css::uno::XComponentContext> {
        try {
            // Without URE_BOOTSTRAP the local type and service data are missing and the first
            // Desktop::create on the remote context crashes.
            rtl::Bootstrap::set(
                "URE_BOOTSTRAP",
                "vnd.sun.star.pathname:" + ToOUString(installDirectory) + "/program/fundamentalrc");
            return cppu::defaultBootstrap_InitialComponentContext();
        } catch (...) {
            return {};
        }
    }();
    return context;
}

Reference<css::uno::XComponentContext> ConnectUnoPipe(
    const Reference<css::uno::XComponentContext>& local, const OUString& pipeName) {
    try {
        Reference<css::bridge::XUnoUrlResolver> resolver =
            css::bridge::UnoUrlResolver::create(local);
        return Reference<css::uno::XComponentContext>(
            resolver->resolve("uno:pipe,name=" + pipeName + ";urp;StarOffice.ComponentContext"),
            UNO_QUERY);
    } catch (const css::connection::NoConnectException&) {
        return {};
    } catch (const css::uno::Exception&) {
        return {};
    }
}

}  // namespace lyr
