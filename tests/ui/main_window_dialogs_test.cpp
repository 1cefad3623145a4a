// The three secondary dialogs as the main window opens them: from its menu bar and its context
// menu, modally, with the settings copied in and out.

#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTimer>

#include <functional>
#include <ostream>

#include "link/meter_comm.h"
#include "main_window_fixture.h"
#include "ui/about_dlg.h"
#include "ui/comm_test_dlg.h"
#include "ui/set_dialog.h"

// Readable QString values in failure messages.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace lyr {
namespace {

// Runs `act` on the first modal dialog of type T to appear, from the event loop of its DoModal.
template <typename T>
class WhenModal {
  public:
    explicit WhenModal(std::function<void(T&)> act) : m_act(std::move(act)) {
        QObject::connect(&m_poll, &QTimer::timeout, [this] {
            if (auto* dlg = dynamic_cast<T*>(QApplication::activeModalWidget())) {
                m_poll.stop();
                m_seen = true;
                m_act(*dlg);
            }
        });
        m_poll.start(20);
    }
    [[nodiscard]] bool Seen() const { return m_seen; }

  private:
    std::function<void(T&)> m_act;
    QTimer m_poll;
    bool m_seen = false;
};

class MainWindowDialogsTest : public test::MainWindowTest {
  protected:
    static void SetUpTestSuite() {
        // The simulator publishes its port where no other test's discovery looks.
        static QTemporaryDir runtime;
        qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    }
};

struct Shown {
    QString title;
    QString version;
};

TEST_F(MainWindowDialogsTest, VersionDialogFromTheMenuAndTheContextMenuShowsTitleAndVersion) {
    WriteSettings();
    OpenWindow();
    QList<Shown> shown;
    auto record = [&shown](CAboutDlg& about) {
        shown.append({about.windowTitle(), about.GetDlgItemText(IDC_ABOUT_VERSION)});
        about.GetButton(IDOK_BUTTON)->click();
    };

    {
        WhenModal<CAboutDlg> answer(record);
        Dlg().FindMenuItem(ID_MENU_ABOUT)->trigger();
        EXPECT_TRUE(answer.Seen());
    }
    {
        WhenModal<CAboutDlg> answer(record);
        // The context menu offers the version item first; choose it as the operator does.
        QTimer::singleShot(50, [] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            ASSERT_NE(menu, nullptr);
            ASSERT_FALSE(menu->actions().isEmpty());
            EXPECT_EQ(menu->actions().first()->text(), "Version Information LyrLogger(&A)...");
            menu->setActiveAction(menu->actions().first());
            QTest::keyClick(menu, Qt::Key_Return);
        });
        const QPoint at(20, 20);
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, Dlg().mapToGlobal(at));
        QApplication::sendEvent(&Dlg(), &event);
        EXPECT_TRUE(QTest::qWaitFor([&] { return answer.Seen(); }, 5000));
    }

    ASSERT_EQ(shown.size(), 2);
    for (const Shown& s : shown) {
        EXPECT_EQ(s.title, "Version Information");
        EXPECT_EQ(s.version, "1.0.0.2");
    }
}

enum class End { Ok, Cancel, CloseBox };

class MainWindowCommTestTest : public MainWindowDialogsTest,
                               public ::testing::WithParamInterface<End> {};

TEST_P(MainWindowCommTestTest, HoweverTheCommTestDialogEndsTheSettingsTakeTheLinksPortAndRate) {
    sim::SimConfig config;
    config.baudRate = 38400;
    ASSERT_TRUE(StartSimulator(config));
    WriteSettings();  // the simulator's port at 38400
    OpenWindow();
    Dlg().m_settings.ComNo = "ttyOld";
    Dlg().m_settings.BaudRate = 4800;
    CMeterComm& link = TheMeterComm();

    WhenModal<CComTestDlg> answer([](CComTestDlg& dlg) {
        QComboBox* rates = dlg.GetComboBox(IDC_COM_BAUD_LIST);
        EXPECT_EQ(rates->currentText(), "38400");
        rates->setCurrentIndex(1);  // 19200, confirmed by OK only
        emit rates->activated(1);
        switch (GetParam()) {
            case End::Ok:
                dlg.GetButton(IDOK_BUTTON)->click();
                break;
            case End::Cancel:
                dlg.GetButton(IDC_COM_CANCEL)->click();
                break;
            case End::CloseBox:
                dlg.close();
                break;
        }
    });
    Dlg().FindMenuItem(ID_MENU_COMM_TEST)->trigger();

    ASSERT_TRUE(answer.Seen());
    EXPECT_EQ(link.SelectedPort, m_sim->PortName());
    EXPECT_EQ(link.SelectedBaudRate, GetParam() == End::Ok ? 19200u : 38400u);
    EXPECT_EQ(Dlg().m_settings.ComNo, link.SelectedPort);
    EXPECT_EQ(Dlg().m_settings.BaudRate, static_cast<int>(link.SelectedBaudRate));
    EXPECT_FALSE(link.HandleValid());
}

INSTANTIATE_TEST_SUITE_P(Cases, MainWindowCommTestTest,
                         ::testing::Values(End::Ok, End::Cancel, End::CloseBox));

class MainWindowSettingsTest : public MainWindowDialogsTest,
                               public ::testing::WithParamInterface<End> {};

TEST_P(MainWindowSettingsTest, SettingsDialogCopiesBackOnlyOnOkWithTheLinksPortAndRate) {
    ASSERT_TRUE(StartSimulator());
    WriteSettings({{"FILTER", "FilterEnable", "0"}, {"FILTER", "FilterTime", "40"}});
    OpenWindow();
    CMeterComm& link = TheMeterComm();
    link.SelectedBaudRate = 115200;  // as a communication test may have left it
    Dlg().m_settings.BaudRate = 19200;

    WhenModal<CSetDialog> answer([](CSetDialog& dlg) {
        EXPECT_EQ(dlg.GetEdit(IDC_SET_FILTER_TIME)->text(), "40");
        EXPECT_TRUE(dlg.GetCheckBox(IDC_SET_DATA_NUMBER)->isChecked());
        dlg.GetCheckBox(IDC_SET_DATE)->click();
        dlg.GetCheckBox(IDC_SET_FILTER_ENABLE)->click();
        dlg.GetEdit(IDC_SET_FILTER_TIME)->setText("300");
        if (GetParam() == End::Ok)
            dlg.GetButton(IDOK_BUTTON)->click();
        else
            dlg.GetButton(IDCANCEL_BUTTON)->click();
    });
    Dlg().FindMenuItem(ID_MENU_SETTINGS)->trigger();

    ASSERT_TRUE(answer.Seen());
    const CSettingData& settings = Dlg().m_settings;
    if (GetParam() == End::Ok) {
        EXPECT_TRUE(settings.SaveDate);
        EXPECT_TRUE(settings.FilterEnable);
        EXPECT_EQ(settings.FilterTime, 300);
        EXPECT_EQ(settings.ComNo, m_sim->PortName());
        EXPECT_EQ(settings.BaudRate, 19200) << "OK confirms the settings' rate on the link";
        EXPECT_EQ(link.SelectedBaudRate, 19200u);
    } else {
        EXPECT_FALSE(settings.SaveDate);
        EXPECT_FALSE(settings.FilterEnable);
        EXPECT_EQ(settings.FilterTime, 40);
        EXPECT_EQ(settings.BaudRate, 19200);
        EXPECT_EQ(link.SelectedBaudRate, 115200u);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, MainWindowSettingsTest, ::testing::Values(End::Ok, End::Cancel));

}  // namespace
}  // namespace lyr
