// CMeterComm against the in-memory serial line and a stand-in port list.
#include <QByteArray>
#include <QString>

#include <chrono>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "link/meter_comm.h"
#include "platform/virtual_ports.h"
#include "support/fake_port_enumerator.h"
#include "support/memory_serial_device.h"

namespace lyr {
namespace {

using test::FakePortEnumerator;
using test::MemorySerialDevice;
using Clock = std::chrono::steady_clock;

class MeterCommTest : public ::testing::Test {
  protected:
    MeterCommTest() {
        auto device = std::make_unique<MemorySerialDevice>();
        auto enumerator = std::make_unique<FakePortEnumerator>();
        dev = device.get();
        ports = enumerator.get();
        link = std::make_unique<CMeterComm>(std::move(device), std::move(enumerator));
    }

    void OpenLink(int family = FamilyNone) {
        ASSERT_TRUE(link->OpenPort(QStringLiteral("ttyUSB0"), 9600));
        link->ModelFamily = family;
        dev->clearWritten();
    }

    // Answers each written line by looking it up; unknown lines get no answer.
    void Answer(std::map<QByteArray, QByteArray> replies) {
        dev->setResponder([replies = std::move(replies)](const QByteArray& line, std::uint32_t) {
            const auto it = replies.find(line);
            return it != replies.end() ? it->second : QByteArray();
        });
    }

