#include "record/calc/dispatch.h"

#include <atomic>

namespace lyr {

COleVariant::COleVariant(const COleSafeArray& array)
    : m_value(std::make_shared<const COleSafeArray>(array)) {}

VARTYPE COleVariant::vt() const {
    static constexpr VARTYPE kTypes[] = {
        VT_EMPTY, VT_I2,       VT_I4,
        VT_R8,    VT_BOOL,     VT_ERROR,
        VT_BSTR,  VT_DISPATCH, static_cast<VARTYPE>(VT_ARRAY | VT_VARIANT)};
    return kTypes[m_value.index()];
}

bool COleVariant::IsOmitted() const {
    const auto* e = std::get_if<ErrorCode>(&m_value);
    return e != nullptr && e->sc == DISP_E_PARAMNOTFOUND;
}

template <typename T>
const T& COleVariant::As() const {
    const T* v = std::get_if<T>(&m_value);
    if (v == nullptr) throw COleException(DISP_E_TYPEMISMATCH);
    return *v;
}

const QString& COleVariant::bstrVal() const { return As<QString>(); }
std::int16_t COleVariant::iVal() const { return As<std::int16_t>(); }
std::int32_t COleVariant::lVal() const { return As<std::int32_t>(); }
double COleVariant::dblVal() const { return As<double>(); }
bool COleVariant::boolVal() const { return As<bool>(); }
SCODE COleVariant::scode() const { return As<ErrorCode>().sc; }
const std::shared_ptr<IDispatch>& COleVariant::pdispVal() const {
    return As<std::shared_ptr<IDispatch>>();
}
const COleSafeArray& COleVariant::parray() const {
    return *As<std::shared_ptr<const COleSafeArray>>();
}

void COleSafeArray::CreateTwoDim(int rows, int columns) {
    if (rows < 0 || columns < 0) throw COleException(DISP_E_BADINDEX);
    m_elements.assign(static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns),
                      COleVariant());
    m_rows = rows;
    m_columns = columns;
}

void COleSafeArray::PutElement(int row, int column, const COleVariant& value) {
    if (row < 0 || row >= m_rows || column < 0 || column >= m_columns) {
        throw COleException(DISP_E_BADINDEX);
    }
    m_elements[static_cast<std::size_t>(row) * m_columns + column] = value;
}

const COleVariant& COleSafeArray::GetElement(int row, int column) const {
    if (row < 0 || row >= m_rows || column < 0 || column >= m_columns) {
        throw COleException(DISP_E_BADINDEX);
    }
    return m_elements[static_cast<std::size_t>(row) * m_columns + column];
}

COleVariant COleDispatchDriver::InvokeHelper(DISPID id, unsigned kind,
                                             std::initializer_list<COleVariant> args) {
    if (!m_lpDispatch) throw COleException(E_POINTER);
    return m_lpDispatch->Invoke(id, kind, std::span<const COleVariant>(args.begin(), args.size()));
}

bool COleDispatchDriver::CreateDispatch(const QString& progId) {
    ReleaseDispatch();
    m_lpDispatch = AutomationServer().CreateDispatch(progId);
    return m_lpDispatch != nullptr;
}

bool COleDispatchDriver::CreateInstalledDispatch(const QString& progId) {
    ReleaseDispatch();
    m_lpDispatch = AutomationServer().CreateInstalledDispatch(progId);
    return m_lpDispatch != nullptr;
}

namespace {
// Installed and read on the user-interface thread; atomic so that a test installing a stand-in
// from its main thread is seen wherever the next call is made.
std::atomic<IAutomationServer*> g_server{nullptr};
}  // namespace

void SetAutomationServer(IAutomationServer* server) { g_server.store(server); }

IAutomationServer& AutomationServer() {
    IAutomationServer* server = g_server.load();
    return server != nullptr ? *server : DefaultAutomationServer();
}

bool CLSIDFromProgID(const QString& progId, CLSID& clsid) {
    return AutomationServer().CLSIDFromProgID(progId, clsid);
}

std::shared_ptr<IDispatch> GetActiveObject(const CLSID& clsid) {
    return AutomationServer().GetActiveObject(clsid);
}

}  // namespace lyr
