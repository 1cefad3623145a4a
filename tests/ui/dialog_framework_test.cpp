#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "res/resource.h"
#include "support/recording_message_box.h"
#include "ui/dialog.h"

namespace lyr::test {
namespace {

using res::ControlKind;
using namespace res;

constexpr int IDC_INT = 100, IDC_UINT = 101, IDC_REAL = 102, IDC_TEXT = 103;
constexpr int IDC_R1 = 110, IDC_R2 = 111, IDC_R3 = 112, IDC_CHECK = 120, IDC_COMBO = 130;
constexpr int IDC_HIDDEN = 140;
constexpr const char* kItems[] = {"alpha", "beta", "gamma"};

constexpr DialogControl kControls[] = {
    {IDC_INT, ControlKind::Edit, 10, 10, 40, 14, CS_VISIBLE | CS_TABSTOP | CS_GROUP, ""},
    {IDC_UINT, ControlKind::Edit, 10, 30, 40, 14, CS_VISIBLE | CS_TABSTOP, ""},
    {IDC_REAL, ControlKind::Edit, 10, 50, 80, 14, CS_VISIBLE | CS_TABSTOP, ""},
    {IDC_TEXT, ControlKind::Edit, 10, 70, 80, 14, CS_VISIBLE | CS_TABSTOP, ""},
    {IDC_R1, ControlKind::RadioButton, 100, 10, 50, 10, CS_VISIBLE | CS_TABSTOP | CS_GROUP, "one"},
    {IDC_R2, ControlKind::RadioButton, 100, 22, 50, 10, CS_VISIBLE, "two"},
    {IDC_R3, ControlKind::RadioButton, 100, 34, 50, 10, CS_VISIBLE, "three"},
    {IDC_CHECK, ControlKind::CheckBox, 100, 50, 50, 10, CS_VISIBLE | CS_TABSTOP | CS_GROUP, "chk"},
    {IDC_COMBO, ControlKind::ComboDropList, 100, 64, 60, 60, CS_VISIBLE | CS_TABSTOP, "", kItems},
    {IDC_HIDDEN, ControlKind::PushButton, 10, 100, 40, 14, CS_TABSTOP, "hidden"},
    {IDOK, ControlKind::DefPushButton, 60, 100, 40, 14, CS_VISIBLE | CS_TABSTOP, "OK"},
    {IDCANCEL, ControlKind::PushButton, 110, 100, 40, 14, CS_VISIBLE | CS_TABSTOP, "Cancel"},
};
constexpr DialogTemplate kTemplate{.id = 900,
                                   .style = DS_MODALFRAME | DS_CAPTION | DS_SYSMENU,
                                   .cx = 170,
                                   .cy = 120,
                                   .fontName = "MS Sans Serif",
                                   .fontPointSize = 9,
                                   .title = "Test",
                                   .menuId = 0,
                                   .controls = kControls};

constexpr unsigned WM_TEST = WM_USER + 1;

class TestDialog : public CDialog {
  public:
    TestDialog() : CDialog(kTemplate) {
        OnMessage(WM_TEST, [this](WPARAM w, LPARAM) {
            handled.push_back(static_cast<int>(w));
            handledOnThread = QThread::currentThread();
            if (nestedLoop) {
                // A handler running a nested loop, as a message box does.
                QEventLoop loop;
                QTimer::singleShot(200, &loop, &QEventLoop::quit);
                nestedLoop = false;
                loop.exec();
            }
            return static_cast<LRESULT>(w * 2);
        });
    }
    int m_int = 0;
    unsigned m_uint = 0;
    double m_real = 0.0;
    QString m_text;
    int m_radio = 0;
    bool m_check = false;
    int m_combo = -1;
    std::vector<int> handled;
    QThread* handledOnThread = nullptr;
    bool nestedLoop = false;
    std::vector<unsigned> ticks;
    bool dropTab = false;
    int okCount = 0;

