#include "record/calc/calc_server.h"

#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

#include <com/sun/star/awt/XWindow.hpp>
#include <com/sun/star/beans/NamedValue.hpp>
#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/configuration/theDefaultProvider.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/container/XNamed.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/frame/XFrame.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>
#include <com/sun/star/sheet/XCellRangeAddressable.hpp>
#include <com/sun/star/sheet/XCellRangeFormula.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/sheet/XSpreadsheetView.hpp>
#include <com/sun/star/sheet/XSpreadsheets.hpp>
#include <com/sun/star/table/XCellRange.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <com/sun/star/util/XNumberFormats.hpp>
#include <com/sun/star/util/XNumberFormatsSupplier.hpp>
#include <com/sun/star/util/XProtectable.hpp>
#include <com/sun/star/view/XSelectionSupplier.hpp>

#include "record/calc/automation.h"
#include "record/calc/calc_uno.h"

namespace lyr {

using css::uno::Any;
using css::uno::Reference;
using css::uno::Sequence;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

namespace {

// The source of every error Calc reports through the link.
const QString kCalcSource = QStringLiteral("LibreOffice Calc");

// What every object of one connection shares: the office's component context and desktop, and
// whether the application was made visible (documents added later are shown too).
struct CalcSession {
    Reference<css::uno::XComponentContext> context;
    Reference<css::frame::XDesktop2> desktop;
    bool visible = false;

    // False once the bridge to the office is gone (the office was killed or quit): any call
    // through it then fails.
    [[nodiscard]] bool BridgeAlive() const {
        try {
            return context->getServiceManager().is();
        } catch (...) {
            return false;
        }
    }
};
using SessionPtr = std::shared_ptr<CalcSession>;

[[nodiscard]] bool IsDisposed(const Reference<css::frame::XModel>& model) {
    if (!model.is()) return false;
    try {
        // Every call on a closed document throws DisposedException.
        (void)model->getURL();
        return false;
    } catch (const css::lang::DisposedException&) {
        return true;
    } catch (...) {
        return false;
    }
}

[[nodiscard]] bool IsProtected(const Reference<css::sheet::XSpreadsheet>& sheet) {
    try {
        Reference<css::util::XProtectable> protectable(sheet, UNO_QUERY);
        return protectable.is() && protectable->isProtected();
    } catch (...) {
        return false;
    }
}

// Calc's exceptions tell little more than a source location; the link needs a readable
// dispatch exception, or none at all when the office itself is gone.
[[noreturn]] void RaiseFromUno(const CalcSession& session, const css::uno::Exception& e,
                               bool disposed, const Reference<css::frame::XModel>& model,
                               const Reference<css::sheet::XSpreadsheet>& sheet) {
    if (!session.BridgeAlive()) throw COleException(RPC_E_DISCONNECTED);
    if (disposed || IsDisposed(model)) {
        throw COleDispatchException(kCalcSource, QStringLiteral("The document has been closed."));
    }
    if (IsProtected(sheet)) {
        throw COleDispatchException(kCalcSource, QStringLiteral("The sheet is protected."));
    }
    throw COleDispatchException(kCalcSource, ToQString(e.Message));
}

void ExpectArgs(std::span<const COleVariant> args, std::size_t count) {
    if (args.size() != count) throw COleException(DISP_E_BADPARAMCOUNT);
}

[[nodiscard]] COleVariant NoObject() { return COleVariant(std::shared_ptr<IDispatch>()); }

// The base of every Calc object behind a dispatch driver: routes a call by id and kind, and
// turns the office's exceptions into the dispatch convention.
class CalcObject : public IDispatch {
  public:
    explicit CalcObject(SessionPtr session) : m_session(std::move(session)) {}

    COleVariant Invoke(DISPID id, unsigned kind, std::span<const COleVariant> args) final {
        try {
            return Call(id, kind, args);
        } catch (const css::lang::DisposedException& e) {
            RaiseFromUno(*m_session, e, true, Model(), Sheet());
        } catch (const css::uno::Exception& e) {
            RaiseFromUno(*m_session, e, false, Model(), Sheet());
        }
    }

