#pragma once

#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include <QString>

#include "record/calc/automation.h"
#include "record/calc/dispatch.h"

namespace lyr::test {

// An in-memory spreadsheet application behind the dispatch interface: workbooks of sheets of
// text cells, an active workbook, sheet and cell, and faults to inject per object kind and
// member. Arguments of the wrong type are refused as a real server refuses them, and every call
// is logged with the types of its arguments.
class FakeExcel {
  public:
    enum class Fault { None, Dispatch, Other };
    struct Call {
        QString object;
        DISPID id;
        unsigned kind;
        std::vector<VARTYPE> argTypes;
    };
    struct Sheet {
        std::map<std::pair<int, int>, QString> cells;  // (row, column) -> text, 1-based
    };
    struct Workbook {
        std::vector<Sheet> sheets;
        int activeSheet = 0;
    };

    std::vector<Workbook> workbooks;
    int activeWorkbook = -1;
    int sheetsOfNewWorkbook = 1;
    bool visible = false;
    QString version = QStringLiteral("7.4");
    std::optional<std::pair<int, int>> activeCell = std::pair{5, 3};  // (row, column)
    std::map<std::pair<QString, DISPID>, Fault> faults;
    COleDispatchException error{QStringLiteral("Stand-in"), QStringLiteral("refused")};
    std::vector<Call> calls;

    void AddWorkbook(int sheets = 1) {
        workbooks.push_back(Workbook{std::vector<Sheet>(static_cast<std::size_t>(sheets)), 0});
        activeWorkbook = static_cast<int>(workbooks.size()) - 1;
    }
    [[nodiscard]] QString Cell(int row, int column, int workbook = 0, int sheet = 0) const {
        const auto& cells = workbooks.at(workbook).sheets.at(sheet).cells;
        const auto it = cells.find({row, column});
        return it == cells.end() ? QString() : it->second;
    }
    [[nodiscard]] std::size_t CellCount(int workbook = 0, int sheet = 0) const {
        return workbooks.at(workbook).sheets.at(sheet).cells.size();
    }
    void Inject(const QString& object, DISPID id, Fault fault) { faults[{object, id}] = fault; }
    [[nodiscard]] const Call* FindCall(const QString& object, DISPID id) const {
        for (const Call& c : calls) {
            if (c.object == object && c.id == id) return &c;
        }
        return nullptr;
    }
    // Objects handed out and not yet released, of one kind.
    [[nodiscard]] int Live(const QString& object) const {
        int n = 0;
        for (const auto& [kind, weak] : m_objects) n += (kind == object && !weak.expired());
        return n;
    }

    [[nodiscard]] std::shared_ptr<IDispatch> Application() {
        return Make(QStringLiteral("Application"), -1, -1, Area{0, 0, 0, 0});
    }

  private:
    struct Area {
        int row, column, lastRow, lastColumn;
    };

    class Object final : public IDispatch {
      public:
        Object(FakeExcel& excel, QString kind, int workbook, int sheet, Area area)
            : m_excel(excel),
              m_kind(std::move(kind)),
              m_workbook(workbook),
              m_sheet(sheet),
              m_area(area) {}
        COleVariant Invoke(DISPID id, unsigned kind, std::span<const COleVariant> args) override {
            return m_excel.Dispatch(*this, id, kind, args);
        }
        FakeExcel& m_excel;
        QString m_kind;
        int m_workbook;
        int m_sheet;
        Area m_area;
    };

    std::shared_ptr<IDispatch> Make(const QString& kind, int workbook, int sheet, Area area) {
        auto object = std::make_shared<Object>(*this, kind, workbook, sheet, area);
        m_objects.emplace_back(kind, object);
        return object;
    }
    COleVariant Made(const QString& kind, int workbook, int sheet, Area area = Area{0, 0, 0, 0}) {
        return COleVariant(Make(kind, workbook, sheet, area));
    }

