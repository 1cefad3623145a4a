#include "ui/dialog.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QThread>
#include <QTimerEvent>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <future>
#include <limits>

#include "res/resource.h"
#include "res/string_table.h"

namespace lyr {

namespace {

// Thrown by CDataExchange::Fail, caught by UpdateData.
struct DataExchangeFailure {};

const QEvent::Type kMessageEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

// Windows' MulDiv with rounding, as dialog units are converted.
int MulDiv(int number, int numerator, int denominator) {
    return static_cast<int>(std::lround(static_cast<double>(number) * numerator / denominator));
}

// Windows never runs a window timer faster than this.
constexpr unsigned kUserTimerMinimum = 10;

QString TextOf(const QWidget* w) {
    if (const auto* e = qobject_cast<const QLineEdit*>(w)) return e->text();
    if (const auto* l = qobject_cast<const QLabel*>(w)) return l->text();
    if (const auto* b = qobject_cast<const QAbstractButton*>(w)) return b->text();
    if (const auto* g = qobject_cast<const QGroupBox*>(w)) return g->title();
    if (const auto* c = qobject_cast<const QComboBox*>(w)) return c->currentText();
    if (const auto* lb = qobject_cast<const QListWidget*>(w))
        return lb->currentItem() != nullptr ? lb->currentItem()->text() : QString();
    return {};
}

void SetTextOf(QWidget* w, const QString& text) {
    if (auto* e = qobject_cast<QLineEdit*>(w)) {
        if (e->text() != text) e->setText(text);
    } else if (auto* l = qobject_cast<QLabel*>(w)) {
        l->setText(text);
    } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        b->setText(text);
    } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
        g->setTitle(text);
    } else if (auto* c = qobject_cast<QComboBox*>(w)) {
        const int i = c->findText(text);
        if (i >= 0) c->setCurrentIndex(i);
    }
}

void ShowPrompt(unsigned id) { AfxMessageBox(LoadString(id), MB_OK | MB_ICONEXCLAMATION); }

}  // namespace

QIcon ProgramIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/lyrlogger/lyrlogger-%1.png").arg(size), QSize(size, size));
    return icon;
}

// ---------------------------------------------------------------------------------------------
// Posted and sent messages

class CDialog::MessageEvent final : public QEvent {
  public:
    MessageEvent(unsigned message, WPARAM wParam, LPARAM lParam,
                 std::shared_ptr<const MessagePayload> payload)
        : QEvent(kMessageEventType),
          Message(message),
          WParam(wParam),
          LParam(lParam),
          Payload(std::move(payload)) {}

    const unsigned Message;
    const WPARAM WParam;
    const LPARAM LParam;
    const std::shared_ptr<const MessagePayload> Payload;
    // Set for a message sent from another thread: the sender waits on its future. An event that
    // is dropped unhandled (the window went away) breaks the promise, which wakes the sender too.
    std::optional<std::promise<LRESULT>> Reply;
};

void CDialog::PostMessage(unsigned message, WPARAM wParam, LPARAM lParam,
                          std::shared_ptr<const MessagePayload> payload) {
    QCoreApplication::postEvent(this,
                                new MessageEvent(message, wParam, lParam, std::move(payload)));
}

LRESULT CDialog::SendMessage(unsigned message, WPARAM wParam, LPARAM lParam) {
    if (QThread::currentThread() == thread())
        return DispatchMessage(message, wParam, lParam, nullptr);
    auto* e = new MessageEvent(message, wParam, lParam, {});
    e->Reply.emplace();
    std::future<LRESULT> reply = e->Reply->get_future();
    QCoreApplication::postEvent(this, e);
    try {
        return reply.get();
    } catch (const std::future_error&) {
        return 0;  // the window was destroyed before it handled the message
    }
}

LRESULT CDialog::DispatchMessage(unsigned message, WPARAM wParam, LPARAM lParam,
                                 const MessagePayload* payload) {
    auto it = m_messageMap.find(message);
    if (it == m_messageMap.end()) return 0;
    const MessagePayload* outer = m_pCurrentPayload;
    m_pCurrentPayload = payload;
    const LRESULT result = it->second(wParam, lParam);
    m_pCurrentPayload = outer;
    return result;
}

