// The communication test dialog against simulated meters on real pseudo-terminals, driven
// without a modal loop under the offscreen platform. Each test builds a link of its own whose port
// list names exactly its simulators, so nothing else on the machine is ever probed.

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <vector>

#include "link/meter_comm.h"
#include "platform/serial_device.h"
#include "res/resource.h"
#include "sim/meter_simulator.h"
#include "support/fake_port_enumerator.h"
#include "support/memory_serial_device.h"
#include "support/recording_message_box.h"
#include "ui/comm_test_dlg.h"

// Readable QString values in failure messages.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace lyr {
namespace {

constexpr int kWaitMs = 5000;

class CommTestDialogTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        // Simulators of this test publish their ports in a directory of their own, out of reach
        // of any other test's port search.
        static QTemporaryDir runtime;
        qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    }

    sim::MeterSimulator& AddSim(sim::SimConfig config) {
        auto simulator = std::make_unique<sim::MeterSimulator>(std::move(config));
        EXPECT_TRUE(simulator->Start());
        ports.append(
            {simulator->PortName(), QStringLiteral("ZORVA simulator (%1)").arg(sims.size() + 1)});
        sims.push_back(std::move(simulator));
        return *sims.back();
    }

    static sim::SimConfig Meter(quint32 rate, const char* serial) {
        sim::SimConfig config;
        config.baudRate = rate;
        config.serial = serial;
        return config;
    }

    // A link listing `ports`, with the choice an earlier discovery or the settings left.
    void MakeLink(const QString& selectedPort, quint32 selectedRate) {
        link = std::make_unique<CMeterComm>(MakeTermiosSerialDevice(),
                                            std::make_unique<test::FakePortEnumerator>(ports));
        link->SelectedPort = selectedPort;
        link->SelectedBaudRate = selectedRate;
    }

    void Open() {
        if (!link) MakeLink(ports.isEmpty() ? QString("ttyS3") : ports[0].portName, 9600);
        dlg = std::make_unique<CComTestDlg>(nullptr, *link);
        ASSERT_TRUE(dlg->Create());
        QApplication::setActiveWindow(dlg.get());
    }

    void TearDown() override {
        if (dlg) dlg->DestroyWindow();
    }

    QComboBox* PortList() const { return dlg->GetComboBox(IDC_COM_PORT_LIST); }
    QComboBox* BaudList() const { return dlg->GetComboBox(IDC_COM_BAUD_LIST); }
    QLineEdit* SendBox() const { return dlg->GetEdit(IDC_COM_SEND_TEXT); }
    QLineEdit* ReplyBox() const { return dlg->GetEdit(IDC_COM_RECEIVE_TEXT); }
    QPushButton* Button(int id) const { return dlg->GetButton(id); }

    void Send(const QString& text) {
        SendBox()->setText(text);
        Button(IDC_COM_SEND)->click();
    }

    // The operator picks an entry, as a click in the drop-down does.
    static void Choose(QComboBox* list, int position) {
        list->setCurrentIndex(position);
        emit list->activated(position);
    }

    [[nodiscard]] bool WaitForReply(const QString& reply) {
        return QTest::qWaitFor([&] { return ReplyBox()->text() == reply; }, kWaitMs);
    }

    static QString Identity(const char* serial) {
        return QStringLiteral("ZORVA,LYR102,%1,1.00").arg(serial);
    }

    test::RecordingMessageBox box;
    std::vector<std::unique_ptr<sim::MeterSimulator>> sims;
    QList<PortInfo> ports;
    std::unique_ptr<CMeterComm> link;
    std::unique_ptr<CComTestDlg> dlg;
};

