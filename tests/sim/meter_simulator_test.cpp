#include <fcntl.h>
#include <sys/stat.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "platform/serial_device.h"
#include "sim/meter_simulator.h"

namespace lyr::sim {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Talks to the port as the logger does: a plain open of the link, raw termios at one rate,
// purge before every write.
class Client {
  public:
    Client(const QString& path, quint32 rate) {
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_fd < 0) return;
        termios tio{};
        ::tcgetattr(m_fd, &tio);
        ::cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        tio.c_cflag &= ~(CRTSCTS | HUPCL);
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        ::cfsetispeed(&tio, TermiosSpeed(rate));
        ::cfsetospeed(&tio, TermiosSpeed(rate));
        m_configured = ::tcsetattr(m_fd, TCSANOW, &tio) == 0;
    }
    ~Client() {
        if (m_fd >= 0) ::close(m_fd);
    }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    [[nodiscard]] bool Ok() const { return m_fd >= 0 && m_configured; }
    [[nodiscard]] int Fd() const { return m_fd; }

    bool Send(const QByteArray& command) {
        ::tcflush(m_fd, TCIOFLUSH);
        const QByteArray line = command + "\r\n";
        return ::write(m_fd, line.constData(), line.size()) == line.size();
    }

    // Bytes up to and including the first CR and LF (in either order); empty on time-out.
    QByteArray ReadLine(int timeoutMs = 3000) {
        QByteArray got;
        const auto end = Clock::now() + milliseconds(timeoutMs);
        while (Clock::now() < end) {
            if (got.contains('\r') && got.contains('\n')) return got;
            if (!WaitReadable(end)) break;
            char buffer[256];
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n <= 0) break;
            got.append(buffer, n);
            ++m_reads;
        }
        return (got.contains('\r') && got.contains('\n')) ? got : QByteArray();
    }

    // Everything that arrives within the time (for silence and endless lines).
    QByteArray ReadFor(int ms) {
        QByteArray got;
        const auto end = Clock::now() + milliseconds(ms);
        while (WaitReadable(end)) {
            char buffer[4096];
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n <= 0) break;
            got.append(buffer, n);
        }
        return got;
    }

    [[nodiscard]] int Reads() const { return m_reads; }

  private:
    bool WaitReadable(Clock::time_point end) {
        const auto left = std::chrono::duration_cast<milliseconds>(end - Clock::now()).count();
        if (left <= 0) return false;
        pollfd p{m_fd, POLLIN, 0};
        return ::poll(&p, 1, static_cast<int>(left)) > 0 && (p.revents & POLLIN);
    }

    int m_fd = -1;
    bool m_configured = false;
    int m_reads = 0;
};

SimConfig FixedValue(const char* model, double value = 1.0012e-3) {
    SimConfig config;
    config.model = model;
    config.valueMin = config.valueMax = value;
    return config;
}

// Long enough that a loaded machine has surely answered if it was going to.
constexpr int kSilenceMs = 400;

TEST(MeterSimulator, AnswersIdentificationOnlyAtItsBaudRateAndRecordsEachLineWithItsRate) {
    QTemporaryDir dir;
    SimConfig config;
    config.baudRate = 19200;
    config.logPath = dir.filePath("rx.log");
    MeterSimulator sim(config);
    ASSERT_TRUE(sim.Start());
    {
        Client client(sim.PortName(), 9600);
        ASSERT_TRUE(client.Ok());
        ASSERT_TRUE(client.Send("*idn?"));
        EXPECT_TRUE(client.ReadFor(kSilenceMs).isEmpty());
    }
    {
        Client client(sim.PortName(), 19200);
        ASSERT_TRUE(client.Ok());
        ASSERT_TRUE(client.Send("*idn?"));
        EXPECT_EQ(client.ReadLine(), "ZORVA,LYR102,A1234567,1.00\r\n");
    }
    const QList<ReceivedLine> received = sim.Received();
    ASSERT_EQ(received.size(), 2);
    EXPECT_EQ(received[0].line, "*idn?");
    EXPECT_EQ(received[0].baudRate, 9600u);
    EXPECT_EQ(received[1].baudRate, 19200u);

    QFile log(config.logPath);
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = log.readAll().trimmed().split('\n');
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].endsWith(" 9600 *idn?")) << lines[0].constData();
    EXPECT_TRUE(lines[1].endsWith(" 19200 *idn?")) << lines[1].constData();
}

struct ReplyCase {
    const char* model;
    double value;
    const char* command;
    const char* reply;  // without CR LF; nullptr: no reply at all
};