bool CDialog::event(QEvent* e) {
    if (e->type() == kMessageEventType) {
        auto* m = static_cast<MessageEvent*>(e);
        const LRESULT result = DispatchMessage(m->Message, m->WParam, m->LParam, m->Payload.get());
        if (m->Reply) {
            m->Reply->set_value(result);
            m->Reply.reset();
        }
        return true;
    }
    return QDialog::event(e);
}

void CDialog::OnMessage(unsigned message, std::function<LRESULT(WPARAM, LPARAM)> handler) {
    m_messageMap[message] = std::move(handler);
}

// ---------------------------------------------------------------------------------------------
// Construction from the template

CDialog::CDialog(const res::DialogTemplate& dialogTemplate, QWidget* parent)
    : QDialog(parent), m_template(dialogTemplate) {
    Qt::WindowFlags flags = (m_template.style & res::DS_APPWINDOW) ? Qt::Window : Qt::Dialog;
    flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;
    if (m_template.style & res::DS_SYSMENU) flags |= Qt::WindowSystemMenuHint;
    if (m_template.style & res::DS_MINIMIZEBOX) flags |= Qt::WindowMinimizeButtonHint;
    if (m_template.style & res::DS_MAXIMIZEBOX) flags |= Qt::WindowMaximizeButtonHint;
    setWindowFlags(flags);
    setWindowTitle(QString::fromUtf8(m_template.title));
    setWindowIcon(ProgramIcon());
    setFont(DialogFont(m_template));

    // Base units as Windows takes them from the dialog font: the average width of the 52 letters
    // (rounded) and the character height.
    const QFontMetrics fm(font());
    const int letters = fm.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_baseX = (letters / 26 + 1) / 2;
    m_baseY = fm.ascent() + fm.descent();

    if (m_template.menuId != 0) BuildMenu(m_template.menuId);
    BuildControls();
    installEventFilter(this);  // keys that reach the dialog itself go through PreTranslateMessage

    const QRect client = DialogUnitsToPixels(0, 0, m_template.cx, m_template.cy);
    setFixedSize(client.width(), client.height() + m_menuHeight);
}

CDialog::~CDialog() {
    for (const auto& [id, qtId] : m_timers) killTimer(qtId);
}

QFont CDialog::MakeFont(const QString& face, int pointSize, int weight) {
    QFont f;
    // Faces of the Windows layouts are rarely installed here: the first installed one of the list
    // is taken, and fontconfig's sans-serif when none is.
    QStringList families;
    if (QFontDatabase::hasFamily(face)) families << face;
    families << QStringLiteral("DejaVu Sans") << QStringLiteral("sans-serif");
    f.setFamilies(families);
    f.setStyleHint(QFont::SansSerif);
    f.setPointSize(pointSize);
    f.setWeight(static_cast<QFont::Weight>(weight));
    return f;
}

QFont CDialog::DialogFont(const res::DialogTemplate& dialogTemplate) {
    return MakeFont(QString::fromUtf8(dialogTemplate.fontName), dialogTemplate.fontPointSize);
}

QRect CDialog::DialogUnitsToPixels(int x, int y, int cx, int cy) const {
    return QRect(MulDiv(x, m_baseX, 4), MulDiv(y, m_baseY, 8) + m_menuHeight,
                 MulDiv(cx, m_baseX, 4), MulDiv(cy, m_baseY, 8));
}

void CDialog::BuildMenu(unsigned menuId) {
    const res::MenuTemplate* menu = res::FindMenuTemplate(menuId);
    if (menu == nullptr) return;
    m_pMenuBar = new QMenuBar(this);
    m_pMenuBar->setNativeMenuBar(false);
    for (const res::MenuItem& item : menu->items) {
        QAction* action = m_pMenuBar->addAction(QString::fromUtf8(item.text));
        const unsigned command = item.command;
        action->setData(command);
        connect(action, &QAction::triggered, this, [this, action] {
            SendCommand(static_cast<int>(action->data().toUInt()), BN_CLICKED);
        });
    }
    m_menuHeight = m_pMenuBar->sizeHint().height();
    m_pMenuBar->setGeometry(0, 0, MulDiv(m_template.cx, m_baseX, 4), m_menuHeight);
}