  protected:
    virtual COleVariant Call(DISPID id, unsigned kind, std::span<const COleVariant> args) = 0;
    [[nodiscard]] virtual Reference<css::frame::XModel> Model() const { return {}; }
    [[nodiscard]] virtual Reference<css::sheet::XSpreadsheet> Sheet() const { return {}; }

    [[noreturn]] static void NoMember() { throw COleException(DISP_E_MEMBERNOTFOUND); }

    SessionPtr m_session;
};

// Every spreadsheet document among the desktop's components, hidden ones included, in the
// desktop's order.
[[nodiscard]] std::vector<Reference<css::frame::XModel>> CalcDocuments(const CalcSession& s) {
    std::vector<Reference<css::frame::XModel>> documents;
    Reference<css::container::XEnumeration> components =
        s.desktop->getComponents()->createEnumeration();
    while (components->hasMoreElements()) {
        Reference<css::lang::XServiceInfo> info(components->nextElement(), UNO_QUERY);
        if (info.is() && info->supportsService("com.sun.star.sheet.SpreadsheetDocument")) {
            documents.emplace_back(info, UNO_QUERY);
        }
    }
    return documents;
}

[[nodiscard]] bool IsCalcDocument(const Reference<css::uno::XInterface>& component) {
    Reference<css::lang::XServiceInfo> info(component, UNO_QUERY);
    return info.is() && info->supportsService("com.sun.star.sheet.SpreadsheetDocument");
}

// The active Calc document, else the last one the desktop lists; empty when none is open.
[[nodiscard]] Reference<css::frame::XModel> ActiveCalcDocument(const CalcSession& s) {
    Reference<css::lang::XComponent> current = s.desktop->getCurrentComponent();
    if (IsCalcDocument(current)) return Reference<css::frame::XModel>(current, UNO_QUERY);
    std::vector<Reference<css::frame::XModel>> documents = CalcDocuments(s);
    return documents.empty() ? Reference<css::frame::XModel>() : documents.back();
}

void ShowDocument(const Reference<css::frame::XModel>& model, bool visible) {
    Reference<css::frame::XController> controller = model->getCurrentController();
    if (!controller.is()) return;
    Reference<css::frame::XFrame> frame = controller->getFrame();
    if (!frame.is()) return;
    Reference<css::awt::XWindow> window = frame->getContainerWindow();
    if (window.is()) window->setVisible(visible);
}

[[nodiscard]] Reference<css::sheet::XSpreadsheetView> ViewOf(
    const Reference<css::frame::XModel>& model) {
    return Reference<css::sheet::XSpreadsheetView>(model->getCurrentController(), UNO_QUERY_THROW);
}

// The view's cursor cell on `sheet`: the selected cell, or for a range selection the cell
// cursor the view keeps in its view data; the range's first cell when that cannot be read.
[[nodiscard]] Reference<css::table::XCellRange> CursorCell(
    const Reference<css::frame::XController>& controller,
    const Reference<css::sheet::XSpreadsheet>& sheet) {
    Reference<css::view::XSelectionSupplier> selection(controller, UNO_QUERY_THROW);
    Reference<css::sheet::XCellRangeAddressable> selected(selection->getSelection(), UNO_QUERY);
    sal_Int32 column = 0;
    sal_Int32 row = 0;
    if (selected.is()) {
        const css::table::CellRangeAddress range = selected->getRangeAddress();
        column = range.StartColumn;
        row = range.StartRow;
        if (range.StartColumn == range.EndColumn && range.StartRow == range.EndRow) {
            return sheet->getCellRangeByPosition(column, row, column, row);
        }
    }
    Sequence<css::beans::PropertyValue> viewData;
    Reference<css::container::XNamed> named(sheet, UNO_QUERY);
    if ((controller->getViewData() >>= viewData) && named.is()) {
        const OUString sheetName = named->getName();
        for (const css::beans::PropertyValue& property : viewData) {
            Reference<css::container::XNameAccess> tables;
            if (property.Name != "Tables" || !(property.Value >>= tables) || !tables.is() ||
                !tables->hasByName(sheetName)) {
                continue;
            }
            Sequence<css::beans::PropertyValue> table;
            tables->getByName(sheetName) >>= table;
            for (const css::beans::PropertyValue& setting : table) {
                if (setting.Name == "CursorPositionX") setting.Value >>= column;
                if (setting.Name == "CursorPositionY") setting.Value >>= row;
            }
        }
    }
    return sheet->getCellRangeByPosition(column, row, column, row);
}

// What a cell receives for `text`. Calc converts the texts as it does typed input, except that a
// text that would be taken for a formula goes in as the text itself: a meter's reply must never
// become a formula.
[[nodiscard]] OUString CellInput(const QString& text) {
    if (text.isEmpty()) return OUString();
    const QChar first = text.front();
    bool formula = first == u'=' || first == u'\'';
    if (first == u'+' || first == u'-') {
        // A signed number stays a number; anything else after a sign would be a formula.
        bool number = false;
        (void)text.mid(1).trimmed().toDouble(&number);
        formula = !number;
    }
    return ToOUString(formula ? QStringLiteral("'") + text : text);
}

[[nodiscard]] OUString VariantText(const COleVariant& v) {
    switch (v.vt()) {
        case VT_EMPTY:
            return OUString();
        case VT_BSTR:
            return CellInput(v.bstrVal());
        case VT_I2:
            return OUString::number(v.iVal());
        case VT_I4:
            return OUString::number(v.lVal());
        case VT_R8:
            return OUString::number(v.dblVal());
        case VT_BOOL:
            return v.boolVal() ? OUString("TRUE") : OUString("FALSE");
        default:
            throw COleException(DISP_E_TYPEMISMATCH);
    }
}

// Number format keys of one document by format code, kept by its worksheet for its ranges.
using FormatKeys = std::shared_ptr<std::map<std::string, sal_Int32>>;

class CalcRange final : public CalcObject {
  public:
    CalcRange(SessionPtr session, Reference<css::frame::XModel> model,
              Reference<css::sheet::XSpreadsheet> sheet, Reference<css::table::XCellRange> range,
              FormatKeys formatKeys = std::make_shared<std::map<std::string, sal_Int32>>())
        : CalcObject(std::move(session)),
          m_model(std::move(model)),
          m_sheet(std::move(sheet)),
          m_range(std::move(range)),
          m_formatKeys(std::move(formatKeys)) {}