TEST_F(CommTestDialogTest, SendShowsTheReplyAfterATimerTickAndKeepsTheCommandInTheSendBox) {
    sim::MeterSimulator& meter = AddSim(Meter(9600, "A1234567"));
    Open();
    EXPECT_EQ(dlg->windowTitle(), "Communication Settings");
    ASSERT_EQ(PortList()->count(), 1);
    EXPECT_EQ(PortList()->currentText(), "ZORVA simulator (1)");
    EXPECT_EQ(BaudList()->currentText(), "9600");
    ReplyBox()->setText("old reply");

    Send("*idn?");

    // The reply comes with the timer; the box is cleared at once.
    EXPECT_EQ(ReplyBox()->text(), "");
    EXPECT_TRUE(dlg->IsTimerRunning(10));
    EXPECT_EQ(link->DevicePath, meter.PortName());
    EXPECT_TRUE(WaitForReply(Identity("A1234567"))) << ReplyBox()->text().toStdString();
    EXPECT_EQ(SendBox()->text(), "*idn?");
    EXPECT_TRUE(box.shown.isEmpty());
}

TEST_F(CommTestDialogTest, OpeningSelectsTheLinksPortAndRateEvenWhenNotTheFirst) {
    AddSim(Meter(9600, "AAAA"));
    AddSim(Meter(38400, "BBBB"));
    MakeLink(ports[1].portName, 38400);
    Open();

    EXPECT_EQ(link->SelectedPort, ports[1].portName);
    EXPECT_EQ(PortList()->currentIndex(), 1);
    EXPECT_EQ(BaudList()->currentText(), "38400");
}

TEST_F(CommTestDialogTest, AReplyArrivingWhileTheOperatorTypesLeavesTheTypedText) {
    AddSim(Meter(9600, "A1234567"));
    Open();
    Send("*idn?");
    SendBox()->setText(":trig:sour?");

    EXPECT_TRUE(WaitForReply(Identity("A1234567")));
    EXPECT_EQ(SendBox()->text(), ":trig:sour?");
}

TEST_F(CommTestDialogTest, TwoReplyLinesBeforeTheNextSendRunTogether) {
    auto device = std::make_unique<test::MemorySerialDevice>();
    test::MemorySerialDevice& line = *device;
    ports = {{"ttyUSB0", "USB Serial Port (ttyUSB0)"}};
    link = std::make_unique<CMeterComm>(std::move(device),
                                        std::make_unique<test::FakePortEnumerator>(ports));
    link->SelectedBaudRate = 9600;
    Open();
    Send("*idn?");
    ASSERT_TRUE(dlg->IsTimerRunning(10));

    line.feedReceived("first\r\n");
    ASSERT_TRUE(WaitForReply("first"));
    line.feedReceived("second\r\n");
    EXPECT_TRUE(WaitForReply("firstsecond")) << ReplyBox()->text().toStdString();
}

enum class Change { Port, Rate };

class CommTestDialogChangeTest : public CommTestDialogTest,
                                 public ::testing::WithParamInterface<Change> {};

TEST_P(CommTestDialogChangeTest, ChangingPortOrRateClosesThePortAndTheNextSendOpensTheNewOne) {
    AddSim(Meter(9600, "AAAA"));
    sim::MeterSimulator& b = AddSim(Meter(19200, "BBBB"));
    MakeLink(b.PortName(), 9600);
    Open();
    Send("*idn?");
    ASSERT_EQ(link->DevicePath, b.PortName());
    ASSERT_TRUE(b.WaitForReceived("*idn?", kWaitMs));

    if (GetParam() == Change::Port)
        Choose(PortList(), 0);
    else
        Choose(BaudList(), 1);

    EXPECT_EQ(link->DevicePath, "");
    EXPECT_FALSE(link->HandleValid());
    EXPECT_FALSE(dlg->IsTimerRunning(10));

    Send("*idn?");
    EXPECT_TRUE(dlg->IsTimerRunning(10));
    EXPECT_TRUE(WaitForReply(Identity(GetParam() == Change::Port ? "AAAA" : "BBBB")))
        << ReplyBox()->text().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Cases, CommTestDialogChangeTest,
                         ::testing::Values(Change::Port, Change::Rate));