QWidget* CDialog::MakeControl(const res::DialogControl& c) {
    using res::ControlKind;
    const QString text = QString::fromUtf8(c.text);
    const bool tabStop = (c.style & res::CS_TABSTOP) != 0;
    const Qt::FocusPolicy interactive = tabStop ? Qt::StrongFocus : Qt::ClickFocus;
    QWidget* w = nullptr;
    switch (c.kind) {
        case ControlKind::Static: {
            auto* label = new QLabel(text, this);
            Qt::Alignment align = Qt::AlignTop | Qt::AlignLeft;
            if (c.style & res::CS_CENTER) align = (align & ~Qt::AlignLeft) | Qt::AlignHCenter;
            if (c.style & res::CS_RIGHT) align = (align & ~Qt::AlignLeft) | Qt::AlignRight;
            if (c.style & res::CS_VCENTER)
                align = (align & ~Qt::AlignTop) | Qt::AlignVCenter;
            else
                label->setWordWrap(true);  // a plain static wraps at word breaks
            label->setAlignment(align);
            label->setTextFormat(Qt::PlainText);
            label->setFocusPolicy(Qt::NoFocus);
            w = label;
            break;
        }
        case ControlKind::Icon: {
            auto* label = new QLabel(this);
            const QRect r = DialogUnitsToPixels(c.x, c.y, c.cx, c.cy);
            const int side = std::min(r.width(), r.height());
            label->setPixmap(ProgramIcon().pixmap(side, side));
            label->setFocusPolicy(Qt::NoFocus);
            w = label;
            break;
        }
        case ControlKind::GroupBox: {
            auto* group = new QGroupBox(text, this);
            group->setFocusPolicy(Qt::NoFocus);
            w = group;
            break;
        }
        case ControlKind::PushButton:
        case ControlKind::DefPushButton: {
            auto* button = new QPushButton(text, this);
            button->setAutoDefault(true);  // ENTER presses the push button that has the focus
            button->setDefault(c.kind == ControlKind::DefPushButton);
            button->setFocusPolicy(interactive);
            connect(button, &QPushButton::clicked, this,
                    [this, id = c.id] { SendCommand(id, BN_CLICKED); });
            w = button;
            break;
        }
        case ControlKind::RadioButton: {
            auto* radio = new QRadioButton(text, this);
            radio->setFocusPolicy(interactive);
            connect(radio, &QRadioButton::clicked, this,
                    [this, id = c.id] { SendCommand(id, BN_CLICKED); });
            w = radio;
            break;
        }
        case ControlKind::CheckBox: {
            auto* check = new QCheckBox(text, this);
            check->setFocusPolicy(interactive);
            connect(check, &QCheckBox::clicked, this,
                    [this, id = c.id] { SendCommand(id, BN_CLICKED); });
            w = check;
            break;
        }
        case ControlKind::Edit: {
            auto* edit = new QLineEdit(text, this);
            edit->setReadOnly((c.style & res::CS_READONLY) != 0);
            edit->setFocusPolicy(interactive);
            connect(edit, &QLineEdit::textChanged, this,
                    [this, id = c.id] { SendCommand(id, EN_CHANGE); });
            w = edit;
            break;
        }
        case ControlKind::ComboDropList: {
            auto* combo = new QComboBox(this);
            combo->setEditable(false);
            for (const char* item : c.items) combo->addItem(QString::fromUtf8(item));
            combo->setCurrentIndex(-1);  // a list starts without a selection
            combo->setFocusPolicy(interactive);
            // Only the operator's choice is a selection change; a selection set by code is not.
            connect(combo, &QComboBox::activated, this,
                    [this, id = c.id] { SendCommand(id, CBN_SELCHANGE); });
            w = combo;
            break;
        }
        case ControlKind::ListBox: {
            auto* list = new QListWidget(this);
            for (const char* item : c.items) list->addItem(QString::fromUtf8(item));
            if (c.style & res::CS_SORT) list->setSortingEnabled(true);
            list->setFocusPolicy(interactive);
            connect(list, &QListWidget::itemClicked, this,
                    [this, id = c.id] { SendCommand(id, LBN_SELCHANGE); });
            connect(list, &QListWidget::itemDoubleClicked, this,
                    [this, id = c.id] { SendCommand(id, LBN_DBLCLK); });
            w = list;
            break;
        }
    }
    const QRect r = DialogUnitsToPixels(c.x, c.y, c.cx, c.cy);
    if (c.kind == ControlKind::ComboDropList) {
        // The template's height is that of the dropped-down list; the closed box is as high as
        // the style wants, at the template's position.
        w->setGeometry(r.x(), r.y(), r.width(), w->sizeHint().height());
    } else {
        w->setGeometry(r);
    }
    if (c.style & res::CS_DISABLED) w->setEnabled(false);
    w->setVisible((c.style & res::CS_VISIBLE) != 0);
    w->setProperty("lyrControlId", c.id);
    w->installEventFilter(this);
    return w;
}