  protected:
    COleVariant Call(DISPID id, unsigned kind, std::span<const COleVariant> args) override {
        if (id == dispid::Value && kind == DISPATCH_PROPERTYPUT) {
            ExpectArgs(args, 1);
            const COleSafeArray& array = args[0].parray();
            Sequence<Sequence<OUString>> rows(array.GetRows());
            auto* row = rows.getArray();
            for (int r = 0; r < array.GetRows(); ++r) {
                row[r].realloc(array.GetColumns());
                auto* cell = row[r].getArray();
                for (int c = 0; c < array.GetColumns(); ++c) {
                    cell[c] = VariantText(array.GetElement(r, c));
                }
            }
            Reference<css::sheet::XCellRangeFormula>(m_range, UNO_QUERY_THROW)
                ->setFormulaArray(rows);
            FormatDatesAndTimes(array);
            return {};
        }
        if (id == dispid::Address && kind == DISPATCH_PROPERTYGET) {
            ExpectArgs(args, 5);
            const bool rowAbsolute = args[0].iVal() != 0;
            const bool columnAbsolute = args[1].iVal() != 0;
            (void)args[2].lVal();  // reference style: the relative R1C1 form is the one answered
            (void)args[3].iVal();
            (void)args[4].iVal();
            const css::table::CellRangeAddress address =
                Reference<css::sheet::XCellRangeAddressable>(m_range, UNO_QUERY_THROW)
                    ->getRangeAddress();
            return COleVariant(
                R1C1(address.StartRow, address.StartColumn, rowAbsolute, columnAbsolute));
        }
        NoMember();
    }
    Reference<css::frame::XModel> Model() const override { return m_model; }
    Reference<css::sheet::XSpreadsheet> Sheet() const override { return m_sheet; }