    static void Expect(std::span<const COleVariant> args, std::initializer_list<VARTYPE> types) {
        if (args.size() != types.size()) throw COleException(DISP_E_BADPARAMCOUNT);
        std::size_t i = 0;
        for (VARTYPE t : types) {
            if (args[i++].vt() != t) throw COleException(DISP_E_TYPEMISMATCH);
        }
    }

    // "C5" -> row 5, column 3
    static std::pair<int, int> ParseCellName(const QString& name) {
        int column = 0;
        qsizetype i = 0;
        while (i < name.size() && name[i].isLetter())
            column = column * 26 + (name[i++].unicode() - u'A' + 1);
        bool ok = false;
        const int row = name.mid(i).toInt(&ok);
        if (!ok || column == 0 || row == 0) throw COleDispatchException("Stand-in", "bad name");
        return {row, column};
    }

    COleVariant Dispatch(const Object& o, DISPID id, unsigned kind,
                         std::span<const COleVariant> args) {
        Call call{o.m_kind, id, kind, {}};
        for (const COleVariant& a : args) call.argTypes.push_back(a.vt());
        calls.push_back(call);
        const auto fault = faults.find({o.m_kind, id});
        if (fault != faults.end() && fault->second == Fault::Dispatch) throw error;
        if (fault != faults.end() && fault->second == Fault::Other) {
            throw COleException(RPC_E_DISCONNECTED);
        }

        const QString& k = o.m_kind;
        if (k == "Application" && id == dispid::Version && kind == DISPATCH_PROPERTYGET) {
            Expect(args, {});
            return COleVariant(version);
        }
        if (k == "Application" && id == dispid::Visible && kind == DISPATCH_PROPERTYPUT) {
            Expect(args, {VT_BOOL});
            visible = args[0].boolVal();
            return {};
        }
        if (k == "Application" && id == dispid::Workbooks && kind == DISPATCH_PROPERTYGET) {
            Expect(args, {});
            return Made("Workbooks", -1, -1);
        }
        if (k == "Application" && id == dispid::ActiveSheet && kind == DISPATCH_PROPERTYGET) {
            Expect(args, {});
            if (activeWorkbook < 0) return COleVariant(std::shared_ptr<IDispatch>());
            return Made("Worksheet", activeWorkbook, workbooks[activeWorkbook].activeSheet);
        }
        if (k == "Application" && id == dispid::ActiveCell && kind == DISPATCH_PROPERTYGET) {
            Expect(args, {});
            if (activeWorkbook < 0 || !activeCell) return COleVariant(std::shared_ptr<IDispatch>());
            const auto [row, column] = *activeCell;
            return Made("Range", activeWorkbook, workbooks[activeWorkbook].activeSheet,
                        {row, column, row, column});
        }
        if (k == "Workbooks" && id == dispid::Count && kind == DISPATCH_PROPERTYGET) {
            Expect(args, {});
            return COleVariant::I4(static_cast<std::int32_t>(workbooks.size()));
        }
        if (k == "Workbooks" && id == dispid::Add && kind == DISPATCH_METHOD) {
            Expect(args, {VT_ERROR});
            AddWorkbook(sheetsOfNewWorkbook);
            return Made("Workbook", activeWorkbook, -1);
        }
        if (k == "Workbook" && id == dispid::Sheets && kind == DISPATCH_PROPERTYGET) {
            Expect(args, {});
            return Made("Sheets", o.m_workbook, -1);
        }
        if (k == "Sheets" && id == dispid::Count && kind == DISPATCH_PROPERTYGET) {
            Expect(args, {});
            return COleVariant::I4(
                static_cast<std::int32_t>(workbooks[o.m_workbook].sheets.size()));
        }
        if (k == "Sheets" && id == dispid::Add && kind == DISPATCH_METHOD) {
            Expect(args, {VT_ERROR, VT_ERROR, VT_I4});
            auto& sheets = workbooks[o.m_workbook].sheets;
            sheets.insert(sheets.begin(), static_cast<std::size_t>(args[2].lVal()), Sheet{});
            return Made("Worksheet", o.m_workbook, 0);
        }
        if (k == "Sheets" && id == dispid::Item && kind == DISPATCH_PROPERTYGET) {
            Expect(args, {VT_I2});
            const int index = args[0].iVal() - 1;
            if (index < 0 || index >= static_cast<int>(workbooks[o.m_workbook].sheets.size())) {
                throw COleDispatchException("Stand-in", "Subscript out of range");
            }
            return Made("Worksheet", o.m_workbook, index);
        }
        if (k == "Worksheet" && id == dispid::Activate && kind == DISPATCH_METHOD) {
            Expect(args, {});
            activeWorkbook = o.m_workbook;
            workbooks[o.m_workbook].activeSheet = o.m_sheet;
            return {};
        }
        if (k == "Worksheet" && id == dispid::Range && kind == DISPATCH_PROPERTYGET) {
            Expect(args, {VT_BSTR, VT_BSTR});
            const auto [row, column] = ParseCellName(args[0].bstrVal());
            const auto [lastRow, lastColumn] = ParseCellName(args[1].bstrVal());
            return Made("Range", o.m_workbook, o.m_sheet, {row, column, lastRow, lastColumn});
        }
        if (k == "Range" && id == dispid::Value && kind == DISPATCH_PROPERTYPUT) {
            Expect(args, {static_cast<VARTYPE>(VT_ARRAY | VT_VARIANT)});
            const COleSafeArray& a = args[0].parray();
            if (a.GetRows() != o.m_area.lastRow - o.m_area.row + 1 ||
                a.GetColumns() != o.m_area.lastColumn - o.m_area.column + 1) {
                throw COleDispatchException("Stand-in", "size mismatch");
            }
            auto& cells = workbooks.at(o.m_workbook).sheets.at(o.m_sheet).cells;
            for (int r = 0; r < a.GetRows(); ++r) {
                for (int c = 0; c < a.GetColumns(); ++c) {
                    const COleVariant& v = a.GetElement(r, c);
                    cells[{o.m_area.row + r, o.m_area.column + c}] =
                        v.vt() == VT_BSTR ? v.bstrVal() : QString();
                }
            }
            return {};
        }
        if (k == "Range" && id == dispid::Address && kind == DISPATCH_PROPERTYGET) {
            Expect(args, {VT_I2, VT_I2, VT_I4, VT_I2, VT_I2});
            auto part = [](const char* letter, int offset) {
                return offset == 0 ? QString::fromLatin1(letter)
                                   : QStringLiteral("%1[%2]").arg(letter).arg(offset);
            };
            return COleVariant(part("R", o.m_area.row - 1) + part("C", o.m_area.column - 1));
        }
        throw COleException(DISP_E_MEMBERNOTFOUND);
    }