void CDialog::BuildControls() {
    QButtonGroup* group = nullptr;
    for (const res::DialogControl& c : m_template.controls) {
        QWidget* w = MakeControl(c);
        m_controlList.append(w);
        m_controlTemplates.append(&c);
        if (c.id != IDC_STATIC && m_controls.count(c.id) == 0) m_controls[c.id] = w;

        // A radio group runs from a radio with CS_GROUP to the next control with CS_GROUP, as the
        // Windows dialog manager groups automatic radio buttons.
        if (c.style & res::CS_GROUP) group = nullptr;
        if (auto* radio = qobject_cast<QRadioButton*>(w)) {
            if (group == nullptr) {
                group = new QButtonGroup(this);
                connect(group, &QButtonGroup::buttonToggled, this,
                        [this, group](QAbstractButton*, bool checked) {
                            if (checked) UpdateRadioTabStops(group);
                        });
            }
            group->addButton(radio);
            radio->setAutoExclusive(false);
            m_radioGroups[w] = group;
        } else if (c.style & res::CS_GROUP) {
            group = nullptr;
        }
    }
    // Group boxes only frame the controls that lie on them.
    for (QWidget* w : m_controlList)
        if (qobject_cast<QGroupBox*>(w) != nullptr) w->lower();
    // Tab order = template order.
    QWidget* previous = nullptr;
    for (QWidget* w : m_controlList) {
        if (w->focusPolicy() == Qt::NoFocus) continue;
        if (previous != nullptr) setTabOrder(previous, w);
        previous = w;
    }
    for (auto& [w, g] : m_radioGroups) UpdateRadioTabStops(g);
}

void CDialog::UpdateRadioTabStops(QButtonGroup* group) {
    // TAB enters a radio group at its checked button (at its first one when none is checked);
    // the arrow keys move within it.
    const QList<QAbstractButton*> buttons = group->buttons();
    if (buttons.isEmpty()) return;
    QAbstractButton* stop = buttons.first();
    for (QAbstractButton* b : buttons)
        if (b->isChecked()) stop = b;
    const bool groupIsTabStop =
        std::any_of(buttons.begin(), buttons.end(), [this](QAbstractButton* b) {
            const res::DialogControl* c = m_controlTemplates.value(m_controlList.indexOf(b));
            return c != nullptr && (c->style & res::CS_TABSTOP);
        });
    for (QAbstractButton* b : buttons)
        b->setFocusPolicy(groupIsTabStop && b == stop ? Qt::StrongFocus : Qt::ClickFocus);
}

// ---------------------------------------------------------------------------------------------
// Life cycle

void CDialog::InitDialog() {
    if (m_bInitialised) return;
    m_bInitialised = true;
    m_nModalResult = -1;
    if (OnInitDialog()) FocusFirstTabStop();
}