  private:
    // Typed into a cell, "2024-03-05" and "07:08:09" become a date and a time shown as such;
    // the formula array converts them to the numbers only. Such cells get the format typing
    // would have given them.
    void FormatDatesAndTimes(const COleSafeArray& array) {
        static const QRegularExpression kDate(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}$"));
        static const QRegularExpression kTime(QStringLiteral("^\\d{1,2}:\\d{2}:\\d{2}$"));
        for (int r = 0; r < array.GetRows(); ++r) {
            for (int c = 0; c < array.GetColumns(); ++c) {
                const COleVariant& v = array.GetElement(r, c);
                if (v.vt() != VT_BSTR) continue;
                const char* format = kDate.match(v.bstrVal()).hasMatch()   ? "YYYY-MM-DD"
                                     : kTime.match(v.bstrVal()).hasMatch() ? "HH:MM:SS"
                                                                           : nullptr;
                if (format == nullptr) continue;
                Reference<css::beans::XPropertySet> cell(
                    m_range->getCellRangeByPosition(c, r, c, r), UNO_QUERY_THROW);
                cell->setPropertyValue("NumberFormat", Any(FormatKey(format)));
            }
        }
    }

    sal_Int32 FormatKey(const char* code) {
        const auto known = m_formatKeys->find(code);
        if (known != m_formatKeys->end()) return known->second;
        Reference<css::util::XNumberFormats> formats =
            Reference<css::util::XNumberFormatsSupplier>(m_model, UNO_QUERY_THROW)
                ->getNumberFormats();
        const css::lang::Locale english("en", "US", "");
        const OUString format = OUString::createFromAscii(code);
        sal_Int32 key = formats->queryKey(format, english, false);
        if (key < 0) key = formats->addNew(format, english);
        m_formatKeys->emplace(code, key);
        return key;
    }

    // R1C1 relative to A1 (R[4]C[2] for C5, RC for A1), or absolute (R5C3).
    static QString R1C1(sal_Int32 row, sal_Int32 column, bool rowAbsolute, bool columnAbsolute) {
        auto part = [](QChar letter, sal_Int32 index, bool absolute) {
            if (absolute) return QString(letter) + QString::number(index + 1);
            if (index == 0) return QString(letter);
            return QString(letter) + u'[' + QString::number(index) + u']';
        };
        return part(u'R', row, rowAbsolute) + part(u'C', column, columnAbsolute);
    }

    Reference<css::frame::XModel> m_model;
    Reference<css::sheet::XSpreadsheet> m_sheet;
    Reference<css::table::XCellRange> m_range;
    FormatKeys m_formatKeys;
};

class CalcWorksheet final : public CalcObject {
  public:
    CalcWorksheet(SessionPtr session, Reference<css::frame::XModel> model,
                  Reference<css::sheet::XSpreadsheet> sheet)
        : CalcObject(std::move(session)), m_model(std::move(model)), m_sheet(std::move(sheet)) {}

  protected:
    COleVariant Call(DISPID id, unsigned kind, std::span<const COleVariant> args) override {
        if (id == dispid::Activate && kind == DISPATCH_METHOD) {
            ExpectArgs(args, 0);
            ViewOf(m_model)->setActiveSheet(m_sheet);
            return {};
        }
        if (id == dispid::Range && kind == DISPATCH_PROPERTYGET) {
            if (args.empty() || args.size() > 2) throw COleException(DISP_E_BADPARAMCOUNT);
            QString name = args[0].bstrVal();
            if (args.size() == 2 && !args[1].IsOmitted()) name += u':' + args[1].bstrVal();
            Reference<css::table::XCellRange> range = m_sheet->getCellRangeByName(ToOUString(name));
            if (!range.is()) throw css::uno::RuntimeException("no range " + ToOUString(name));
            return COleVariant(std::make_shared<CalcRange>(m_session, m_model, m_sheet,
                                                           std::move(range), m_formatKeys));
        }
        NoMember();
    }
    Reference<css::frame::XModel> Model() const override { return m_model; }
    Reference<css::sheet::XSpreadsheet> Sheet() const override { return m_sheet; }

