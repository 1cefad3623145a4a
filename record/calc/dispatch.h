#pragma once

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <memory>
#include <span>
#include <variant>
#include <vector>

#include <QString>

namespace lyr {

// The late-bound automation objects of the spreadsheet application, in the shape of OLE
// automation: objects answer calls addressed by a dispatch id and an invocation kind, with
// arguments and results carried in variants. A dispatch driver holds one object; what carries
// the call out (LibreOffice Calc over UNO, or an in-memory stand-in) sits behind IDispatch.

using DISPID = std::int32_t;
using SCODE = std::int32_t;

// Invocation kinds, with their OLE values.
enum : unsigned {
    DISPATCH_METHOD = 0x1,
    DISPATCH_PROPERTYGET = 0x2,
    DISPATCH_PROPERTYPUT = 0x4,
};

// Status codes carried by VT_ERROR variants and by COleException.
inline constexpr SCODE E_FAIL = static_cast<SCODE>(0x80004005);
inline constexpr SCODE E_POINTER = static_cast<SCODE>(0x80004003);
inline constexpr SCODE E_OUTOFMEMORY = static_cast<SCODE>(0x8007000E);
inline constexpr SCODE DISP_E_MEMBERNOTFOUND = static_cast<SCODE>(0x80020003);
inline constexpr SCODE DISP_E_PARAMNOTFOUND = static_cast<SCODE>(0x80020004);
inline constexpr SCODE DISP_E_TYPEMISMATCH = static_cast<SCODE>(0x80020005);
inline constexpr SCODE DISP_E_EXCEPTION = static_cast<SCODE>(0x80020009);
inline constexpr SCODE DISP_E_BADINDEX = static_cast<SCODE>(0x8002000B);
inline constexpr SCODE DISP_E_BADPARAMCOUNT = static_cast<SCODE>(0x8002000E);
inline constexpr SCODE REGDB_E_CLASSNOTREG = static_cast<SCODE>(0x80040154);
inline constexpr SCODE CO_E_SERVER_EXEC_FAILURE = static_cast<SCODE>(0x80080005);
inline constexpr SCODE RPC_E_DISCONNECTED = static_cast<SCODE>(0x80010108);

// Variant types, with their OLE values.
enum VARTYPE : std::uint16_t {
    VT_EMPTY = 0,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R8 = 5,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_ARRAY = 0x2000,
};

class IDispatch;
class COleSafeArray;

// A value travelling to or from an automation call. Copies share a held object or array.
class COleVariant {
  public:
    COleVariant() = default;  // VT_EMPTY
    explicit COleVariant(const QString& text) : m_value(text) {}
    explicit COleVariant(const char* text) : m_value(QString::fromUtf8(text)) {}
    // VT_DISPATCH; an empty pointer stands for "no object" (Nothing).
    explicit COleVariant(std::shared_ptr<IDispatch> object) : m_value(std::move(object)) {}
    // VT_ARRAY | VT_VARIANT: a copy of the array.
    explicit COleVariant(const COleSafeArray& array);

    [[nodiscard]] static COleVariant I2(std::int16_t v) { return COleVariant(FromValue{}, v); }
    [[nodiscard]] static COleVariant I4(std::int32_t v) { return COleVariant(FromValue{}, v); }
    [[nodiscard]] static COleVariant R8(double v) { return COleVariant(FromValue{}, v); }
    [[nodiscard]] static COleVariant Bool(bool v) { return COleVariant(FromValue{}, v); }
    [[nodiscard]] static COleVariant Error(SCODE sc) {
        return COleVariant(FromValue{}, ErrorCode{sc});
    }
    // An optional argument left out: VT_ERROR holding DISP_E_PARAMNOTFOUND.
    [[nodiscard]] static COleVariant Omitted() { return Error(DISP_E_PARAMNOTFOUND); }

    [[nodiscard]] VARTYPE vt() const;
    [[nodiscard]] bool IsOmitted() const;

    // Each accessor answers only for its own type and throws COleException
    // (DISP_E_TYPEMISMATCH) for any other, as a server refuses an argument of the wrong type.
    [[nodiscard]] const QString& bstrVal() const;
    [[nodiscard]] std::int16_t iVal() const;
    [[nodiscard]] std::int32_t lVal() const;
    [[nodiscard]] double dblVal() const;
    [[nodiscard]] bool boolVal() const;
    [[nodiscard]] SCODE scode() const;
    [[nodiscard]] const std::shared_ptr<IDispatch>& pdispVal() const;
    [[nodiscard]] const COleSafeArray& parray() const;

  private:
    struct ErrorCode {
        SCODE sc;
    };
    using Value =
        std::variant<std::monostate, std::int16_t, std::int32_t, double, bool, ErrorCode, QString,
                     std::shared_ptr<IDispatch>, std::shared_ptr<const COleSafeArray>>;
    struct FromValue {};
    COleVariant(FromValue, Value v) : m_value(std::move(v)) {}

    template <typename T>
    [[nodiscard]] const T& As() const;