void CDialog::FocusFirstTabStop() {
    for (QWidget* w : m_controlList) {
        if ((w->focusPolicy() & Qt::TabFocus) && w->isEnabled() && !w->isHidden()) {
            GotoDlgCtrl(w);
            return;
        }
    }
}

bool CDialog::OnInitDialog() {
    UpdateData(false);
    return true;
}

bool CDialog::Create() {
    if (m_bInitialised) return true;
    InitDialog();
    show();
    return true;
}

int CDialog::DoModal() {
    InitDialog();
    m_bInModalLoop = true;
    if (m_nModalResult == -1) {
        // EndDialog inside OnInitDialog ends the dialog before it is shown.
        exec();
    }
    m_bInModalLoop = false;
    DestroyWindow();
    return m_nModalResult;
}

void CDialog::EndDialog(int result) {
    m_nModalResult = result;
    QDialog::done(result);
}

bool CDialog::DestroyWindow() {
    if (m_bDestroyed) return false;
    m_bDestroyed = true;
    for (const auto& [id, qtId] : m_timers) killTimer(qtId);
    m_timers.clear();
    OnDestroy();
    hide();
    return true;
}

void CDialog::OnOK() {
    if (!UpdateData(true)) return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void CDialog::OnClose() { SendCommand(IDCANCEL, BN_CLICKED); }

void CDialog::closeEvent(QCloseEvent* e) {
    // Whether the window really goes is OnClose's decision (it ends the dialog, or refuses).
    e->ignore();
    OnClose();
}

void CDialog::reject() { SendCommand(IDCANCEL, BN_CLICKED); }

void CDialog::accept() { SendCommand(IDOK, BN_CLICKED); }

// ---------------------------------------------------------------------------------------------
// Commands, timers, keys

void CDialog::SendCommand(int id, unsigned code) { OnCommand(id, code); }

bool CDialog::OnCommand(int id, unsigned code) {
    auto it = m_commandMap.find({id, code});
    if (it != m_commandMap.end()) {
        it->second();
        return true;
    }
    if (code == BN_CLICKED && id == IDOK) {
        OnOK();
        return true;
    }
    if (code == BN_CLICKED && id == IDCANCEL) {
        OnCancel();
        return true;
    }
    return false;
}

void CDialog::OnBnClicked(int id, std::function<void()> handler) {
    m_commandMap[{id, BN_CLICKED}] = std::move(handler);
}

void CDialog::OnSelChange(int id, std::function<void()> handler) {
    m_commandMap[{id, CBN_SELCHANGE}] = std::move(handler);
}

void CDialog::OnCommandId(int id, unsigned code, std::function<void()> handler) {
    m_commandMap[{id, code}] = std::move(handler);
}

bool CDialog::SetTimer(unsigned id, unsigned milliseconds) {
    KillTimer(id);
    const int qtId =
        startTimer(static_cast<int>(std::max(milliseconds, kUserTimerMinimum)), Qt::PreciseTimer);
    if (qtId == 0) return false;
    m_timers[id] = qtId;
    return true;
}

bool CDialog::KillTimer(unsigned id) {
    auto it = m_timers.find(id);
    if (it == m_timers.end()) return false;
    killTimer(it->second);
    m_timers.erase(it);
    return true;
}

void CDialog::timerEvent(QTimerEvent* e) {
    for (const auto& [id, qtId] : m_timers) {
        if (qtId == e->timerId()) {
            OnTimer(id);
            return;
        }
    }
    QDialog::timerEvent(e);
}

bool CDialog::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() == QEvent::KeyPress && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == this) {
        if (PreTranslateMessage(static_cast<QKeyEvent*>(e))) return true;
    }
    return QDialog::eventFilter(watched, e);
}

// ---------------------------------------------------------------------------------------------
// Controls

QWidget* CDialog::GetDlgItem(int id) const {
    auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
}

const res::DialogControl* CDialog::TemplateControl(int id) const {
    for (const res::DialogControl* c : m_controlTemplates)
        if (c->id == id) return c;
    return nullptr;
}