  private:
    Reference<css::frame::XModel> m_model;
    Reference<css::sheet::XSpreadsheet> m_sheet;
    FormatKeys m_formatKeys = std::make_shared<std::map<std::string, sal_Int32>>();
};

class CalcSheets final : public CalcObject {
  public:
    CalcSheets(SessionPtr session, Reference<css::frame::XModel> model)
        : CalcObject(std::move(session)), m_model(std::move(model)) {}

  protected:
    COleVariant Call(DISPID id, unsigned kind, std::span<const COleVariant> args) override {
        Reference<css::sheet::XSpreadsheets> sheets =
            Reference<css::sheet::XSpreadsheetDocument>(m_model, UNO_QUERY_THROW)->getSheets();
        Reference<css::container::XIndexAccess> indexed(sheets, UNO_QUERY_THROW);
        if (id == dispid::Count && kind == DISPATCH_PROPERTYGET) {
            ExpectArgs(args, 0);
            return COleVariant::I4(indexed->getCount());
        }
        if (id == dispid::Item && kind == DISPATCH_PROPERTYGET) {
            ExpectArgs(args, 1);
            const sal_Int32 index = args[0].vt() == VT_I2 ? args[0].iVal() : args[0].lVal();
            Reference<css::sheet::XSpreadsheet> sheet(indexed->getByIndex(index - 1),
                                                      UNO_QUERY_THROW);
            return COleVariant(std::make_shared<CalcWorksheet>(m_session, m_model, sheet));
        }
        if (id == dispid::Add && kind == DISPATCH_METHOD) {
            ExpectArgs(args, 3);
            if (!args[0].IsOmitted() || !args[1].IsOmitted()) {
                throw COleException(DISP_E_TYPEMISMATCH);
            }
            const std::int32_t count = args[2].lVal();
            Reference<css::sheet::XSpreadsheet> first;
            for (std::int32_t i = 0; i < count; ++i) {
                OUString name;
                for (sal_Int32 n = indexed->getCount() + 1;; ++n) {
                    name = "Sheet" + OUString::number(n);
                    if (!sheets->hasByName(name)) break;
                }
                // Added sheets go in front, as a new sheet goes before the active one.
                sheets->insertNewByName(name, static_cast<sal_Int16>(i));
                if (!first.is()) first.set(sheets->getByName(name), UNO_QUERY_THROW);
            }
            if (!first.is()) return NoObject();
            return COleVariant(std::make_shared<CalcWorksheet>(m_session, m_model, first));
        }
        NoMember();
    }
    Reference<css::frame::XModel> Model() const override { return m_model; }

  private:
    Reference<css::frame::XModel> m_model;
};

class CalcWorkbook final : public CalcObject {
  public:
    CalcWorkbook(SessionPtr session, Reference<css::frame::XModel> model)
        : CalcObject(std::move(session)), m_model(std::move(model)) {}

  protected:
    COleVariant Call(DISPID id, unsigned kind, std::span<const COleVariant> args) override {
        if (id == dispid::Sheets && kind == DISPATCH_PROPERTYGET) {
            ExpectArgs(args, 0);
            return COleVariant(std::make_shared<CalcSheets>(m_session, m_model));
        }
        NoMember();
    }
    Reference<css::frame::XModel> Model() const override { return m_model; }

  private:
    Reference<css::frame::XModel> m_model;
};

class CalcWorkbooks final : public CalcObject {
  public:
    using CalcObject::CalcObject;