  protected:
    void DoDataExchange(CDataExchange* pDX) override {
        DDX_Text(pDX, IDC_INT, m_int);
        DDX_Text(pDX, IDC_UINT, m_uint);
        DDV_MinMaxUInt(pDX, m_uint, 0, 1000);
        DDX_Text(pDX, IDC_REAL, m_real);
        DDX_Text(pDX, IDC_TEXT, m_text);
        DDX_Radio(pDX, IDC_R1, m_radio);
        DDX_Check(pDX, IDC_CHECK, m_check);
        DDX_CBIndex(pDX, IDC_COMBO, m_combo);
    }
    void OnTimer(unsigned id) override { ticks.push_back(id); }
    bool PreTranslateMessage(QKeyEvent* msg) override {
        return dropTab && msg->key() == Qt::Key_Tab;
    }
    void OnOK() override {
        ++okCount;
        CDialog::OnOK();
    }
};

class DialogFramework : public ::testing::Test {
  public:
    void SetUp() override {
        ASSERT_TRUE(dlg.Create());
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    }
    void TearDown() override { dlg.DestroyWindow(); }
    void Type(int id, const QString& text) { dlg.GetEdit(id)->setText(text); }

    RecordingMessageBox box;
    TestDialog dlg;
};

TEST_F(DialogFramework, BuildsControlsAtTheirDialogUnitRectanglesInTemplateTabOrder) {
    EXPECT_GT(dlg.BaseUnitX(), 3);
    EXPECT_GT(dlg.BaseUnitY(), 8);
    EXPECT_EQ(dlg.size(), dlg.DialogUnitsToPixels(0, 0, 170, 120).size());
    for (const DialogControl& c : kControls) {
        QWidget* w = dlg.GetDlgItem(c.id);
        ASSERT_NE(w, nullptr) << c.id;
        const QRect r = dlg.DialogUnitsToPixels(c.x, c.y, c.cx, c.cy);
        EXPECT_EQ(w->pos(), r.topLeft()) << c.id;
        EXPECT_EQ(w->width(), r.width()) << c.id;
        if (c.kind != ControlKind::ComboDropList) {
            EXPECT_EQ(w->height(), r.height()) << c.id;
        }
        EXPECT_EQ(w->isVisible(), (c.style & CS_VISIBLE) != 0) << c.id;
    }
    EXPECT_EQ(dlg.GetDlgItem(999), nullptr);
    EXPECT_TRUE(dlg.GetButton(IDOK)->isDefault());
    EXPECT_EQ(dlg.GetComboBox(IDC_COMBO)->count(), 3);
    EXPECT_EQ(dlg.windowTitle(), "Test");
    EXPECT_FALSE(ProgramIcon().isNull());

    // Initialisation focused the first tab stop; TAB walks the template order, skipping the
    // hidden button and entering the radio group at its checked button.
    EXPECT_EQ(QApplication::focusWidget(), dlg.GetDlgItem(IDC_INT));
    const int expected[] = {IDC_UINT,  IDC_REAL, IDC_TEXT, IDC_R1, IDC_CHECK,
                            IDC_COMBO, IDOK,     IDCANCEL, IDC_INT};
    for (int id : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), dlg.GetDlgItem(id)) << id;
    }
}

