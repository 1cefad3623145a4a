// The settings dialog, driven without a modal loop under the offscreen platform. The dialog only
// reads the link's port lists and writes its choice, so a link with a fake port list stands in
// for the meter: nothing is ever opened.

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>

#include "link/meter_comm.h"
#include "platform/serial_device.h"
#include "res/resource.h"
#include "support/fake_port_enumerator.h"
#include "support/recording_message_box.h"
#include "ui/set_dialog.h"

// Readable QString values in failure messages.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace lyr {
namespace {

const QList<PortInfo> kTwoPorts = {
    {"ttyUSB0", "USB Serial Port (ttyUSB0)"},
    {"ttyUSB1", "USB Serial Port (ttyUSB1)"},
};

class SetDialogTest : public ::testing::Test {
  protected:
    // A link listing `ports`, as discovery at start-up leaves it for the configured port.
    void MakeLink(const QList<PortInfo>& ports, const QString& configuredPort = "ttyUSB0") {
        link = std::make_unique<CMeterComm>(MakeTermiosSerialDevice(),
                                            std::make_unique<test::FakePortEnumerator>(ports));
        link->SelectedPort = "ttyS7";  // what an earlier discovery left
        link->SelectedBaudRate = 19200;
        link->EnumeratePorts(configuredPort);
    }

    void Open() {
        if (!link) MakeLink(kTwoPorts);
        dlg = std::make_unique<CSetDialog>(nullptr, *link);
        setUp(*dlg);
        ASSERT_TRUE(dlg->Create());
    }

    void TearDown() override {
        if (dlg) dlg->DestroyWindow();
    }

    void ClickOk() { dlg->GetButton(IDOK_BUTTON)->click(); }