QList<QAbstractButton*> CDialog::RadioGroup(int firstId) const {
    // The radio buttons from `firstId` on, up to the first control that is no radio button or
    // starts a group of its own.
    QList<QAbstractButton*> buttons;
    bool collecting = false;
    for (int i = 0; i < m_controlList.size(); ++i) {
        const res::DialogControl* c = m_controlTemplates[i];
        if (!collecting) {
            collecting = c->id == firstId && c->kind == res::ControlKind::RadioButton;
        } else if ((c->style & res::CS_GROUP) || c->kind != res::ControlKind::RadioButton) {
            break;
        }
        if (collecting) buttons.append(static_cast<QAbstractButton*>(m_controlList[i]));
    }
    return buttons;
}

QPushButton* CDialog::GetButton(int id) const { return GetDlgItemAs<QPushButton>(id); }
QRadioButton* CDialog::GetRadio(int id) const { return GetDlgItemAs<QRadioButton>(id); }
QCheckBox* CDialog::GetCheckBox(int id) const { return GetDlgItemAs<QCheckBox>(id); }
QLineEdit* CDialog::GetEdit(int id) const { return GetDlgItemAs<QLineEdit>(id); }
QComboBox* CDialog::GetComboBox(int id) const { return GetDlgItemAs<QComboBox>(id); }
QListWidget* CDialog::GetListBox(int id) const { return GetDlgItemAs<QListWidget>(id); }
QLabel* CDialog::GetStatic(int id) const { return GetDlgItemAs<QLabel>(id); }
QGroupBox* CDialog::GetGroupBox(int id) const { return GetDlgItemAs<QGroupBox>(id); }

void CDialog::SetDlgItemText(int id, const QString& text) {
    if (QWidget* w = GetDlgItem(id)) SetTextOf(w, text);
    RefreshCtlColors();
}

void CDialog::SetDlgItemCaptions(std::span<const ControlCaption> captions) {
    for (const ControlCaption& caption : captions)
        SetDlgItemText(caption.control, LoadString(caption.string));
}

QString CDialog::GetDlgItemText(int id) const {
    const QWidget* w = GetDlgItem(id);
    return w != nullptr ? TextOf(w) : QString();
}

void CDialog::EnableDlgItem(int id, bool enable) {
    if (QWidget* w = GetDlgItem(id)) w->setEnabled(enable);
}

void CDialog::CheckDlgButton(int id, int check) {
    if (auto* b = GetDlgItemAs<QAbstractButton>(id)) b->setChecked(check != 0);
}

int CDialog::IsDlgButtonChecked(int id) const {
    const auto* b = GetDlgItemAs<QAbstractButton>(id);
    return b != nullptr && b->isChecked() ? 1 : 0;
}

void CDialog::CheckRadioButton(int firstId, int lastId, int checkId) {
    bool inRange = false;
    for (int i = 0; i < m_controlList.size(); ++i) {
        const int id = m_controlTemplates[i]->id;
        if (id == firstId) inRange = true;
        if (inRange) {
            if (auto* b = qobject_cast<QAbstractButton*>(m_controlList[i])) {
                QButtonGroup* group = b->group();
                if (group != nullptr) group->setExclusive(false);
                b->setChecked(id == checkId);
                if (group != nullptr) group->setExclusive(true);
            }
        }
        if (id == lastId) break;
    }
}

void CDialog::GotoDlgCtrl(QWidget* control) {
    if (control == nullptr) return;
    control->setFocus(Qt::OtherFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(control)) edit->selectAll();
}