TEST_F(DialogFramework, ExchangeOfNumbersReadsTheirTextOrStopsAtTheFieldWithItsPrompt) {
    const struct Case {
        int control;
        const char* text;
        const char* prompt;  // nullptr: taken
    } cases[] = {
        {IDC_UINT, "12ms", nullptr},
        {IDC_UINT, "  7", nullptr},
        {IDC_UINT, "1000", nullptr},
        {IDC_UINT, "1001", "Please enter an integer between 0 and 1000."},
        {IDC_UINT, "abc", "Please enter a positive integer."},
        {IDC_UINT, "", "Please enter a positive integer."},
        {IDC_UINT, "-1", "Please enter a positive integer."},
        {IDC_UINT, "99999999999", "Please enter a positive integer."},
        {IDC_INT, "-42", nullptr},
        {IDC_INT, "x1", "Please enter an integer."},
        {IDC_REAL, " 2.5 ", nullptr},
        {IDC_REAL, "1e3", nullptr},
        {IDC_REAL, "1.5x", "Please enter a number."},
        {IDC_REAL, "nan", "Please enter a number."},
        {IDC_REAL, "inf", "Please enter a number."},
        {IDC_REAL, "", "Please enter a number."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Type(IDC_INT, "1");
        Type(IDC_UINT, "2");
        Type(IDC_REAL, "3");
        Type(IDC_TEXT, "four");
        Type(c.control, QString::fromUtf8(c.text));
        dlg.m_text = "unchanged";
        box.shown.clear();
        const bool ok = dlg.UpdateData(true);
        EXPECT_EQ(ok, c.prompt == nullptr);
        if (c.prompt != nullptr) {
            EXPECT_EQ(box.Texts(), QStringList{QString::fromUtf8(c.prompt)});
            // Fields after the failing one keep their values; the focus is on the failing one.
            EXPECT_EQ(dlg.m_text, "unchanged");
            EXPECT_EQ(QApplication::focusWidget(), dlg.GetDlgItem(c.control));
            EXPECT_EQ(dlg.GetEdit(c.control)->selectedText(), dlg.GetEdit(c.control)->text());
        } else {
            EXPECT_TRUE(box.shown.isEmpty());
            EXPECT_EQ(dlg.m_text, "four");
        }
    }
    Type(IDC_UINT, "12ms");
    Type(IDC_REAL, "1e3");
    ASSERT_TRUE(dlg.UpdateData(true));
    EXPECT_EQ(dlg.m_uint, 12u);
    EXPECT_EQ(dlg.m_real, 1000.0);
}

TEST_F(DialogFramework, ExchangeWritesNumbersRadiosChecksAndSelections) {
    const struct {
        double value;
        const char* text;
    } reals[] = {{0.0, "0"},     {0.1 + 0.2, "0.3"}, {1.0 / 3.0, "0.333333333333333"},
                 {2.35, "2.35"}, {3600.0, "3600"},   {-1.5, "-1.5"}};
    for (const auto& r : reals) {
        dlg.m_real = r.value;
        dlg.UpdateData(false);
        EXPECT_EQ(dlg.GetDlgItemText(IDC_REAL), r.text);
    }
    dlg.m_radio = 2;
    dlg.m_check = true;
    dlg.m_combo = 1;
    dlg.m_uint = 4000000000u;
    dlg.UpdateData(false);
    EXPECT_TRUE(dlg.GetRadio(IDC_R3)->isChecked());
    EXPECT_FALSE(dlg.GetRadio(IDC_R1)->isChecked());
    EXPECT_TRUE(dlg.GetCheckBox(IDC_CHECK)->isChecked());
    EXPECT_EQ(dlg.GetComboBox(IDC_COMBO)->currentText(), "beta");
    EXPECT_EQ(dlg.GetDlgItemText(IDC_UINT), "4000000000");

    // Clicking a radio button checks it; clicking it again keeps it checked.
    dlg.GetEdit(IDC_UINT)->setText("5");
    QRadioButton* two = dlg.GetRadio(IDC_R2);
    for (int i = 0; i < 2; ++i)
        QTest::mouseClick(two, Qt::LeftButton, {}, QPoint(6, two->height() / 2));
    ASSERT_TRUE(dlg.UpdateData(true));
    EXPECT_EQ(dlg.m_radio, 1);

    // A position outside the group or list leaves nothing selected, and reads back as -1.
    dlg.m_radio = -1;
    dlg.m_combo = 7;
    dlg.UpdateData(false);
    ASSERT_TRUE(dlg.UpdateData(true));
    EXPECT_EQ(dlg.m_radio, -1);
    EXPECT_EQ(dlg.m_combo, -1);
}

TEST_F(DialogFramework, EnterPressesTheDefaultButtonAndEscCancels) {
    Type(IDC_UINT, "5");
    QTest::keyClick(dlg.GetEdit(IDC_TEXT), Qt::Key_Return);
    EXPECT_EQ(dlg.okCount, 1);
    EXPECT_EQ(dlg.ModalResult(), IDOK);

    TestDialog other;
    ASSERT_TRUE(other.Create());
    QTest::keyClick(other.GetEdit(IDC_TEXT), Qt::Key_Escape);
    EXPECT_EQ(other.ModalResult(), IDCANCEL);
    EXPECT_FALSE(other.isVisible());
    other.DestroyWindow();
}

TEST_F(DialogFramework, PreTranslateMessageSeesKeysBeforeTheControlsAndCanDropThem) {
    dlg.dropTab = true;
    dlg.GetEdit(IDC_INT)->setFocus();
    QTest::keyClick(dlg.GetEdit(IDC_INT), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), dlg.GetDlgItem(IDC_INT));
    dlg.dropTab = false;
    QTest::keyClick(dlg.GetEdit(IDC_INT), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), dlg.GetDlgItem(IDC_UINT));
}