  protected:
    COleVariant Call(DISPID id, unsigned kind, std::span<const COleVariant> args) override {
        if (id == dispid::Count && kind == DISPATCH_PROPERTYGET) {
            ExpectArgs(args, 0);
            return COleVariant::I4(static_cast<std::int32_t>(CalcDocuments(*m_session).size()));
        }
        if (id == dispid::Add && kind == DISPATCH_METHOD) {
            // Only the default template: Template omitted.
            if (args.size() > 1) throw COleException(DISP_E_BADPARAMCOUNT);
            if (args.size() == 1 && !args[0].IsOmitted()) throw COleException(DISP_E_TYPEMISMATCH);
            Sequence<css::beans::PropertyValue> properties(1);
            properties.getArray()[0].Name = "Hidden";
            properties.getArray()[0].Value <<= !m_session->visible;
            Reference<css::frame::XComponentLoader> loader(m_session->desktop, UNO_QUERY_THROW);
            Reference<css::frame::XModel> model(
                loader->loadComponentFromURL("private:factory/scalc", "_blank", 0, properties),
                UNO_QUERY_THROW);
            return COleVariant(std::make_shared<CalcWorkbook>(m_session, model));
        }
        NoMember();
    }
};

class CalcApplication final : public CalcObject {
  public:
    using CalcObject::CalcObject;

  protected:
    COleVariant Call(DISPID id, unsigned kind, std::span<const COleVariant> args) override {
        switch (id) {
            case dispid::Version:
                if (kind != DISPATCH_PROPERTYGET) break;
                ExpectArgs(args, 0);
                return COleVariant(Version());
            case dispid::Visible:
                if (kind != DISPATCH_PROPERTYPUT) break;
                ExpectArgs(args, 1);
                m_session->visible = args[0].boolVal();
                // The window of the document the rows will go to; other documents, hidden ones
                // of other programs among them, are left as they are. Workbooks added later
                // follow m_session->visible.
                if (Reference<css::frame::XModel> model = ActiveCalcDocument(*m_session);
                    model.is()) {
                    ShowDocument(model, m_session->visible);
                }
                return {};
            case dispid::Workbooks:
                if (kind != DISPATCH_PROPERTYGET) break;
                ExpectArgs(args, 0);
                return COleVariant(std::make_shared<CalcWorkbooks>(m_session));
            case dispid::ActiveSheet: {
                if (kind != DISPATCH_PROPERTYGET) break;
                ExpectArgs(args, 0);
                Reference<css::frame::XModel> model = ActiveCalcDocument(*m_session);
                if (!model.is()) return NoObject();
                Reference<css::sheet::XSpreadsheet> sheet = ViewOf(model)->getActiveSheet();
                return COleVariant(std::make_shared<CalcWorksheet>(m_session, model, sheet));
            }
            case dispid::ActiveCell: {
                if (kind != DISPATCH_PROPERTYGET) break;
                ExpectArgs(args, 0);
                Reference<css::frame::XModel> model = ActiveCalcDocument(*m_session);
                if (!model.is()) return NoObject();
                Reference<css::frame::XController> controller = model->getCurrentController();
                Reference<css::sheet::XSpreadsheetView> view(controller, UNO_QUERY);
                if (!view.is()) return NoObject();
                Reference<css::sheet::XSpreadsheet> sheet = view->getActiveSheet();
                return COleVariant(std::make_shared<CalcRange>(m_session, model, sheet,
                                                               CursorCell(controller, sheet)));
            }
            default:
                break;
        }
        NoMember();
    }

  private:
    QString Version() const {
        Reference<css::lang::XMultiServiceFactory> provider =
            css::configuration::theDefaultProvider::get(m_session->context);
        css::beans::NamedValue path("nodepath", Any(OUString("/org.openoffice.Setup/Product")));
        Sequence<Any> arguments(1);
        arguments.getArray()[0] <<= path;
        Reference<css::container::XNameAccess> product(
            provider->createInstanceWithArguments("com.sun.star.configuration.ConfigurationAccess",
                                                  arguments),
            UNO_QUERY_THROW);
        OUString version;
        product->getByName("ooSetupVersion") >>= version;
        return ToQString(version);
    }
};

// The application object of the installation: answers its Version without an office.
class InstalledCalc final : public IDispatch {
  public:
    explicit InstalledCalc(QString version) : m_version(std::move(version)) {}
    COleVariant Invoke(DISPID id, unsigned kind, std::span<const COleVariant> args) override {
        if (id == dispid::Version && kind == DISPATCH_PROPERTYGET && args.empty()) {
            return COleVariant(m_version);
        }
        throw COleException(DISP_E_MEMBERNOTFOUND);
    }