TEST_F(CommTestDialogTest, SearchNamesTheMeterOfEachPortAndChoosingItsPortChoosesItsRate) {
    sim::SimConfig silent = Meter(9600, "NONE");
    silent.silent = true;
    AddSim(silent);
    sim::MeterSimulator& meter = AddSim(Meter(38400, "S38400"));
    Open();
    box.answer = IDOK;

    // The windows keep being served while the search runs.
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(20);
    Button(IDC_COM_SEARCH)->click();
    ticker.stop();

    ASSERT_EQ(box.shown.size(), 1);
    EXPECT_EQ(box.shown[0].text, "Send \"*idn?\" to all ports?");
    EXPECT_EQ(box.shown[0].type & 0xF, MB_OKCANCEL);
    EXPECT_GT(ticks, 0);
    EXPECT_TRUE(CComTestDlg::PortsSearched);
    ASSERT_EQ(PortList()->count(), 2);
    EXPECT_EQ(PortList()->itemText(0), "ZORVA simulator (1)-?");
    EXPECT_EQ(PortList()->itemText(1), "ZORVA simulator (2)-ZORVA-LYR102-S38400");
    EXPECT_EQ(PortList()->currentIndex(), 0);
    EXPECT_EQ(BaudList()->currentText(), "9600");
    EXPECT_EQ(link->DevicePath, "") << "the search leaves the port closed";

    Choose(PortList(), 1);
    EXPECT_EQ(BaudList()->currentText(), "38400");

    // The operator confirms the meter's port and rate; the next run opens them.
    Button(IDOK_BUTTON)->click();
    EXPECT_EQ(dlg->ModalResult(), IDOK);
    EXPECT_EQ(link->SelectedPort, meter.PortName());
    EXPECT_EQ(link->SelectedBaudRate, 38400u);
}

TEST_F(CommTestDialogTest, RefreshAfterASearchShowsThePlainDescriptionsAndTheLinkRate) {
    AddSim(Meter(19200, "B19200"));
    MakeLink(ports[0].portName, 115200);
    Open();
    Button(IDC_COM_SEARCH)->click();
    ASSERT_EQ(PortList()->itemText(0), "ZORVA simulator (1)-ZORVA-LYR102-B19200");
    ASSERT_EQ(BaudList()->currentText(), "19200");

    Button(IDC_COM_REFRESH)->click();

    EXPECT_FALSE(CComTestDlg::PortsSearched);
    EXPECT_EQ(PortList()->itemText(0), "ZORVA simulator (1)");
    EXPECT_EQ(link->FoundDescriptors, QStringList{" "});
    EXPECT_EQ(BaudList()->currentText(), "115200");
}

TEST_F(CommTestDialogTest, SearchNotConfirmedProbesNothing) {
    sim::MeterSimulator& meter = AddSim(Meter(9600, "A1"));
    Open();
    box.answer = IDCANCEL;

    Button(IDC_COM_SEARCH)->click();

    EXPECT_EQ(box.shown.size(), 1);
    EXPECT_EQ(PortList()->itemText(0), "ZORVA simulator (1)");
    EXPECT_EQ(link->FoundDescriptors, QStringList{" "});
    EXPECT_TRUE(meter.Received().isEmpty());
}

struct OpenFailureCase {
    const char* name;
    QList<PortInfo> ports;
};

class CommTestDialogOpenFailureTest : public CommTestDialogTest,
                                      public ::testing::WithParamInterface<OpenFailureCase> {};