    test::RecordingMessageBox box;
    std::unique_ptr<CMeterComm> link;
    std::unique_ptr<CSetDialog> dlg;
    std::function<void(CSetDialog&)> setUp = [](CSetDialog&) {};
};

struct FilterTimeCase {
    const char* typed;
    bool accepted;
    unsigned stored;      // when accepted
    const char* message;  // when refused
};

class SetDialogFilterTimeTest : public SetDialogTest,
                                public ::testing::WithParamInterface<FilterTimeCase> {};

TEST_P(SetDialogFilterTimeTest, OkTakesTheFilterTimeOrKeepsTheDialogOpenWithItsPrompt) {
    const FilterTimeCase& c = GetParam();
    setUp = [](CSetDialog& d) { d.FilterTime = 250; };
    Open();
    QLineEdit* edit = dlg->GetEdit(IDC_SET_FILTER_TIME);
    EXPECT_EQ(edit->text(), "250");
    edit->setText(QString::fromUtf8(c.typed));

    ClickOk();

    if (c.accepted) {
        EXPECT_EQ(dlg->ModalResult(), IDOK);
        EXPECT_EQ(dlg->FilterTime, c.stored);
        EXPECT_TRUE(box.shown.isEmpty());
    } else {
        EXPECT_EQ(dlg->ModalResult(), -1) << "the dialog stays open";
        ASSERT_EQ(box.shown.size(), 1);
        EXPECT_EQ(box.shown[0].text, QString::fromUtf8(c.message));
        EXPECT_EQ(box.shown[0].type & 0xF, MB_OK);
        EXPECT_EQ(dlg->focusWidget(), edit);
        EXPECT_EQ(edit->selectedText(), edit->text());
    }
}

constexpr const char* kRange = "Please enter an integer between 0 and 1000.";
constexpr const char* kPositive = "Please enter a positive integer.";

INSTANTIATE_TEST_SUITE_P(
    Cases, SetDialogFilterTimeTest,
    ::testing::Values(FilterTimeCase{"1000", true, 1000, ""}, FilterTimeCase{"0", true, 0, ""},
                      FilterTimeCase{"12ms", true, 12, ""}, FilterTimeCase{"  40", true, 40, ""},
                      FilterTimeCase{"1001", false, 0, kRange},
                      // Too large for 32 bits: must not wrap round into the range.
                      FilterTimeCase{"4294967297", false, 0, kPositive},
                      FilterTimeCase{"abc", false, 0, kPositive},
                      FilterTimeCase{"", false, 0, kPositive},
                      FilterTimeCase{"-5", false, 0, kPositive}));

struct ListCase {
    int decimal;
    int separator;
    const char* decimalShown;  // "" when the list has no selection
    const char* separatorShown;
};

class SetDialogListTest : public SetDialogTest, public ::testing::WithParamInterface<ListCase> {};

TEST_P(SetDialogListTest, FormatListsShowTheSettingAndOkStoresThePositionOrMinusOne) {
    const ListCase& c = GetParam();
    setUp = [&c](CSetDialog& d) {
        d.Decimal = c.decimal;
        d.Separator = c.separator;
    };
    Open();
    QComboBox* decimal = dlg->GetComboBox(IDC_SET_DECIMAL_LIST);
    QComboBox* separator = dlg->GetComboBox(IDC_SET_SEPARATOR_LIST);
    ASSERT_EQ(decimal->count(), 2);
    ASSERT_EQ(separator->count(), 4);
    EXPECT_EQ(decimal->currentText(), QString::fromUtf8(c.decimalShown));
    EXPECT_EQ(separator->currentText(), QString::fromUtf8(c.separatorShown));

    ClickOk();

    ASSERT_EQ(dlg->ModalResult(), IDOK);
    const bool decimalValid = c.decimal >= 0 && c.decimal < 2;
    const bool separatorValid = c.separator >= 0 && c.separator < 4;
    EXPECT_EQ(dlg->Decimal, decimalValid ? c.decimal : -1);
    EXPECT_EQ(dlg->Separator, separatorValid ? c.separator : -1);
}

INSTANTIATE_TEST_SUITE_P(Cases, SetDialogListTest,
                         ::testing::Values(ListCase{0, 0, "Period( . )", "Comma( , )"},
                                           ListCase{1, 1, "Comma( , )", "Semicolon( ; )"},
                                           ListCase{1, 2, "Comma( , )", "Tab"},
                                           ListCase{0, 3, "Period( . )", "Space"},
                                           ListCase{5, 4, "", ""}, ListCase{-1, -3, "", ""}));

TEST_F(SetDialogTest, ChecksShowTheMembersAndOkReadsThemBack) {
    setUp = [](CSetDialog& d) {
        d.SaveDataIndex = true;
        d.SaveTime = true;
        d.SaveTemp = true;
    };
    Open();
    EXPECT_TRUE(dlg->GetCheckBox(IDC_SET_DATA_NUMBER)->isChecked());
    EXPECT_FALSE(dlg->GetCheckBox(IDC_SET_DATE)->isChecked());
    EXPECT_TRUE(dlg->GetCheckBox(IDC_SET_TIME)->isChecked());
    EXPECT_TRUE(dlg->GetCheckBox(IDC_SET_TEMPERATURE)->isChecked());

    dlg->GetCheckBox(IDC_SET_DATA_NUMBER)->click();
    dlg->GetCheckBox(IDC_SET_DATE)->click();
    dlg->GetCheckBox(IDC_SET_JUDGE)->click();
    dlg->GetCheckBox(IDC_SET_FILTER_ENABLE)->click();
    ClickOk();

    ASSERT_EQ(dlg->ModalResult(), IDOK);
    EXPECT_FALSE(dlg->SaveDataIndex);
    EXPECT_TRUE(dlg->SaveDate);
    EXPECT_TRUE(dlg->SaveTime);
    EXPECT_TRUE(dlg->SaveJudge);
    EXPECT_TRUE(dlg->FilterEnable);
    EXPECT_TRUE(dlg->SaveTemp);
}

struct LinkCase {
    const char* comNo;
    int baudRate;
    const char* selectedPort;  // the link's and the dialog's after OK
    int selectedRate;
};

class SetDialogLinkTest : public SetDialogTest, public ::testing::WithParamInterface<LinkCase> {};

TEST_P(SetDialogLinkTest, OkConfirmsAPresentPortAndAnOfferedRateOnTheLink) {
    const LinkCase& c = GetParam();
    setUp = [&c](CSetDialog& d) {
        d.ComNo = QString::fromUtf8(c.comNo);
        d.BaudRate = c.baudRate;
    };
    Open();
    // The communication controls are never shown.
    EXPECT_TRUE(dlg->GetComboBox(IDC_SET_PORT_LIST)->isHidden());
    EXPECT_TRUE(dlg->GetComboBox(IDC_SET_BAUD_LIST)->isHidden());

    ClickOk();

    ASSERT_EQ(dlg->ModalResult(), IDOK);
    EXPECT_EQ(link->SelectedPort, QString::fromUtf8(c.selectedPort));
    EXPECT_EQ(dlg->ComNo, QString::fromUtf8(c.selectedPort));
    EXPECT_EQ(link->SelectedBaudRate, static_cast<quint32>(c.selectedRate));
    EXPECT_EQ(dlg->BaudRate, c.selectedRate);
}

INSTANTIATE_TEST_SUITE_P(Cases, SetDialogLinkTest,
                         ::testing::Values(LinkCase{"ttyUSB1", 38400, "ttyUSB1", 38400},
                                           LinkCase{"ttyUSB0", 115200, "ttyUSB0", 115200},
                                           // Names are compared exactly.
                                           LinkCase{"TTYUSB1", 9600, "ttyUSB0", 9600},
                                           LinkCase{"ttyACM3", 19200, "ttyUSB0", 19200},
                                           LinkCase{"ttyUSB1", 4800, "ttyUSB1", 9600},
                                           LinkCase{"ttyUSB1", -1, "ttyUSB1", 9600}));

TEST_F(SetDialogTest, OkWithoutPortsLeavesTheLinkPortAndRateAsTheyWere) {
    MakeLink({});
    setUp = [](CSetDialog& d) {
        d.ComNo = "ttyUSB0";
        d.BaudRate = 38400;
    };
    Open();
    EXPECT_EQ(dlg->GetComboBox(IDC_SET_PORT_LIST)->count(), 0);

    ClickOk();

    ASSERT_EQ(dlg->ModalResult(), IDOK);
    EXPECT_EQ(link->SelectedPort, "ttyS7");
    EXPECT_EQ(link->SelectedBaudRate, 19200u);
    EXPECT_EQ(dlg->ComNo, "ttyUSB0");
    EXPECT_EQ(dlg->BaudRate, 38400);
}

TEST_F(SetDialogTest, CancelAfterChangingEveryControlChangesNothing) {
    setUp = [](CSetDialog& d) {
        d.ComNo = "ttyACM3";  // OK would move the link to ttyUSB0
        d.BaudRate = 4800;    // and to 9600
        d.FilterTime = 20;
        d.Decimal = 1;
        d.Separator = 2;
    };
    Open();
    for (const int id : {IDC_SET_DATA_NUMBER, IDC_SET_DATE, IDC_SET_TIME, IDC_SET_JUDGE,
                         IDC_SET_TEMPERATURE, IDC_SET_FILTER_ENABLE})
        dlg->GetCheckBox(id)->click();
    dlg->GetEdit(IDC_SET_FILTER_TIME)->setText("900");
    dlg->GetComboBox(IDC_SET_DECIMAL_LIST)->setCurrentIndex(0);
    dlg->GetComboBox(IDC_SET_SEPARATOR_LIST)->setCurrentIndex(3);
    const QString portBefore = link->SelectedPort;

    dlg->GetButton(IDCANCEL_BUTTON)->click();

    EXPECT_EQ(dlg->ModalResult(), IDCANCEL);
    EXPECT_FALSE(dlg->SaveDataIndex || dlg->SaveDate || dlg->SaveTime || dlg->SaveJudge ||
                 dlg->SaveTemp || dlg->FilterEnable);
    EXPECT_EQ(dlg->FilterTime, 20u);
    EXPECT_EQ(dlg->Decimal, 1);
    EXPECT_EQ(dlg->Separator, 2);
    EXPECT_EQ(dlg->ComNo, "ttyACM3");
    EXPECT_EQ(dlg->BaudRate, 4800);
    EXPECT_EQ(link->SelectedPort, portBefore);
    EXPECT_EQ(link->SelectedBaudRate, 19200u);
    EXPECT_TRUE(box.shown.isEmpty());
}

TEST_F(SetDialogTest, CaptionsComeFromTheStringTable) {
    Open();
    EXPECT_EQ(dlg->windowTitle(), "Capture Settings");
    EXPECT_EQ(dlg->GetDlgItemText(IDC_SET_GROUP_FORMAT), "Save Format(Text)");
    EXPECT_EQ(dlg->GetDlgItemText(IDC_SET_JUDGE), "Judgment");
    EXPECT_EQ(dlg->GetDlgItemText(IDC_SET_TEMPERATURE), "Temperature");
    EXPECT_EQ(dlg->GetDlgItemText(IDCANCEL_BUTTON), "Cancel");
}

}  // namespace
}  // namespace lyr