    MemorySerialDevice* dev = nullptr;    // owned by link
    FakePortEnumerator* ports = nullptr;  // owned by link
    std::unique_ptr<CMeterComm> link;
};

// --- reply assembly -------------------------------------------------------------------------

struct ChunkCase {
    const char* name;
    QList<QByteArray> chunks;
    QString reply;
};

TEST_F(MeterCommTest, PollReplyAssemblesOneLineFromChunksWithEitherLineEndOrder) {
    const ChunkCase cases[] = {
        {"cr_then_lf", {"1.0012", "E-03,IN\r", "\n"}, "1.0012E-03,IN"},
        {"lf_then_cr", {"1.0012", "E-03,IN\n", "\r"}, "1.0012E-03,IN"},
        {"one_chunk", {"+9.87E-04,LO\r\n"}, "+9.87E-04,LO"},
        {"latin1_and_nul", {QByteArray("\xB5V\0,IN\r\n", 8)}, QString::fromLatin1("\xB5V,IN")},
    };
    for (const ChunkCase& c : cases) {
        SCOPED_TRACE(c.name);
        OpenLink(FamilyLyr);
        ASSERT_TRUE(link->SendCommand(":FETC? LIMit"));
        for (qsizetype i = 0; i < c.chunks.size(); ++i) {
            dev->feedReceived(c.chunks[i]);
            EXPECT_EQ(link->PollReply(), i == c.chunks.size() - 1) << "chunk " << i;
        }
        EXPECT_EQ(link->ReplyBuffer, c.reply);
        EXPECT_TRUE(link->CrSeen);
        EXPECT_TRUE(link->LfSeen);
        link->Close();
    }
}

TEST_F(MeterCommTest, PollReplyIsFalseAfterCompletionUntilMoreBytesArrive) {
    OpenLink();
    ASSERT_TRUE(link->SendCommand(":FETC?"));
    dev->feedReceived("1.0\r\n");
    ASSERT_TRUE(link->PollReply());
    EXPECT_FALSE(link->PollReply());
    EXPECT_EQ(link->ReplyBuffer, "1.0");

    dev->feedReceived("5");
    EXPECT_TRUE(link->PollReply());
    EXPECT_EQ(link->ReplyBuffer, "1.05");

    // The next command starts a fresh reply.
    ASSERT_TRUE(link->SendCommand(":FETC?"));
    EXPECT_FALSE(link->CrSeen);
    EXPECT_FALSE(link->LfSeen);
    EXPECT_TRUE(link->ReplyBuffer.isEmpty());
}

TEST_F(MeterCommTest, PollReplyFixesUpOnlyKtvRepliesAndOnlyOncePerLine) {
    struct Case {
        int family;
        QByteArray bytes;
        QString reply;
    } const cases[] = {
        {FamilyLyr, "1.0E-3;IN\r\n", "1.0E-3;IN"},
        {FamilyNone, "1.0E-3;IN\r\n", "1.0E-3;IN"},
        {FamilyKtv, "1.0E-3;IN\r\n", "1.0E-3,IN"},
        {FamilyKtv, "1.0E-3\r\n", "-----------,1.0E-3"},
        {FamilyKtv, "\r\n", "-----------,"},
        // Bytes trailing the line end are appended as they come, without a second marker.
        {FamilyKtv, "1.0E-3\r\nX", "-----------,1.0E-3X"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes.toStdString());
        OpenLink(c.family);
        ASSERT_TRUE(link->SendCommand(":FETC?"));
        dev->feedReceived(c.bytes);
        EXPECT_TRUE(link->PollReply());
        EXPECT_EQ(link->ReplyBuffer, c.reply);
        link->Close();
    }
}

TEST_F(MeterCommTest, ReceiveReplyTurnsSemicolonsIntoCommasInEveryFamily) {
    for (const int family : {FamilyLyr, FamilyKtv, FamilyNone}) {
        SCOPED_TRACE(family);
        OpenLink(family);
        dev->feedReceived("1.0E-3;23.5\r\n");
        EXPECT_EQ(link->ReceiveReply(2000), "1.0E-3,23.5");
        link->Close();
    }
}

TEST_F(MeterCommTest, ReceiveReplyOfBareLineEndIsEmptyWithoutWaitingForTimeOut) {
    OpenLink();
    dev->feedReceived("\r\n");
    const auto start = Clock::now();
    EXPECT_EQ(link->ReceiveReply(5000), QString());
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
}

TEST_F(MeterCommTest, ReceiveReplyDiscardsPartialLineOnTimeout) {
    struct Case {
        const char* name;
        QByteArray bytes;
    } const cases[] = {{"no_answer", ""}, {"half_a_line", "1.00"}, {"cr_only", "1.00,IN\r"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OpenLink();
        dev->feedReceived(c.bytes);
        const auto start = Clock::now();
        EXPECT_EQ(link->ReceiveReply(300), QString());
        EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(300));
        link->Close();
    }
}

TEST_F(MeterCommTest, ReceiveReplyCollectsBytesArrivingWhileItWaits) {
    OpenLink();
    std::thread meter([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        dev->feedReceived("ZORVA,LYR");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        dev->feedReceived("102\n\r");
    });
    EXPECT_EQ(link->ReceiveReply(5000), "ZORVA,LYR102");
    meter.join();
}

TEST_F(MeterCommTest, ReceiveReplyLeavesPollReplyStateAlone) {
    OpenLink();
    ASSERT_TRUE(link->SendCommand(":FETC?"));
    dev->feedReceived("1.0,IN\r");
    EXPECT_FALSE(link->PollReply());
    dev->feedReceived("\n23.5\r\n");
    EXPECT_EQ(link->ReceiveReply(1000), "23.5");
    EXPECT_EQ(link->ReplyBuffer, "1.0,IN");
    EXPECT_TRUE(link->CrSeen);
    EXPECT_FALSE(link->LfSeen);
}

TEST_F(MeterCommTest, RepliesAreCappedUntilTheLineEnds) {
    const QByteArray endless(3000, 'x');
    OpenLink();
    ASSERT_TRUE(link->SendCommand(":FETC?"));
    dev->feedReceived(endless);
    EXPECT_FALSE(link->PollReply());
    dev->feedReceived(endless + ",IN\r\n");
    EXPECT_TRUE(link->PollReply());
    EXPECT_EQ(link->ReplyBuffer, QString(MaxReplyLength, u'x'));

    dev->feedReceived(endless + endless + "\r\n");
    EXPECT_EQ(link->ReceiveReply(2000), QString(MaxReplyLength, u'x'));
}

TEST_F(MeterCommTest, FailedOrShortReadLosesTheChunk) {
    for (const auto fault : {MemorySerialDevice::Fault::Read, MemorySerialDevice::Fault::ShortRead,
                             MemorySerialDevice::Fault::BytesWaiting}) {
        SCOPED_TRACE(static_cast<int>(fault));
        OpenLink();
        ASSERT_TRUE(link->SendCommand(":FETC?"));
        dev->injectError(fault);
        dev->feedReceived("1.0,IN\r\n");
        EXPECT_FALSE(link->PollReply());
        EXPECT_TRUE(link->ReplyBuffer.isEmpty());
        dev->feedReceived("1.0,IN\r\n");
        EXPECT_EQ(link->ReceiveReply(50), QString());
        dev->injectError(MemorySerialDevice::Fault::None);
        link->Close();
    }
}

// --- sending --------------------------------------------------------------------------------

TEST_F(MeterCommTest, SendCommandPurgesStaleInputBeforeWritingTheLine) {
    OpenLink();
    Answer({{":FETC?", "2.0,HI\r\n"}});
    dev->feedReceived("1.0,IN\r\n");  // a late reply to an earlier query
    ASSERT_TRUE(link->SendCommand(":FETC?"));
    EXPECT_EQ(dev->operations(), (QStringList{"purge", "write :FETC?\r\n"}));
    EXPECT_TRUE(link->PollReply());
    EXPECT_EQ(link->ReplyBuffer, "2.0,HI");

    dev->clearWritten();
    ASSERT_TRUE(link->SendLineEnd());
    EXPECT_EQ(dev->operations(), (QStringList{"purge", "write \r\n"}));
}

TEST_F(MeterCommTest, SendLineEndKeepsReplyState) {
    OpenLink();
    ASSERT_TRUE(link->SendCommand(":FETC?"));
    dev->feedReceived("1.0\r\n");
    ASSERT_TRUE(link->PollReply());
    ASSERT_TRUE(link->SendLineEnd());
    EXPECT_EQ(link->ReplyBuffer, "1.0");
    EXPECT_TRUE(link->CrSeen && link->LfSeen);
}

TEST_F(MeterCommTest, FailedOrShortWriteIsAFailedSend) {
    for (const auto fault :
         {MemorySerialDevice::Fault::Write, MemorySerialDevice::Fault::ShortWrite}) {
        OpenLink();
        dev->injectError(fault);
        EXPECT_FALSE(link->SendCommand("*idn?"));
        EXPECT_FALSE(link->SendLineEnd());
        dev->injectError(MemorySerialDevice::Fault::None);
        link->Close();
    }
}

TEST_F(MeterCommTest, NothingHappensWhileNotConnected) {
    link->CrSeen = true;
    link->ReplyBuffer = QStringLiteral("1.0,IN");
    dev->feedReceived("2.0,HI\r\n");
    for (const bool portOpen : {false, true}) {
        SCOPED_TRACE(portOpen);
        if (portOpen) {
            // Open but not connected, as after a failed identification.
            ASSERT_TRUE(link->OpenPort(QStringLiteral("ttyUSB0"), 9600));
            link->Connected = false;
            dev->feedReceived("2.0,HI\r\n");
        }
        EXPECT_FALSE(link->SendCommand(":FETC?"));
        EXPECT_FALSE(link->SendLineEnd());
        EXPECT_FALSE(link->PollReply());
        EXPECT_EQ(link->ReceiveReply(10), QString());
        EXPECT_EQ(link->ReplyBuffer, "1.0,IN");
        EXPECT_TRUE(link->CrSeen);
        EXPECT_FALSE(link->LfSeen);
        EXPECT_TRUE(dev->writtenData().isEmpty());
    }
}

// --- opening --------------------------------------------------------------------------------

TEST_F(MeterCommTest, OpenPortOpensTheDevicePathAtTheRate) {
    link->ModelFamily = FamilyKtv;
    ASSERT_TRUE(link->OpenPort(QStringLiteral("ttyUSB12"), 38400));
    EXPECT_TRUE(link->Connected);
    EXPECT_EQ(link->DevicePath, "/dev/ttyUSB12");
    EXPECT_EQ(dev->openedPath(), "/dev/ttyUSB12");
    EXPECT_EQ(dev->rate(), 38400u);
    EXPECT_EQ(link->LineSettings.BaudRate, 38400u);
    EXPECT_EQ(link->ModelFamily, FamilyNone);

    link->Close();
    EXPECT_TRUE(link->DevicePath.isEmpty());
    EXPECT_FALSE(link->HandleValid());
    EXPECT_TRUE(link->Connected) << "callers that close clear Connected themselves";
}

TEST_F(MeterCommTest, OpenPortWhileOpenFailsAndKeepsTheOpenPort) {
    ASSERT_TRUE(link->OpenPort(QStringLiteral("ttyUSB0"), 9600));
    link->ModelFamily = FamilyLyr;
    EXPECT_FALSE(link->OpenPort(QStringLiteral("ttyUSB1"), 9600));
    EXPECT_FALSE(link->Connected);
    EXPECT_TRUE(link->HandleValid());
    EXPECT_EQ(link->DevicePath, "/dev/ttyUSB0");
    EXPECT_EQ(dev->openedPath(), "/dev/ttyUSB0");
    EXPECT_EQ(link->ModelFamily, FamilyNone);
}

TEST_F(MeterCommTest, FailedOpenOrRefusedRateLeavesThePortClosed) {
    dev->setAcceptedRates({9600});
    link->ModelFamily = FamilyLyr;
    EXPECT_FALSE(link->OpenPort(QStringLiteral("ttyUSB0"), 19200));
    EXPECT_FALSE(link->HandleValid());
    EXPECT_TRUE(link->DevicePath.isEmpty());
    EXPECT_EQ(link->ModelFamily, FamilyNone);

    dev->setOpenResult(false);
    EXPECT_FALSE(link->OpenPort(QStringLiteral("ttyUSB0"), 9600));
    EXPECT_FALSE(link->Connected);
    EXPECT_TRUE(link->DevicePath.isEmpty());
}

TEST_F(MeterCommTest, OpenConfiguredWithEmptyPortListTouchesNoDevice) {
    link->SelectedPort = QStringLiteral("ttyUSB0");
    link->SelectedBaudRate = 9600;
    link->ModelFamily = FamilyKtv;
    EXPECT_FALSE(link->OpenConfigured());
    EXPECT_FALSE(link->Connected);
    EXPECT_EQ(link->ModelFamily, FamilyNone);
    EXPECT_EQ(dev->openCount(), 0);
}

TEST_F(MeterCommTest, OpenConfiguredOpensTheSelectedPortAtTheSelectedRate) {
    ports->setPorts({{"ttyUSB0", "A (ttyUSB0)"}, {"ttyACM3", "B (ttyACM3)"}});
    link->EnumeratePorts(QStringLiteral("ttyACM3"));
    link->SelectedBaudRate = 115200;
    EXPECT_TRUE(link->OpenConfigured());
    EXPECT_EQ(dev->openedPath(), "/dev/ttyACM3");
    EXPECT_EQ(dev->rate(), 115200u);
}

TEST(DevicePathTest, PortNamesBecomePathsOnlyInsideTheDeviceAndVirtualPortDirectories) {
    const QString virtualLink = VirtualPortDirectory() + QStringLiteral("/zorva-1");
    struct Case {
        QString name;
        QString path;
    } const cases[] = {
        {"ttyUSB0", "/dev/ttyUSB0"},
        {"ttyS12", "/dev/ttyS12"},
        {"/dev/pts/3", "/dev/pts/3"},
        {virtualLink, virtualLink},
        {"", ""},
        {"..", ""},
        {"../sda", ""},
        {"/dev/../etc/shadow", ""},
        {VirtualPortDirectory() + "/../../x", ""},
        {"/etc/passwd", ""},
        {"pts/3", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CMeterComm::DevicePathFor(c.name), c.path) << c.name.toStdString();
}

TEST_F(MeterCommTest, PortNameWithDotDotNeverReachesTheDevice) {
    EXPECT_FALSE(link->OpenPort(QStringLiteral("../../etc/passwd"), 9600));
    EXPECT_FALSE(link->Connected);
    EXPECT_EQ(dev->openCount(), 0);
}

// --- discovery ------------------------------------------------------------------------------

TEST_F(MeterCommTest, EnumeratePortsFillsListsInOrderAndSelectsThePreferredPort) {
    const QList<PortInfo> two{{"ttyS4", "serial8250 (ttyS4)"}, {"ttyUSB10", "FT232R (ttyUSB10)"}};
    struct Case {
        const char* name;
        QList<PortInfo> present;
        QString preferred;
        QString selected;
    } const cases[] = {
        {"preferred_second", two, "ttyUSB10", "ttyUSB10"},
        {"preferred_first", two, "ttyS4", "ttyS4"},
        {"preferred_absent", two, "ttyS0", "ttyS4"},
        {"none_present_keeps_selection", {}, "ttyS0", "earlier"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        link->SelectedPort = QStringLiteral("earlier");
        ports->setPorts(c.present);
        link->EnumeratePorts(c.preferred);
        EXPECT_EQ(link->SelectedPort, c.selected);
        ASSERT_EQ(link->PortNames.size(), c.present.size());
        for (qsizetype i = 0; i < c.present.size(); ++i) {
            EXPECT_EQ(link->PortNames[i], c.present[i].portName);
            EXPECT_EQ(link->FriendlyNames[i], c.present[i].description);
        }
        EXPECT_EQ(link->FoundSerials, QStringList(c.present.size(), " "));
        EXPECT_EQ(link->FoundDescriptors, QStringList(c.present.size(), " "));
        // As std::vector: Qt 6.4 compares two empty QList<quint32> with memcmp(nullptr, ...).
        EXPECT_EQ(std::vector<quint32>(link->PortBaudRates.begin(), link->PortBaudRates.end()),
                  std::vector<quint32>(static_cast<std::size_t>(c.present.size()), 9600));
    }
}

TEST_F(MeterCommTest, EnumeratePortsKeepsTheSelectedPortWhenItIsPassedAsThePreferredOne) {
    // The dialogs pass SelectedPort itself; the first accepted port overwrites it before the
    // comparison, which must still see the name as it was passed.
    ports->setPorts({{"ttyUSB0", "A (ttyUSB0)"}, {"ttyUSB1", "B (ttyUSB1)"}});
    link->SelectedPort = QStringLiteral("ttyUSB1");
    link->EnumeratePorts(link->SelectedPort);
    EXPECT_EQ(link->SelectedPort, QStringLiteral("ttyUSB1"));
}

TEST_F(MeterCommTest, EnumeratePortsResetsTheResultsOfASearch) {
    ports->setPorts({{"ttyUSB0", "A (ttyUSB0)"}, {"ttyUSB1", "B (ttyUSB1)"}});
    link->EnumeratePorts({});
    Answer({{"*idn?", "ZORVA,LYR102,S1,1.0\r\n"}});
    dev->setAcceptedRates({38400});
    link->SearchAllPorts();
    ASSERT_EQ(link->FoundDescriptors, (QStringList{"ZORVA-LYR102-S1", "ZORVA-LYR102-S1"}));
    ASSERT_EQ(link->PortBaudRates, (QList<quint32>{38400, 38400}));

    link->EnumeratePorts({});
    EXPECT_EQ(link->FoundDescriptors, (QStringList{" ", " "}));
    EXPECT_EQ(link->FoundSerials, (QStringList{" ", " "}));
    EXPECT_EQ(link->PortBaudRates, (QList<quint32>{9600, 9600}));
}

// --- identification -------------------------------------------------------------------------

TEST_F(MeterCommTest, IdentifySetsFamilyAndSerialFromTheModelTable) {
    struct Case {
        const char* name;
        QByteArray reply;
        bool result;
        int family;
        QString model;
        QString serial;
        QList<QByteArray> after;  // lines written after "*idn?"
    } const cases[] = {
        {"lyr102_four_fields",
         "ZORVA,LYR102,A1234567,1.00\r\n",
         true,
         FamilyLyr,
         "LYR102",
         "A1234567",
         {}},
        {"lyr101_longer_model",
         "ZORVA,LYR101-02B,B7,2.1,extra\r\n",
         true,
         FamilyLyr,
         "LYR101-02B",
         "B7",
         {}},
        {"ktv201_sets_format",
         "ZORVA,KTV201,K1,1.0\r\n",
         true,
         FamilyKtv,
         "KTV201",
         "K1",
         {":SYST:COMM:FORM FIX"}},
        {"ktv202",
         "ZORVA,KTV202,K2,1.0\r\n",
         true,
         FamilyKtv,
         "KTV202",
         "K2",
         {":SYST:COMM:FORM FIX"}},
        {"semicolons_as_separators",
         "ZORVA;LYR102;S3;1.0\r\n",
         true,
         FamilyLyr,
         "LYR102",
         "S3",
         {}},
        {"maker_and_model_only", "ZORVA,LYR102\r\n", true, FamilyNone, "", "--------", {}},
        {"no_fourth_field", "ZORVA,LYR102,S9\r\n", true, FamilyLyr, "LYR102", "", {}},
        {"unsupported_model", "ZORVA,XR-9,S5,1.0\r\n", true, FamilyNone, "XR-9", "--------", {}},
        {"model_case_matters",
         "ZORVA,lyr102,S6,1.0\r\n",
         true,
         FamilyNone,
         "lyr102",
         "--------",
         {}},
        {"lower_case_maker", "zorva,LYR102,S1,1.0\r\n", false, FamilyNone, "kept", "kept", {}},
        {"other_maker", "ACME,LYR102,S1,1.0\r\n", false, FamilyNone, "kept", "kept", {}},
        {"no_comma", "ZORVA\r\n", false, FamilyNone, "kept", "kept", {}},
        {"no_answer", "", false, FamilyNone, "kept", "kept", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OpenLink();
        Answer({{"*idn?", c.reply}});
        link->SerialNumber = QStringLiteral("kept");
        QString maker = QStringLiteral("kept"), model = maker, serial = maker;
        EXPECT_EQ(link->Identify(maker, model, serial), c.result);
        EXPECT_EQ(link->ModelFamily, c.family);
        EXPECT_EQ(model, c.model);
        EXPECT_EQ(serial, c.serial);
        EXPECT_EQ(link->SerialNumber, c.serial);
        EXPECT_EQ(maker, c.result ? QStringLiteral("ZORVA") : QStringLiteral("kept"));
        QList<QByteArray> expected{"", "*idn?"};
        expected += c.after;
        EXPECT_EQ(dev->writtenLines(), expected);
        link->Close();
    }
}

TEST_F(MeterCommTest, FailedIdentifyKeepsAnEarlierIdentification) {
    OpenLink();
    Answer({{"*idn?", "ZORVA,KTV201,K1,1.0\r\n"}});
    QString maker, model, serial;
    ASSERT_TRUE(link->Identify(maker, model, serial));
    Answer({});
    EXPECT_FALSE(link->Identify(maker, model, serial));
    EXPECT_EQ(link->ModelFamily, FamilyKtv);
    EXPECT_EQ(link->SerialNumber, "K1");
    EXPECT_EQ(model, "KTV201");
}

TEST_F(MeterCommTest, ProbePortTriesEveryRateInOrderAndLeavesThePortClosed) {
    dev->setResponder([](const QByteArray& line, std::uint32_t rate) {
        return line == "*idn?" && rate == 38400 ? QByteArray("ZORVA,KTV202,K7,1.0\r\n")
                                                : QByteArray();
    });
    QString model, serial;
    quint32 rate = 0;
    EXPECT_TRUE(link->ProbePort(QStringLiteral("ttyUSB0"), model, serial, rate));
    EXPECT_EQ(rate, 38400u);
    EXPECT_EQ(model, "KTV202");
    EXPECT_EQ(serial, "K7");
    EXPECT_FALSE(link->HandleValid());
    EXPECT_FALSE(link->Connected);
    QStringList configured = dev->operations().filter(QStringLiteral("configure"));
    EXPECT_EQ(configured, (QStringList{"configure 9600", "configure 19200", "configure 38400"}));

    dev->setResponder({});
    rate = 0;
    EXPECT_FALSE(link->ProbePort(QStringLiteral("ttyUSB0"), model, serial, rate));
    EXPECT_EQ(rate, 0u);
    EXPECT_FALSE(link->HandleValid());
}

TEST_F(MeterCommTest, SearchAllPortsWritesQuestionMarksWhereNothingAnswers) {
    ports->setPorts({{"ttyUSB0", "A (ttyUSB0)"}, {"ttyUSB1", "B (ttyUSB1)"}});
    link->EnumeratePorts({});
    link->FoundSerials[1] = QStringLiteral("earlier");
    link->PortBaudRates[1] = 19200;
    dev->setResponder([](const QByteArray& line, std::uint32_t) {
        return line == "*idn?" ? QByteArray("ZORVA,XR-9,S5,1.0\r\n") : QByteArray();
    });
    dev->setAcceptedRates({115200});
    link->SearchAllPorts();
    EXPECT_EQ(link->FoundDescriptors, (QStringList{"ZORVA-XR-9---------", "ZORVA-XR-9---------"}));
    EXPECT_EQ(link->PortBaudRates, (QList<quint32>{115200, 115200}));

    dev->setOpenResult(false);
    link->SearchAllPorts();
    EXPECT_EQ(link->FoundDescriptors, (QStringList{"?", "?"}));
    EXPECT_EQ(link->FoundSerials, (QStringList{"--------", "--------"})) << "kept from before";
    EXPECT_EQ(link->PortBaudRates, (QList<quint32>{115200, 115200}));
}

TEST_F(MeterCommTest, SearchAllPortsWithTheLinkOpenFindsNothingAndKeepsThePortOpen) {
    ports->setPorts({{"ttyUSB0", "A (ttyUSB0)"}, {"ttyUSB1", "B (ttyUSB1)"}});
    link->EnumeratePorts({});
    Answer({{"*idn?", "ZORVA,LYR102,S1,1.0\r\n"}});
    ASSERT_TRUE(link->OpenPort(QStringLiteral("ttyUSB0"), 9600));
    link->SearchAllPorts();
    EXPECT_EQ(link->FoundDescriptors, (QStringList{"?", "?"}));
    EXPECT_TRUE(link->HandleValid());
    EXPECT_EQ(link->DevicePath, "/dev/ttyUSB0");
}

// --- measurement queries --------------------------------------------------------------------

TEST_F(MeterCommTest, QueriesUseTheCommandsOfTheFamily) {
    struct Case {
        int family;
        QByteArray read, fetch, temperature, dataOff;
        QByteArray temperatureReply;
        QString temperatureText;
    } const cases[] = {
        {FamilyLyr, ":READ? LIMit", ":FETC? LIMit", ":FETC:TEMP?", "SYST:DATA 0", "23.5;C\r\n",
         "23.5,C"},
        {FamilyKtv, ":READ?;:CALC:LIM:RES?", ":FETC?;:CALC:LIM:RES?", ":FETC? TEMP",
         "SYST:COMM:DATA 0", "1.0E-3,23.5\r\n", "23.5"},
        {FamilyKtv, ":READ?;:CALC:LIM:RES?", ":FETC?;:CALC:LIM:RES?", ":FETC? TEMP",
         "SYST:COMM:DATA 0", "23.5\r\n", "23.5"},
        {FamilyNone, ":READ?", ":FETC?", "", "", "", ""},
        {7, ":READ?", ":FETC?", "", "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.family);
        OpenLink(c.family);
        if (!c.temperature.isEmpty()) Answer({{c.temperature, c.temperatureReply}});
        link->SendReadQuery();
        link->SendFetchQuery();
        EXPECT_EQ(link->QueryTemperature(), c.temperatureText);
        QList<QByteArray> expected{c.read, c.fetch};
        if (!c.temperature.isEmpty()) expected << c.temperature;
        EXPECT_EQ(dev->writtenLines(), expected);
        EXPECT_EQ(
            QByteArray(CommandsOfFamily(c.family).DataOutputOff.data(),
                       static_cast<qsizetype>(CommandsOfFamily(c.family).DataOutputOff.size())),
            c.dataOff);
        link->Close();
    }
}

TEST_F(MeterCommTest, QueryTemperatureTimesOutToAnEmptyText) {
    for (const int family : {FamilyLyr, FamilyKtv}) {
        OpenLink(family);
        const auto start = Clock::now();
        EXPECT_EQ(link->QueryTemperature(), QString());
        EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(500));
        link->Close();
    }
}

TEST(FixUpReplyTest, KtvRepliesGetValueCommaJudgement) {
    struct Case {
        QString in, out;
    } const cases[] = {
        {"+1.0012E-03;IN", "+1.0012E-03,IN"},
        {"+1.0012E-03", "-----------,+1.0012E-03"},
        {"", "-----------,"},
        {"1;2;3", "1,2,3"},
        {"1,IN", "-----------,1,IN"},
    };
    for (const Case& c : cases) {
        QString text = c.in;
        CMeterComm::FixUpReply(text);
        EXPECT_EQ(text, c.out) << c.in.toStdString();
    }
}

}  // namespace
}  // namespace lyr