TEST_P(CommTestDialogOpenFailureTest, SendReportsTheFailedOpenAndOkKeepsTheLinkChoiceWithoutPorts) {
    ports = GetParam().ports;
    MakeLink("ttyS3", 19200);
    Open();
    ReplyBox()->setText("old reply");

    Send("*idn?");

    EXPECT_EQ(box.Texts(), QStringList{"Failed to open COM port."});
    EXPECT_EQ(ReplyBox()->text(), "");
    EXPECT_EQ(link->DevicePath, "");
    EXPECT_FALSE(dlg->IsTimerRunning(10));

    Button(IDOK_BUTTON)->click();
    EXPECT_EQ(dlg->ModalResult(), IDOK);
    if (ports.isEmpty()) {
        EXPECT_EQ(link->SelectedPort, "ttyS3");
        EXPECT_EQ(link->SelectedBaudRate, 19200u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommTestDialogOpenFailureTest,
    ::testing::Values(OpenFailureCase{"NoPorts", {}},
                      OpenFailureCase{"VanishedPort", {{"ttyLyrGone9", "Gone (ttyLyrGone9)"}}}),
    [](const auto& info) { return std::string(info.param.name); });

enum class Focus { PortList, BaudList, OkButton, RefreshButton, SearchButton };

class CommTestDialogEnterTest : public CommTestDialogTest,
                                public ::testing::WithParamInterface<Focus> {};

TEST_P(CommTestDialogEnterTest, EnterOutsideTheSendBoxNeitherSendsNorCloses) {
    sim::MeterSimulator& meter = AddSim(Meter(9600, "A1"));
    Open();
    SendBox()->setText("*idn?");
    QWidget* target = nullptr;
    switch (GetParam()) {
        case Focus::PortList:
            target = PortList();
            break;
        case Focus::BaudList:
            target = BaudList();
            break;
        case Focus::OkButton:
            target = Button(IDOK_BUTTON);
            break;
        case Focus::RefreshButton:
            target = Button(IDC_COM_REFRESH);
            break;
        case Focus::SearchButton:
            target = Button(IDC_COM_SEARCH);
            break;
    }
    target->setFocus();
    ASSERT_EQ(dlg->focusWidget(), target);

    QTest::keyClick(target, Qt::Key_Return);
    QTest::keyClick(target, Qt::Key_Enter);
    QTest::qWait(100);

    EXPECT_EQ(dlg->ModalResult(), -1);
    EXPECT_EQ(link->DevicePath, "");
    EXPECT_TRUE(box.shown.isEmpty());
    EXPECT_TRUE(meter.Received().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Cases, CommTestDialogEnterTest,
                         ::testing::Values(Focus::PortList, Focus::BaudList, Focus::OkButton,
                                           Focus::RefreshButton, Focus::SearchButton));

TEST_F(CommTestDialogTest, EnterInTheSendBoxSends) {
    sim::MeterSimulator& meter = AddSim(Meter(9600, "A1"));
    Open();
    SendBox()->setText("*idn?");
    SendBox()->setFocus();

    QTest::keyClick(SendBox(), Qt::Key_Return);

    EXPECT_TRUE(meter.WaitForReceived("*idn?", kWaitMs));
    EXPECT_TRUE(WaitForReply(Identity("A1")));
    EXPECT_EQ(dlg->ModalResult(), -1);
}

TEST_F(CommTestDialogTest, OpeningClosesAPortLeftOpenAndEndingClosesTheDialogsPort) {
    AddSim(Meter(9600, "A1"));
    MakeLink(ports[0].portName, 9600);
    ASSERT_TRUE(link->OpenPort(ports[0].portName, 9600));
    Open();
    EXPECT_EQ(link->DevicePath, "");
    EXPECT_FALSE(link->HandleValid());

    Send("*idn?");
    ASSERT_TRUE(link->HandleValid());
    Button(IDC_COM_CANCEL)->click();
    EXPECT_EQ(dlg->ModalResult(), IDCANCEL);
    dlg->DestroyWindow();

    EXPECT_FALSE(link->HandleValid());
    EXPECT_FALSE(dlg->IsTimerRunning(10));
}

struct EndCase {
    int button;
    bool confirms;
};

class CommTestDialogEndTest : public CommTestDialogTest,
                              public ::testing::WithParamInterface<EndCase> {};

TEST_P(CommTestDialogEndTest, OnlyOkConfirmsTheChosenPortAndRate) {
    AddSim(Meter(9600, "A1"));
    AddSim(Meter(9600, "B1"));
    MakeLink(ports[0].portName, 9600);
    Open();
    Choose(PortList(), 1);
    Choose(BaudList(), 3);

    Button(GetParam().button)->click();

    EXPECT_EQ(dlg->ModalResult(), GetParam().confirms ? IDOK : IDCANCEL);
    EXPECT_EQ(link->SelectedPort, ports[GetParam().confirms ? 1 : 0].portName);
    EXPECT_EQ(link->SelectedBaudRate, GetParam().confirms ? 115200u : 9600u);
}

INSTANTIATE_TEST_SUITE_P(Cases, CommTestDialogEndTest,
                         ::testing::Values(EndCase{IDOK_BUTTON, true},
                                           EndCase{IDC_COM_CANCEL, false}));

}  // namespace
}  // namespace lyr
