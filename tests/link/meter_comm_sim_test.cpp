// CMeterComm with the real termios device and the real port enumeration, against simulated
// meters on pseudo-terminals.
#include <sys/wait.h>
#include <unistd.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <array>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "link/meter_comm.h"
#include "platform/virtual_ports.h"
#include "sim/meter_simulator.h"
#include "support/port_holder_process.h"

namespace lyr {
namespace {

using sim::MeterSimulator;
using sim::SimConfig;
using Clock = std::chrono::steady_clock;

class MeterCommSimTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        // Simulators of this test publish their links in a directory of their own, so that
        // discovery sees exactly them.
        runtime_ = new QTemporaryDir();
        ASSERT_TRUE(runtime_->isValid());
        ::setenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime_->path()).constData(), 1);
    }
    static void TearDownTestSuite() {
        delete runtime_;
        runtime_ = nullptr;
    }

    MeterCommSimTest() : link(MakeTermiosSerialDevice(), MakeUdevPortEnumerator()) {}

    std::unique_ptr<MeterSimulator> StartSim(SimConfig config) {
        auto meter = std::make_unique<MeterSimulator>(std::move(config));
        EXPECT_TRUE(meter->Start());
        return meter;
    }

    // Polls as the measurement thread does, for at most a few seconds.
    bool PollUntilComplete() {
        for (int i = 0; i < 3000; ++i) {
            if (link.PollReply()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }

    static QTemporaryDir* runtime_;
    CMeterComm link;
};
QTemporaryDir* MeterCommSimTest::runtime_ = nullptr;

TEST_F(MeterCommSimTest, PollReplyAssemblesChunkedRepliesInEitherLineEndOrder) {
    struct Case {
        const char* name;
        int chunkSize;
        bool lfBeforeCr;
    } const cases[] = {{"three_chunks", 6, false}, {"lf_before_cr", 0, true}, {"both", 4, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimConfig config;
        config.chunkSize = c.chunkSize;
        config.lfBeforeCr = c.lfBeforeCr;
        auto meter = StartSim(config);
        ASSERT_TRUE(link.OpenPort(meter->PortName(), 9600));
        link.ModelFamily = FamilyLyr;
        ASSERT_TRUE(link.SendCommand(":FETC? LIMit"));
        ASSERT_TRUE(PollUntilComplete());
        EXPECT_EQ(link.ReplyBuffer, QString::fromLatin1(meter->LastReply()));
        EXPECT_FALSE(link.ReplyBuffer.contains(u'\r') || link.ReplyBuffer.contains(u'\n'));
        EXPECT_TRUE(link.ReplyBuffer.contains(u',')) << link.ReplyBuffer.toStdString();

        ASSERT_TRUE(link.SendCommand(":FETC:TEMP?"));
        EXPECT_EQ(link.ReceiveReply(3000), "23.5");
        link.Close();
    }
}

TEST_F(MeterCommSimTest, SilentMeterTimesOutAndHalfLineIsNoReply) {
    SimConfig config;
    config.silent = true;
    auto meter = StartSim(config);
    ASSERT_TRUE(link.OpenPort(meter->PortName(), 9600));
    ASSERT_TRUE(link.SendCommand("*idn?"));
    auto start = Clock::now();
    EXPECT_EQ(link.ReceiveReply(300), QString());
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(300));
    link.Close();

    meter->SetSilent(false);
    meter->SetEndlessLine(true);
    ASSERT_TRUE(link.OpenPort(meter->PortName(), 9600));
    link.ModelFamily = FamilyLyr;
    ASSERT_TRUE(link.SendCommand(":FETC? LIMit"));
    start = Clock::now();
    EXPECT_EQ(link.ReceiveReply(300), QString());
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(300));
    // The endless line keeps coming: the poll keeps at most the cap of it.
    ASSERT_TRUE(link.SendCommand(":FETC? LIMit"));
    for (int i = 0; i < 300; ++i) {
        EXPECT_FALSE(link.PollReply());
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_LE(link.ReplyBuffer.size(), MaxReplyLength);
}

TEST_F(MeterCommSimTest, StaleReplyNeverMixesWithTheNextOne) {
    auto meter = StartSim({});
    ASSERT_TRUE(link.OpenPort(meter->PortName(), 9600));
    link.ModelFamily = FamilyLyr;
    ASSERT_TRUE(link.SendCommand(":FETC? LIMit"));
    ASSERT_TRUE(meter->WaitForReceived(":FETC? LIMit", 3000));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // its reply waits unread
    meter->ClearReceived();
    ASSERT_TRUE(link.SendCommand(":FETC:TEMP?"));
    ASSERT_TRUE(PollUntilComplete());
    EXPECT_EQ(link.ReplyBuffer, "23.5");
}

TEST_F(MeterCommSimTest, IdentifyFindsModelFamilyAndSerial) {
    struct Case {
        QString model;
        int family;
        QString serial;
        bool formatSent;
    } const cases[] = {
        {"LYR102", FamilyLyr, "A1234567", false},
        {"KTV201", FamilyKtv, "A1234567", true},
        {"QX900", FamilyNone, "--------", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model.toStdString());
        SimConfig config;
        config.model = c.model;
        auto meter = StartSim(config);
        ASSERT_TRUE(link.OpenPort(meter->PortName(), 9600));
        QString maker, model, serial;
        ASSERT_TRUE(link.Identify(maker, model, serial));
        EXPECT_EQ(maker, "ZORVA");
        EXPECT_EQ(model, c.model);
        EXPECT_EQ(serial, c.serial);
        EXPECT_EQ(link.ModelFamily, c.family);
        if (c.formatSent) {
            EXPECT_TRUE(meter->WaitForReceived(":SYST:COMM:FORM FIX", 3000));
            const auto lines = meter->Received();
            ASSERT_GE(lines.size(), 2);
            EXPECT_EQ(lines[lines.size() - 2].line, "*idn?");
        }
        link.Close();
    }
}

TEST_F(MeterCommSimTest, MeterAnswersOnlyAtItsRateAndUnsupportedRatesFailToOpen) {
    SimConfig config;
    config.baudRate = 19200;
    auto meter = StartSim(config);
    QString maker, model, serial;
    ASSERT_TRUE(link.OpenPort(meter->PortName(), 9600));
    EXPECT_FALSE(link.Identify(maker, model, serial));
    link.Close();
    EXPECT_FALSE(link.OpenPort(meter->PortName(), 57600));
    EXPECT_FALSE(link.HandleValid());
    ASSERT_TRUE(link.OpenPort(meter->PortName(), 19200));
    EXPECT_TRUE(link.Identify(maker, model, serial));
}

TEST_F(MeterCommSimTest, PortHeldOpenByAnotherProcessFailsToOpen) {
    auto meter = StartSim({});
    test::PortHolderProcess holder(meter->PortName());
    ASSERT_TRUE(holder.Opened());
    EXPECT_FALSE(link.OpenPort(meter->PortName(), 9600));
    EXPECT_TRUE(link.DevicePath.isEmpty());
    holder.Release();
    EXPECT_TRUE(link.OpenPort(meter->PortName(), 9600));
}

TEST_F(MeterCommSimTest, DiscoveryListsLiveSimulatorsByNameAfterTheSystemPorts) {
    SimConfig second;
    second.linkName = QStringLiteral("zorva-b");
    SimConfig first;
    first.linkName = QStringLiteral("zorva-a");
    auto meterB = StartSim(second);
    auto meterA = StartSim(first);
    ASSERT_TRUE(QFile::link(QStringLiteral("/nonexistent/pts/99"),
                            VirtualPortDirectory() + QStringLiteral("/zorva-dead")));

    link.EnumeratePorts(meterB->PortName());
    QFile::remove(VirtualPortDirectory() + QStringLiteral("/zorva-dead"));

    const qsizetype n = link.PortNames.size();
    ASSERT_GE(n, 2);
    EXPECT_EQ(link.PortNames.mid(n - 2), (QStringList{meterA->PortName(), meterB->PortName()}));
    EXPECT_EQ(link.FriendlyNames.mid(n - 2),
              (QStringList{"ZORVA simulator (zorva-a)", "ZORVA simulator (zorva-b)"}));
    EXPECT_EQ(link.SelectedPort, meterB->PortName());
    EXPECT_EQ(link.FoundDescriptors, QStringList(n, " "));
    EXPECT_EQ(link.PortBaudRates, QList<quint32>(n, 9600));

    // The kernel console is never offered, so the search never writes to it.
    QFile consoles(QStringLiteral("/proc/consoles"));
    if (consoles.open(QIODevice::ReadOnly)) {
        const QByteArray console = consoles.readAll().simplified().split(' ').value(0);
        if (!console.isEmpty()) {
            EXPECT_FALSE(link.PortNames.contains(QString::fromLatin1(console)));
        }
    }
    for (const QString& name : link.PortNames) {
        EXPECT_FALSE(name.startsWith(QLatin1String("tty")) && name.size() > 3 && name[3].isDigit())
            << "virtual terminal listed: " << name.toStdString();
        EXPECT_FALSE(CMeterComm::DevicePathFor(name).isEmpty()) << name.toStdString();
    }
}

// Only the simulators of this test may be listed, or the search would probe real hardware.
bool OnlyVirtualPorts(const CMeterComm& link) {
    for (const QString& name : link.PortNames)
        if (!name.startsWith(VirtualPortDirectory())) return false;
    return true;
}

TEST_F(MeterCommSimTest, SearchAllPortsFindsTheMeterAtItsRateAndMarksSilentPorts) {
    SimConfig found;
    found.linkName = QStringLiteral("zorva-1");
    found.baudRate = 38400;
    found.model = QStringLiteral("KTV202");
    found.serial = QStringLiteral("K0042");
    SimConfig silent;
    silent.linkName = QStringLiteral("zorva-2");
    silent.silent = true;
    auto meterFound = StartSim(found);
    auto meterSilent = StartSim(silent);
    link.EnumeratePorts({});
    if (!OnlyVirtualPorts(link)) GTEST_SKIP() << "serial hardware present";
    ASSERT_EQ(link.PortNames, (QStringList{meterFound->PortName(), meterSilent->PortName()}));
    link.SelectedPort = QStringLiteral("kept");
    link.SelectedBaudRate = 115200;

    link.SearchAllPorts();
    EXPECT_EQ(link.FoundDescriptors, (QStringList{"ZORVA-KTV202-K0042", "?"}));
    EXPECT_EQ(link.FoundSerials, (QStringList{"K0042", " "}));
    EXPECT_EQ(link.PortBaudRates, (QList<quint32>{38400, 9600}));
    EXPECT_EQ(link.SelectedPort, "kept");
    EXPECT_EQ(link.SelectedBaudRate, 115200u);
    EXPECT_FALSE(link.HandleValid());
    EXPECT_FALSE(link.Connected);

    // With the link's own port open, nothing can be probed.
    ASSERT_TRUE(link.OpenPort(meterSilent->PortName(), 9600));
    meterFound->ClearReceived();
    link.SearchAllPorts();
    EXPECT_EQ(link.FoundDescriptors, (QStringList{"?", "?"}));
    EXPECT_TRUE(meterFound->Received().isEmpty());
    EXPECT_EQ(link.DevicePath, meterSilent->PortName());
}

}  // namespace
}  // namespace lyr
