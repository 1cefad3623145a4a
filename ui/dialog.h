#pragma once

#include <QColor>
#include <QDialog>
#include <QFont>
#include <QIcon>
#include <QList>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <unordered_map>

#include "platform/message_box.h"
#include "platform/notify_window.h"
#include "res/dialog_template.h"

class QAbstractButton;
class QAction;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenuBar;
class QPushButton;
class QRadioButton;

namespace lyr {

// Notification codes that OnCommand receives with a control id, with their Windows values.
enum : unsigned {
    BN_CLICKED = 0,     // a button was clicked (also menu and context-menu commands)
    CBN_SELCHANGE = 1,  // the operator chose another entry of a combo box
    LBN_SELCHANGE = 1,  // the operator chose another entry of a list box
    LBN_DBLCLK = 2,
    EN_CHANGE = 0x300,  // the text of an edit changed
};

// A control and the string-table text it shows at run time.
struct ControlCaption {
    int control;
    unsigned string;
};

class CDialog;

// Icon resource 128, the program icon, in every size compiled in.
[[nodiscard]] QIcon ProgramIcon();

// One run of the dialog data exchange: members to controls (m_bSaveAndValidate false) or controls
// to members with validation (true). A DDX_ or DDV_ helper that finds input it cannot take shows
// its prompt and calls Fail(), which ends the exchange at that field: the members not yet
// exchanged keep their values and the focus goes to the failing control.
class CDataExchange {
  public:
    CDataExchange(CDialog* dlg, bool saveAndValidate)
        : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dlg) {}

    // The control `id`, remembered as the one to focus should the exchange fail.
    QWidget* PrepareCtrl(int id);
    // The same for an edit: on failure its whole text is also selected.
    QWidget* PrepareEditCtrl(int id);
    // Ends the exchange (throws; UpdateData catches it and returns false).
    [[noreturn]] void Fail();

    const bool m_bSaveAndValidate;
    CDialog* const m_pDlgWnd;

  private:
    QWidget* m_pLastCtrl = nullptr;
    bool m_bEditLastControl = false;
};

// Text of any control: edit, static, button, group box, combo box (its current text).
void DDX_Text(CDataExchange* pDX, int id, QString& value);
// Integers read like scanf's %d: leading blanks skipped, reading stops at the first character
// that is not a digit; "Please enter an integer." when no number starts the text.
void DDX_Text(CDataExchange* pDX, int id, int& value);
// As above without a sign: "Please enter a positive integer." when no digit starts the text.
void DDX_Text(CDataExchange* pDX, int id, unsigned& value);
// Written with 15 significant digits; read back only when the whole text (blanks around it
// aside) is one finite number, else "Please enter a number.".
void DDX_Text(CDataExchange* pDX, int id, double& value);
// The position of the checked button in the radio group that starts at `firstId`; -1 when none
// is checked. Writing -1 (or a position past the group) unchecks them all.
void DDX_Radio(CDataExchange* pDX, int firstId, int& value);
// A check box: 1 ticked, 0 empty.
void DDX_Check(CDataExchange* pDX, int id, int& value);
void DDX_Check(CDataExchange* pDX, int id, bool& value);
// The selected position of a combo box; -1 when none. An index out of range clears the
// selection.
void DDX_CBIndex(CDataExchange* pDX, int id, int& index);
// The selected row of a list box; -1 when none.
void DDX_LBIndex(CDataExchange* pDX, int id, int& index);
// Range checks, when reading back only: "Please enter an integer between %1 and %2.".
void DDV_MinMaxInt(CDataExchange* pDX, int value, int minValue, int maxValue);
void DDV_MinMaxUInt(CDataExchange* pDX, unsigned value, unsigned minValue, unsigned maxValue);