void CDialog::RefreshCtlColors() {
    for (int i = 0; i < m_controlList.size(); ++i) {
        QWidget* w = m_controlList[i];
        const std::optional<QColor> color = OnCtlColor(m_controlTemplates[i]->id);
        if (!color && !w->autoFillBackground()) continue;
        QPalette pal = w->palette();
        if (color) {
            pal.setColor(QPalette::Window, *color);
            w->setPalette(pal);
            w->setAutoFillBackground(true);
        } else {
            w->setPalette(QPalette());
            w->setAutoFillBackground(false);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Menu bar

QAction* CDialog::GetMenuItem(int position) const {
    if (m_pMenuBar == nullptr) return nullptr;
    const QList<QAction*> actions = m_pMenuBar->actions();
    return position >= 0 && position < actions.size() ? actions[position] : nullptr;
}

QAction* CDialog::FindMenuItem(unsigned command) const {
    if (m_pMenuBar == nullptr) return nullptr;
    for (QAction* a : m_pMenuBar->actions())
        if (a->data().toUInt() == command) return a;
    return nullptr;
}

void CDialog::ModifyMenuItem(int position, unsigned command, const QString& text) {
    if (QAction* a = GetMenuItem(position)) {
        a->setData(command);
        a->setText(text);
    }
}

void CDialog::EnableMenuItem(unsigned command, bool enable) {
    if (QAction* a = FindMenuItem(command)) a->setEnabled(enable);
}

// ---------------------------------------------------------------------------------------------
// Dialog data exchange

bool CDialog::UpdateData(bool saveAndValidate) {
    CDataExchange dx(this, saveAndValidate);
    try {
        DoDataExchange(&dx);
    } catch (const DataExchangeFailure&) {
        return false;
    }
    if (!saveAndValidate) RefreshCtlColors();
    return true;
}

QWidget* CDataExchange::PrepareCtrl(int id) {
    QWidget* w = m_pDlgWnd->GetDlgItem(id);
    Q_ASSERT_X(w != nullptr, "CDataExchange", "no control with this id in the template");
    m_pLastCtrl = w;
    m_bEditLastControl = false;
    return w;
}

QWidget* CDataExchange::PrepareEditCtrl(int id) {
    QWidget* w = PrepareCtrl(id);
    m_bEditLastControl = true;
    return w;
}

void CDataExchange::Fail() {
    if (m_bSaveAndValidate && m_pLastCtrl != nullptr) {
        m_pLastCtrl->setFocus(Qt::OtherFocusReason);
        if (m_bEditLastControl)
            if (auto* edit = qobject_cast<QLineEdit*>(m_pLastCtrl)) edit->selectAll();
    }
    throw DataExchangeFailure{};
}

void DDX_Text(CDataExchange* pDX, int id, QString& value) {
    QWidget* w = pDX->PrepareEditCtrl(id);
    if (w == nullptr) return;
    if (pDX->m_bSaveAndValidate)
        value = TextOf(w);
    else
        SetTextOf(w, value);
}

namespace {

// Reads a decimal integer as scanf does: blanks skipped, an optional sign (when `allowSign`),
// then digits up to the first other character. Out-of-range values are refused.
bool ParseInteger(const QString& text, bool allowSign, long long minValue, long long maxValue,
                  long long& out) {
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace()) ++i;
    bool negative = false;
    if (allowSign && i < text.size() && (text[i] == u'-' || text[i] == u'+')) {
        negative = text[i] == u'-';
        ++i;
    }
    if (i >= text.size() || text[i] < u'0' || text[i] > u'9') return false;
    long long v = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        v = v * 10 + (text[i].unicode() - u'0');
        if (v > maxValue + 1LL) return false;
    }
    if (negative) v = -v;
    if (v < minValue || v > maxValue) return false;
    out = v;
    return true;
}

}  // namespace

void DDX_Text(CDataExchange* pDX, int id, int& value) {
    QWidget* w = pDX->PrepareEditCtrl(id);
    if (pDX->m_bSaveAndValidate) {
        long long v = 0;
        if (!ParseInteger(TextOf(w), true, std::numeric_limits<int>::min(),
                          std::numeric_limits<int>::max(), v)) {
            ShowPrompt(IDP_PARSE_INT);
            pDX->Fail();
        }
        value = static_cast<int>(v);
    } else {
        SetTextOf(w, QString::number(value));
    }
}

void DDX_Text(CDataExchange* pDX, int id, unsigned& value) {
    QWidget* w = pDX->PrepareEditCtrl(id);
    if (pDX->m_bSaveAndValidate) {
        long long v = 0;
        // A minus sign is refused rather than wrapped around to a huge count.
        if (!ParseInteger(TextOf(w), false, 0, std::numeric_limits<unsigned>::max(), v)) {
            ShowPrompt(IDP_PARSE_UINT);
            pDX->Fail();
        }
        value = static_cast<unsigned>(v);
    } else {
        SetTextOf(w, QString::number(value));
    }
}

void DDX_Text(CDataExchange* pDX, int id, double& value) {
    QWidget* w = pDX->PrepareEditCtrl(id);
    if (pDX->m_bSaveAndValidate) {
        bool ok = false;
        const double v = TextOf(w).trimmed().toDouble(&ok);
        // "nan" and "inf" are refused: no member of a dialog means them, and every range check
        // downstream would let them through.
        if (!ok || !std::isfinite(v)) {
            ShowPrompt(IDP_PARSE_REAL);
            pDX->Fail();
        }
        value = v;
    } else {
        SetTextOf(w, QString::number(value, 'g', 15));
    }
}

void DDX_Radio(CDataExchange* pDX, int firstId, int& value) {
    pDX->PrepareCtrl(firstId);
    const QList<QAbstractButton*> buttons = pDX->m_pDlgWnd->RadioGroup(firstId);
    if (pDX->m_bSaveAndValidate) {
        value = -1;
        for (int i = 0; i < buttons.size(); ++i)
            if (buttons[i]->isChecked()) value = i;
    } else {
        // An exclusive group refuses to uncheck its last checked button; a value outside the
        // group unchecks them all, as on Windows.
        QButtonGroup* group = buttons.isEmpty() ? nullptr : buttons.first()->group();
        if (group != nullptr) group->setExclusive(false);
        for (int i = 0; i < buttons.size(); ++i) buttons[i]->setChecked(i == value);
        if (group != nullptr) group->setExclusive(true);
    }
}

void DDX_Check(CDataExchange* pDX, int id, int& value) {
    auto* b = qobject_cast<QAbstractButton*>(pDX->PrepareCtrl(id));
    if (b == nullptr) return;
    if (pDX->m_bSaveAndValidate)
        value = b->isChecked() ? 1 : 0;
    else
        b->setChecked(value != 0);
}

void DDX_Check(CDataExchange* pDX, int id, bool& value) {
    int v = value ? 1 : 0;
    DDX_Check(pDX, id, v);
    value = v != 0;
}

void DDX_CBIndex(CDataExchange* pDX, int id, int& index) {
    auto* combo = qobject_cast<QComboBox*>(pDX->PrepareCtrl(id));
    if (combo == nullptr) return;
    if (pDX->m_bSaveAndValidate)
        index = combo->currentIndex();
    else
        combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
}

void DDX_LBIndex(CDataExchange* pDX, int id, int& index) {
    auto* list = qobject_cast<QListWidget*>(pDX->PrepareCtrl(id));
    if (list == nullptr) return;
    if (pDX->m_bSaveAndValidate)
        index = list->currentRow();
    else
        list->setCurrentRow(index >= 0 && index < list->count() ? index : -1);
}

void DDV_MinMaxInt(CDataExchange* pDX, int value, int minValue, int maxValue) {
    if (!pDX->m_bSaveAndValidate || (value >= minValue && value <= maxValue)) return;
    AfxMessageBox(LoadString(IDP_PARSE_INT_RANGE).arg(minValue).arg(maxValue),
                  MB_OK | MB_ICONEXCLAMATION);
    pDX->Fail();
}

void DDV_MinMaxUInt(CDataExchange* pDX, unsigned value, unsigned minValue, unsigned maxValue) {
    if (!pDX->m_bSaveAndValidate || (value >= minValue && value <= maxValue)) return;
    AfxMessageBox(LoadString(IDP_PARSE_INT_RANGE).arg(minValue).arg(maxValue),
                  MB_OK | MB_ICONEXCLAMATION);
    pDX->Fail();
}

}  // namespace lyr