    Value m_value;
};

// A two-dimensional array of variants with lower bounds 0, as the rows of a range travel.
class COleSafeArray {
  public:
    COleSafeArray() = default;
    // Makes the array rows x columns, every element VT_EMPTY.
    void CreateTwoDim(int rows, int columns);
    // Throws COleException (DISP_E_BADINDEX) outside the bounds.
    void PutElement(int row, int column, const COleVariant& value);
    [[nodiscard]] const COleVariant& GetElement(int row, int column) const;
    [[nodiscard]] int GetRows() const { return m_rows; }
    [[nodiscard]] int GetColumns() const { return m_columns; }

  private:
    int m_rows = 0;
    int m_columns = 0;
    std::vector<COleVariant> m_elements;  // row by row
};

// A failure of a call that carries no text of the application: the application process gone,
// a refused argument, a member that is not there.
class COleException : public std::exception {
  public:
    explicit COleException(SCODE sc) : m_sc(sc) {}
    [[nodiscard]] const char* what() const noexcept override { return "automation failure"; }
    SCODE m_sc;
};

// An error the application reports for a failed call, with its own texts.
class COleDispatchException : public std::exception {
  public:
    COleDispatchException(QString source, QString description, QString helpFile = {},
                          std::uint32_t helpContext = 0)
        : m_strSource(std::move(source)),
          m_strDescription(std::move(description)),
          m_strHelpFile(std::move(helpFile)),
          m_dwHelpContext(helpContext) {}
    [[nodiscard]] const char* what() const noexcept override { return "dispatch exception"; }

    QString m_strSource;
    QString m_strDescription;
    QString m_strHelpFile;
    std::uint32_t m_dwHelpContext;
};

// One object of the application's object model. Invoke throws COleDispatchException for an
// error the application reports and COleException for any other failure.
class IDispatch {
  public:
    virtual ~IDispatch() = default;
    virtual COleVariant Invoke(DISPID id, unsigned kind, std::span<const COleVariant> args) = 0;
};

// Holds one automation object; releasing or destroying the driver releases the object.
class COleDispatchDriver {
  public:
    COleDispatchDriver() = default;
    explicit COleDispatchDriver(std::shared_ptr<IDispatch> object)
        : m_lpDispatch(std::move(object)) {}
    ~COleDispatchDriver() = default;
    COleDispatchDriver(const COleDispatchDriver&) = delete;
    COleDispatchDriver& operator=(const COleDispatchDriver&) = delete;

    // Starts a new instance of the application registered under `progId` and attaches to it.
    // False when the application is not installed or does not start.
    [[nodiscard]] bool CreateDispatch(const QString& progId);
    // Attaches to the application object of the installation under `progId`, which answers what
    // the installation itself tells (its Version) without starting the application. False when
    // the application is not installed.
    [[nodiscard]] bool CreateInstalledDispatch(const QString& progId);
    // Takes `object` over; a previously held object is released.
    void AttachDispatch(std::shared_ptr<IDispatch> object) { m_lpDispatch = std::move(object); }
    [[nodiscard]] std::shared_ptr<IDispatch> DetachDispatch() { return std::move(m_lpDispatch); }
    void ReleaseDispatch() { m_lpDispatch.reset(); }

    // Calls member `id`; throws as IDispatch::Invoke does, and COleException (E_POINTER) when no
    // object is attached.
    COleVariant InvokeHelper(DISPID id, unsigned kind,
                             std::initializer_list<COleVariant> args = {});
    COleVariant GetProperty(DISPID id) { return InvokeHelper(id, DISPATCH_PROPERTYGET); }
    void SetProperty(DISPID id, const COleVariant& value) {
        InvokeHelper(id, DISPATCH_PROPERTYPUT, {value});
    }

    std::shared_ptr<IDispatch> m_lpDispatch;
};

// The class identifier of an automation application.
struct CLSID {
    QString progId;
};

// Reaches automation applications: the stand-in of the registry's programmatic identifiers, the
// running-object table and instance creation. Used on the user-interface thread only.
class IAutomationServer {
  public:
    virtual ~IAutomationServer() = default;
    // False when no application is registered under `progId`.
    [[nodiscard]] virtual bool CLSIDFromProgID(const QString& progId, CLSID& clsid) = 0;
    // The application object of a running instance that can be attached to; empty when none.
    [[nodiscard]] virtual std::shared_ptr<IDispatch> GetActiveObject(const CLSID& clsid) = 0;
    // Starts an instance and answers its application object; empty when it cannot be started.
    [[nodiscard]] virtual std::shared_ptr<IDispatch> CreateDispatch(const QString& progId) = 0;
    // See COleDispatchDriver::CreateInstalledDispatch; empty when not installed.
    [[nodiscard]] virtual std::shared_ptr<IDispatch> CreateInstalledDispatch(
        const QString& progId) = 0;
};

// Installs the process-wide server; not owning. nullptr restores the default, which is the
// LibreOffice Calc connection in a build with it and a server that knows no application
// otherwise.
void SetAutomationServer(IAutomationServer* server);
[[nodiscard]] IAutomationServer& AutomationServer();
// The default server of this build (defined by the Calc connection or its stub).
[[nodiscard]] IAutomationServer& DefaultAutomationServer();

// The OLE calls of the same names, through AutomationServer().
[[nodiscard]] bool CLSIDFromProgID(const QString& progId, CLSID& clsid);
[[nodiscard]] std::shared_ptr<IDispatch> GetActiveObject(const CLSID& clsid);

}  // namespace lyr