class ReplyForm : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(ReplyForm, FollowsTheModelFamily) {
    const ReplyCase& c = GetParam();
    MeterSimulator sim(FixedValue(c.model, c.value));
    ASSERT_TRUE(sim.Start());
    Client client(sim.PortName(), 9600);
    ASSERT_TRUE(client.Ok());
    ASSERT_TRUE(client.Send(c.command));
    if (c.reply) {
        EXPECT_EQ(client.ReadLine(), QByteArray(c.reply) + "\r\n");
    } else {
        EXPECT_TRUE(client.ReadFor(kSilenceMs).isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Families, ReplyForm,
    ::testing::Values(ReplyCase{"LYR101", 1.0012e-3, ":FETC? LIMit", "1.0012E-03,IN"},
                      ReplyCase{"LYR102", 0.9e-3, ":READ? LIMit", "9.0000E-04,LO"},
                      ReplyCase{"LYR102", 1.2e-3, ":fetc? lim", "1.2000E-03,HI"},
                      ReplyCase{"LYR102", 1.0012e-3, ":FETC:TEMP?", "23.5"},
                      ReplyCase{"LYR102", 1.0012e-3, ":FETC?;:CALC:LIM:RES?", nullptr},
                      ReplyCase{"KTV201", 1.0012e-3, ":READ?;:CALC:LIM:RES?", "1.0012E-03;IN"},
                      ReplyCase{"KTV202", 1.2e-3, ":FETC?;:CALC:LIM:RES?", "1.2000E-03;HI"},
                      ReplyCase{"KTV201", 1.0012e-3, ":FETC? TEMP", "1.0012E-03,23.5"},
                      ReplyCase{"KTV201", 1.0012e-3, ":FETC? LIMit", nullptr},
                      ReplyCase{"XYZ999", 1.0012e-3, ":FETC?", "1.0012E-03"},
                      ReplyCase{"XYZ999", 1.0012e-3, ":READ?", "1.0012E-03"},
                      ReplyCase{"XYZ999", 1.0012e-3, "*IDN?", "ZORVA,XYZ999,A1234567,1.00"},
                      ReplyCase{"LYR102", 1.0012e-3, ":TRIGGER:SOURCE?", "IMM"},
                      ReplyCase{"LYR102", 1.0012e-3, "io:input?", "0"},
                      ReplyCase{"LYR102", 1.0012e-3, ":BOGUS?", nullptr}));

TEST(MeterSimulator, CommandsWithoutReplyAndBareLineEndsAreSilent) {
    MeterSimulator sim(FixedValue("KTV201"));
    ASSERT_TRUE(sim.Start());
    Client client(sim.PortName(), 9600);
    ASSERT_TRUE(client.Ok());
    for (const char* command :
         {"", ":SYST:COMM:FORM FIX", "SYST:COMM:DATA 0", ":init:cont on", ":trig:sour imm"}) {
        ASSERT_TRUE(client.Send(command));
        ASSERT_TRUE(sim.WaitForReceived(command, 3000)) << command;
    }
    EXPECT_TRUE(client.ReadFor(kSilenceMs).isEmpty());
    ASSERT_TRUE(client.Send("*idn?"));
    EXPECT_EQ(client.ReadLine(), "ZORVA,KTV201,A1234567,1.00\r\n");
}

TEST(MeterSimulator, ExternalSourceAnswersReadOnlyAfterTriggerAndAbortCancelsIt) {
    SimConfig config = FixedValue("LYR102");
    config.triggerSource = "EXT";
    MeterSimulator sim(config);
    ASSERT_TRUE(sim.Start());
    Client client(sim.PortName(), 9600);
    ASSERT_TRUE(client.Ok());

    ASSERT_TRUE(client.Send(":trig:sour?"));
    EXPECT_EQ(client.ReadLine(), "EXT\r\n");
    ASSERT_TRUE(client.Send(":READ? LIMit"));
    ASSERT_TRUE(sim.WaitForReceived(":READ? LIMit", 3000));
    EXPECT_TRUE(client.ReadFor(kSilenceMs).isEmpty());
    EXPECT_TRUE(sim.ReadPending());
    sim.Trigger();
    EXPECT_EQ(client.ReadLine(), "1.0012E-03,IN\r\n");
    EXPECT_FALSE(sim.ReadPending());

    ASSERT_TRUE(client.Send(":READ? LIMit"));
    ASSERT_TRUE(client.Send(":ABORt"));
    ASSERT_TRUE(sim.WaitForReceived(":ABORt", 3000));
    sim.Trigger();
    EXPECT_TRUE(client.ReadFor(kSilenceMs).isEmpty());
    EXPECT_FALSE(sim.ReadPending());
}

TEST(MeterSimulator, PeriodicTriggerAnswersPendingRead) {
    SimConfig config = FixedValue("KTV201");
    config.triggerSource = "EXT";
    config.triggerEveryMs = 50;
    MeterSimulator sim(config);
    ASSERT_TRUE(sim.Start());
    Client client(sim.PortName(), 9600);
    ASSERT_TRUE(client.Ok());
    ASSERT_TRUE(client.Send(":READ?;:CALC:LIM:RES?"));
    EXPECT_EQ(client.ReadLine(), "1.0012E-03;IN\r\n");
}

TEST(MeterSimulator, TriggerInputBitIsSetOnceAfterEachTrigger) {
    MeterSimulator sim;
    ASSERT_TRUE(sim.Start());
    Client client(sim.PortName(), 9600);
    ASSERT_TRUE(client.Ok());
    ASSERT_TRUE(client.Send("io:input?"));
    EXPECT_EQ(client.ReadLine(), "0\r\n");
    sim.Trigger();
    sim.Trigger();  // two triggers between polls still read as one event
    ASSERT_TRUE(client.Send("io:input?"));
    EXPECT_EQ(client.ReadLine(), "1\r\n");
    ASSERT_TRUE(client.Send("io:input?"));
    EXPECT_EQ(client.ReadLine(), "0\r\n");
}

TEST(MeterSimulator, FaultsShapeTheReplyBytes) {
    MeterSimulator sim(FixedValue("LYR102"));
    ASSERT_TRUE(sim.Start());
    Client client(sim.PortName(), 9600);
    ASSERT_TRUE(client.Ok());

    sim.SetLfBeforeCr(true);
    ASSERT_TRUE(client.Send(":FETC? LIMit"));
    EXPECT_EQ(client.ReadLine(), "1.0012E-03,IN\n\r");

    sim.SetLfBeforeCr(false);
    sim.SetGarbage(true);
    ASSERT_TRUE(client.Send(":FETC? LIMit"));
    EXPECT_EQ(client.ReadLine(), QByteArray("\xFF\x00\x80\xFE", 4) + "1.0012E-03,IN\r\n");

    // 15 bytes in chunks of 4 with 20 ms gaps: at least three gaps pass before the end.
    sim.SetGarbage(false);
    sim.SetChunkSize(4);
    const auto start = Clock::now();
    ASSERT_TRUE(client.Send(":FETC? LIMit"));
    EXPECT_EQ(client.ReadLine(), "1.0012E-03,IN\r\n");
    EXPECT_GE(Clock::now() - start, milliseconds(55));
    EXPECT_GE(client.Reads(), 3);

    sim.SetSilent(true);
    ASSERT_TRUE(client.Send("*idn?"));
    EXPECT_TRUE(client.ReadFor(kSilenceMs).isEmpty());
}

TEST(MeterSimulator, EndlessLineNeverEndsUntilTheNextCommand) {
    MeterSimulator sim(FixedValue("LYR102"));
    ASSERT_TRUE(sim.Start());
    Client client(sim.PortName(), 9600);
    ASSERT_TRUE(client.Ok());
    sim.SetEndlessLine(true);
    ASSERT_TRUE(client.Send(":FETC? LIMit"));
    const QByteArray flood = client.ReadFor(300);
    EXPECT_GT(flood.size(), 100);
    EXPECT_FALSE(flood.contains('\r') || flood.contains('\n'));
    sim.SetEndlessLine(false);
    ASSERT_TRUE(client.Send("*idn?"));
    // Digits already on their way may precede the answer; the line itself ends normally.
    EXPECT_TRUE(client.ReadLine().endsWith("ZORVA,LYR102,A1234567,1.00\r\n"));
}

TEST(MeterSimulator, PacedReplyTakesItsWireTime) {
    SimConfig config;
    config.pace = true;
    MeterSimulator sim(config);
    ASSERT_TRUE(sim.Start());
    Client client(sim.PortName(), 9600);
    ASSERT_TRUE(client.Ok());
    const auto start = Clock::now();
    ASSERT_TRUE(client.Send("*idn?"));
    // 28 bytes at 10 bits each: 29 ms on a 9600 baud wire.
    EXPECT_EQ(client.ReadLine(), "ZORVA,LYR102,A1234567,1.00\r\n");
    EXPECT_GE(Clock::now() - start, milliseconds(27));
}

TEST(MeterSimulator, ClientMayCloseAndReopenThePort) {
    MeterSimulator sim;
    ASSERT_TRUE(sim.Start());
    for (int i = 0; i < 3; ++i) {
        Client client(sim.PortName(), 9600);
        ASSERT_TRUE(client.Ok());
        ASSERT_TRUE(client.Send("*idn?"));
        EXPECT_EQ(client.ReadLine(), "ZORVA,LYR102,A1234567,1.00\r\n") << "open " << i;
    }
}

TEST(MeterSimulator, HangUpReachesTheClientAndLinkGoesAway) {
    auto sim = std::make_unique<MeterSimulator>();
    ASSERT_TRUE(sim->Start());
    const QByteArray link = QFile::encodeName(sim->PortName());
    ASSERT_EQ(::access(link.constData(), F_OK), 0);
    Client client(sim->PortName(), 9600);
    ASSERT_TRUE(client.Ok());

    sim->HangUp();
    pollfd p{client.Fd(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 3000), 1);
    EXPECT_TRUE(p.revents & POLLHUP);
    char byte = 0;
    EXPECT_LE(::read(client.Fd(), &byte, 1), 0);
    struct stat st {};
    EXPECT_NE(::lstat(link.constData(), &st), 0);

    sim.reset();  // after a hang-up the destructor has nothing left to undo

    auto other = std::make_unique<MeterSimulator>();
    ASSERT_TRUE(other->Start());
    const QByteArray otherLink = QFile::encodeName(other->PortName());
    EXPECT_NE(otherLink, link);
    ASSERT_EQ(::lstat(otherLink.constData(), &st), 0);
    other.reset();
    EXPECT_NE(::lstat(otherLink.constData(), &st), 0);
}

}  // namespace
}  // namespace lyr::sim