// A dialog built from a dialog template of res/, in the manner of an MFC CDialog:
//
// - The constructor creates every control of the template (rectangles converted from dialog
//   units through the dialog font: x by its average character width / 4, y by its height / 8),
//   hidden or visible as the template says, with the template's placeholder texts, the default
//   push button as Qt's default button, the tab order of the template, radio buttons grouped
//   from each CS_GROUP radio to the next control with CS_GROUP, and the menu bar of the
//   template's menu on top.
// - DoModal (or Create for a window that is not modal, as tests use it) runs OnInitDialog, whose
//   base transfers the members to the controls (UpdateData(false)); DoModal then runs the modal
//   loop until EndDialog and calls DestroyWindow.
// - Commands: button clicks, list selection changes, menu items arrive in OnCommand(id, code),
//   whose base dispatches the handlers registered with OnBnClicked/OnSelChange/OnCommandId and
//   then turns IDOK into OnOK and IDCANCEL into OnCancel. ESC is IDCANCEL, the close box OnClose
//   (whose base is IDCANCEL too).
// - Messages: PostMessage queues one to the window's thread and returns; SendMessage from another
//   thread blocks until the window's thread has handled it, from the window's own thread calls
//   the handler directly. Handlers are registered with OnMessage. Modal message boxes and file
//   dialogs run nested loops, so messages keep arriving while they are open.
// - Timers by id: SetTimer replaces a running timer of the same id; OnTimer(id) on every tick.
// - PreTranslateMessage sees every key press for the dialog or any of its controls before the
//   control or the dialog's own key handling (ENTER presses the focused push button or else the
//   default button, ESC cancels, TAB moves the focus); returning true drops the key.
class CDialog : public QDialog {
  public:
    explicit CDialog(const res::DialogTemplate& dialogTemplate, QWidget* parent = nullptr);
    ~CDialog() override;
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Initialises (OnInitDialog), shows the dialog modally and returns what EndDialog was given
    // (IDOK, IDCANCEL...). DestroyWindow runs before it returns.
    int DoModal();
    // Initialises and shows the dialog without a modal loop (a window that stays open, or a test
    // driving the dialog). Does nothing the second time.
    bool Create();
    // Ends the dialog with `result`: the modal loop of DoModal returns it; a dialog made by
    // Create is hidden and keeps the result in ModalResult().
    void EndDialog(int result);
    [[nodiscard]] int ModalResult() const { return m_nModalResult; }
    // Tears the window down: kills its timers, runs OnDestroy and hides it. DoModal calls it after
    // the modal loop; a window made by Create must be given it before it is deleted.
    virtual bool DestroyWindow();
    [[nodiscard]] bool IsWindowDestroyed() const { return m_bDestroyed; }

    // ---- Controls ----
    [[nodiscard]] QWidget* GetDlgItem(int id) const;  // nullptr when the template has no such id
    template <typename T>
    [[nodiscard]] T* GetDlgItemAs(int id) const {
        return qobject_cast<T*>(GetDlgItem(id));
    }
    [[nodiscard]] QPushButton* GetButton(int id) const;
    [[nodiscard]] QRadioButton* GetRadio(int id) const;
    [[nodiscard]] QCheckBox* GetCheckBox(int id) const;
    [[nodiscard]] QLineEdit* GetEdit(int id) const;
    [[nodiscard]] QComboBox* GetComboBox(int id) const;
    [[nodiscard]] QListWidget* GetListBox(int id) const;
    [[nodiscard]] QLabel* GetStatic(int id) const;
    [[nodiscard]] QGroupBox* GetGroupBox(int id) const;
    // The buttons of the radio group that starts at `firstId`, in template order.
    [[nodiscard]] QList<QAbstractButton*> RadioGroup(int firstId) const;
    // The template control a widget was made from, or nullptr.
    [[nodiscard]] const res::DialogControl* TemplateControl(int id) const;
    [[nodiscard]] const res::DialogTemplate& Template() const { return m_template; }

    void SetDlgItemText(int id, const QString& text);
    // Sets each control's text from the string table, in the order of `captions`.
    void SetDlgItemCaptions(std::span<const ControlCaption> captions);
    [[nodiscard]] QString GetDlgItemText(int id) const;
    void SetWindowText(const QString& text) { setWindowTitle(text); }
    void EnableDlgItem(int id, bool enable);
    void CheckDlgButton(int id, int check);
    [[nodiscard]] int IsDlgButtonChecked(int id) const;
    // Checks `checkId` and unchecks the other buttons of first..last (ids in template order).
    void CheckRadioButton(int firstId, int lastId, int checkId);
    // Gives the focus to a control (as WM_NEXTDLGCTL does); an edit gets its text selected.
    void GotoDlgCtrl(QWidget* control);
    // Where the template put a control, in pixels of the client area (below the menu bar).
    [[nodiscard]] QRect DialogUnitsToPixels(int x, int y, int cx, int cy) const;
    // The dialog font's base units: average character width and height in pixels.
    [[nodiscard]] int BaseUnitX() const { return m_baseX; }
    [[nodiscard]] int BaseUnitY() const { return m_baseY; }

    // Exchanges the members with the controls; false when reading back failed (a prompt has been
    // shown and the focus is on the failing control).
    bool UpdateData(bool saveAndValidate = true);

    // ---- Menu bar ----
    [[nodiscard]] QMenuBar* GetMenu() const { return m_pMenuBar; }
    // The menu bar item at `position`, or nullptr.
    [[nodiscard]] QAction* GetMenuItem(int position) const;
    // The menu bar item with `command`, or nullptr.
    [[nodiscard]] QAction* FindMenuItem(unsigned command) const;
    // Replaces the item at `position` by a string item with `command` and `text` (ModifyMenu by
    // position).
    void ModifyMenuItem(int position, unsigned command, const QString& text);
    void EnableMenuItem(unsigned command, bool enable);

