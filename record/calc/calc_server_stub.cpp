#include "record/calc/calc_server.h"

// A build without the LibreOffice connection knows no automation application: the link's probe
// fails silently and Open fails with "Failed to open Excel.".

namespace lyr {

namespace {
class NoAutomationServer final : public IAutomationServer {
  public:
    bool CLSIDFromProgID(const QString&, CLSID&) override { return false; }
    std::shared_ptr<IDispatch> GetActiveObject(const CLSID&) override { return {}; }
    std::shared_ptr<IDispatch> CreateDispatch(const QString&) override { return {}; }
    std::shared_ptr<IDispatch> CreateInstalledDispatch(const QString&) override { return {}; }
};
}  // namespace

std::unique_ptr<IAutomationServer> CreateCalcAutomationServer(CalcServerOptions) { return {}; }

IAutomationServer& DefaultAutomationServer() {
    static NoAutomationServer server;
    return server;
}

}  // namespace lyr