    std::vector<std::pair<QString, std::weak_ptr<Object>>> m_objects;
};

// The stand-in of the registry and the running-object table, installed for its lifetime.
class FakeAutomationServer final : public IAutomationServer {
  public:
    explicit FakeAutomationServer(FakeExcel& excel) : m_excel(excel) { SetAutomationServer(this); }
    ~FakeAutomationServer() override { SetAutomationServer(nullptr); }
    FakeAutomationServer(const FakeAutomationServer&) = delete;
    FakeAutomationServer& operator=(const FakeAutomationServer&) = delete;

    bool CLSIDFromProgID(const QString& progId, CLSID& clsid) override {
        if (!registered || progId != QLatin1String(kExcelProgId)) return false;
        clsid.progId = progId;
        return true;
    }
    std::shared_ptr<IDispatch> GetActiveObject(const CLSID&) override {
        return running ? m_excel.Application() : nullptr;
    }
    std::shared_ptr<IDispatch> CreateDispatch(const QString&) override {
        ++started;
        if (!canStart) return nullptr;
        running = true;
        return m_excel.Application();
    }
    std::shared_ptr<IDispatch> CreateInstalledDispatch(const QString&) override {
        ++probed;
        return installed ? m_excel.Application() : nullptr;
    }

    bool registered = true;
    bool installed = true;
    bool running = true;
    bool canStart = true;
    int started = 0;
    int probed = 0;

  private:
    FakeExcel& m_excel;
};

}  // namespace lyr::test