    // ---- Commands, messages, timers ----
    // Delivers a command as WM_COMMAND does: OnCommand(id, code) at once.
    void SendCommand(int id, unsigned code = BN_CLICKED);
    void PostMessage(unsigned message, WPARAM wParam, LPARAM lParam,
                     std::shared_ptr<const MessagePayload> payload = {});
    LRESULT SendMessage(unsigned message, WPARAM wParam, LPARAM lParam);
    // The payload of the posted message being handled now (nullptr when none or when sent).
    [[nodiscard]] const MessagePayload* CurrentMessagePayload() const { return m_pCurrentPayload; }

    bool SetTimer(unsigned id, unsigned milliseconds);
    bool KillTimer(unsigned id);
    [[nodiscard]] bool IsTimerRunning(unsigned id) const { return m_timers.count(id) != 0; }

    // The font a dialog of this template uses: the template's face when installed, else DejaVu
    // Sans, else fontconfig's sans-serif, at the template's point size.
    [[nodiscard]] static QFont DialogFont(const res::DialogTemplate& dialogTemplate);
    // A font of `pointSize` and `weight` for `face`, falling back as DialogFont does.
    [[nodiscard]] static QFont MakeFont(const QString& face, int pointSize,
                                        int weight = QFont::Normal);

  protected:
    // Exchanges the members with the controls, in the order the dialog defines.
    virtual void DoDataExchange(CDataExchange* /*pDX*/) {}
    // Base: members to controls. True: the focus goes to the first tab stop; false: the
    // function has placed the focus itself.
    virtual bool OnInitDialog();
    // Base OnOK: UpdateData(true) and, when it succeeds, EndDialog(IDOK).
    virtual void OnOK();
    // Base OnCancel: EndDialog(IDCANCEL).
    virtual void OnCancel();
    // The close box (WM_CLOSE). Base: the IDCANCEL command.
    virtual void OnClose();
    // Returns true when the command was handled.
    virtual bool OnCommand(int id, unsigned code);
    virtual void OnTimer(unsigned /*id*/) {}
    // Key presses before anything else handles them; true drops the key.
    virtual bool PreTranslateMessage(QKeyEvent* /*msg*/) { return false; }
    // Runs inside DestroyWindow, before the window is hidden.
    virtual void OnDestroy() {}
    // The background a control is painted with (WM_CTLCOLOR); nullopt keeps the standard one.
    // Asked again for every control after each UpdateData(false) and each SetDlgItemText.
    virtual std::optional<QColor> OnCtlColor(int /*id*/) { return std::nullopt; }
    // Applies OnCtlColor to every control (the dialog's repaint).
    void RefreshCtlColors();

    // Message map entries.
    void OnBnClicked(int id, std::function<void()> handler);
    void OnSelChange(int id, std::function<void()> handler);
    void OnCommandId(int id, unsigned code, std::function<void()> handler);
    void OnMessage(unsigned message, std::function<LRESULT(WPARAM, LPARAM)> handler);

    // Qt plumbing.
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void timerEvent(QTimerEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void reject() override;  // ESC
    void accept() override;

  private:
    class MessageEvent;
    void BuildControls();
    QWidget* MakeControl(const res::DialogControl& control);
    void BuildMenu(unsigned menuId);
    LRESULT DispatchMessage(unsigned message, WPARAM wParam, LPARAM lParam,
                            const MessagePayload* payload);
    void InitDialog();
    void FocusFirstTabStop();
    void UpdateRadioTabStops(QButtonGroup* group);

    const res::DialogTemplate& m_template;
    int m_baseX = 0;
    int m_baseY = 0;
    int m_menuHeight = 0;
    QMenuBar* m_pMenuBar = nullptr;  // owned by the dialog (Qt parent)
    // Controls by id, and every control in template order (ids may repeat as IDC_STATIC).
    std::unordered_map<int, QWidget*> m_controls;
    QList<QWidget*> m_controlList;
    QList<const res::DialogControl*> m_controlTemplates;
    // The radio group each radio button belongs to.
    std::unordered_map<QWidget*, QButtonGroup*> m_radioGroups;
    std::map<std::pair<int, unsigned>, std::function<void()>> m_commandMap;
    std::unordered_map<unsigned, std::function<LRESULT(WPARAM, LPARAM)>> m_messageMap;
    std::map<unsigned, int> m_timers;  // our timer id -> Qt timer id
    const MessagePayload* m_pCurrentPayload = nullptr;
    int m_nModalResult = -1;
    bool m_bInitialised = false;
    bool m_bDestroyed = false;
    bool m_bInModalLoop = false;
};

}  // namespace lyr