  private:
    QString m_version;
};

class CalcAutomationServer final : public IAutomationServer {
  public:
    explicit CalcAutomationServer(CalcServerOptions options) : m_options(std::move(options)) {}

    bool CLSIDFromProgID(const QString& progId, CLSID& clsid) override {
        if (!IsExcel(progId) || !Installed()) return false;
        clsid.progId = progId;
        return true;
    }

    std::shared_ptr<IDispatch> GetActiveObject(const CLSID& clsid) override {
        if (!IsExcel(clsid.progId)) return {};
        return Connect();
    }

    std::shared_ptr<IDispatch> CreateDispatch(const QString& progId) override {
        if (!IsExcel(progId) || !Installed() || !StartOffice()) return {};
        // The office (ours, or the user's taking the request over) accepts within a fraction
        // of a second, or seconds on a first start of a profile.
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(m_options.startTimeoutMs);
        for (;;) {
            if (std::shared_ptr<IDispatch> application = Connect()) return application;
            if (std::chrono::steady_clock::now() >= deadline) return {};
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }

    std::shared_ptr<IDispatch> CreateInstalledDispatch(const QString& progId) override {
        if (!IsExcel(progId)) return {};
        QString version = InstalledCalcVersion(m_options.installDirectory);
        if (version.isEmpty()) return {};
        return std::make_shared<InstalledCalc>(std::move(version));
    }

  private:
    static bool IsExcel(const QString& progId) {
        return progId.compare(QLatin1String(kExcelProgId), Qt::CaseInsensitive) == 0;
    }

    [[nodiscard]] QString Soffice() const {
        return m_options.installDirectory + QStringLiteral("/program/soffice");
    }

    [[nodiscard]] bool Installed() const {
        return QFileInfo(Soffice()).isExecutable() &&
               !InstalledCalcVersion(m_options.installDirectory).isEmpty();
    }

    [[nodiscard]] bool StartOffice() const {
        QProcess office;
        office.setProgram(Soffice());
        office.setArguments(QStringList{QStringLiteral("--accept=pipe,name=%1;urp;"
                                                       "StarOffice.ComponentContext")
                                            .arg(m_options.pipeName),
                                        QStringLiteral("--nologo"), QStringLiteral("--nodefault")} +
                            m_options.extraArguments);
        // The office writes diagnostics to its standard streams; they are not the user's.
        office.setStandardInputFile(QProcess::nullDevice());
        office.setStandardOutputFile(QProcess::nullDevice());
        office.setStandardErrorFile(QProcess::nullDevice());
        // Detached: the office outlives the program (it is the user's now) and leaves no zombie.
        return office.startDetached();
    }

    [[nodiscard]] std::shared_ptr<IDispatch> Connect() const {
        try {
            Reference<css::uno::XComponentContext> local =
                LocalUnoContext(m_options.installDirectory);
            if (!local.is()) return {};
            Reference<css::uno::XComponentContext> remote =
                ConnectUnoPipe(local, ToOUString(m_options.pipeName));
            if (!remote.is()) return {};
            auto session = std::make_shared<CalcSession>();
            session->context = remote;
            session->desktop = css::frame::Desktop::create(remote);
            return std::make_shared<CalcApplication>(std::move(session));
        } catch (...) {
            return {};
        }
    }

    CalcServerOptions m_options;
};

}  // namespace

std::unique_ptr<IAutomationServer> CreateCalcAutomationServer(CalcServerOptions options) {
    return std::make_unique<CalcAutomationServer>(std::move(options));
}

IAutomationServer& DefaultAutomationServer() {
    static const std::unique_ptr<IAutomationServer> server = CreateCalcAutomationServer();
    return *server;
}

}  // namespace lyr