TEST_F(DialogFramework, TimersTickByIdUntilKilled) {
    ASSERT_TRUE(dlg.SetTimer(1, 10));
    ASSERT_TRUE(dlg.SetTimer(2, 10));
    ASSERT_TRUE(dlg.SetTimer(2, 20));  // replaces timer 2
    ASSERT_TRUE(QTest::qWaitFor([&] { return dlg.ticks.size() >= 6; }, 5000));
    EXPECT_TRUE(dlg.KillTimer(1));
    EXPECT_TRUE(dlg.KillTimer(2));
    EXPECT_FALSE(dlg.KillTimer(2));
    EXPECT_NE(std::count(dlg.ticks.begin(), dlg.ticks.end(), 1u), 0);
    EXPECT_NE(std::count(dlg.ticks.begin(), dlg.ticks.end(), 2u), 0);
    const size_t n = dlg.ticks.size();
    QTest::qWait(100);
    EXPECT_EQ(dlg.ticks.size(), n);
}

TEST_F(DialogFramework, PostedMessagesArriveInOrderOnTheWindowsThread) {
    std::thread worker([&] {
        for (int i = 0; i < 100; ++i) dlg.PostMessage(WM_TEST, static_cast<WPARAM>(i), 0);
    });
    worker.join();
    EXPECT_TRUE(dlg.handled.empty());  // queued, not handled on the poster's thread
    ASSERT_TRUE(QTest::qWaitFor([&] { return dlg.handled.size() == 100; }, 5000));
    for (int i = 0; i < 100; ++i) EXPECT_EQ(dlg.handled[static_cast<size_t>(i)], i);
    EXPECT_EQ(dlg.handledOnThread, dlg.thread());
}

TEST_F(DialogFramework, SendBlocksTheSenderUntilTheWindowHasHandledIt) {
    // From the window's own thread: handled at once.
    EXPECT_EQ(dlg.SendMessage(WM_TEST, 4, 0), 8);
    EXPECT_EQ(dlg.handled, std::vector<int>{4});

    // From another thread: the sender waits while the window's thread is busy, and is released
    // once the handler has run, even inside a nested loop of another handler.
    dlg.nestedLoop = true;
    dlg.PostMessage(WM_TEST, 1, 0);
    std::atomic<bool> returned{false};
    std::atomic<LRESULT> result{0};
    std::thread sender([&] {
        result = dlg.SendMessage(WM_TEST, 21, 0);
        returned = true;
    });
    QThread::msleep(100);
    EXPECT_FALSE(returned);  // nobody has run the window's loop yet
    ASSERT_TRUE(QTest::qWaitFor([&] { return returned.load(); }, 5000));
    sender.join();
    EXPECT_EQ(result, 42);
    EXPECT_EQ(dlg.handled, (std::vector<int>{4, 1, 21}));
}

}  // namespace
}  // namespace lyr::test
