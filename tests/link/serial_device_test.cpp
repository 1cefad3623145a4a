// The termios serial device on real pseudo-terminals.
#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <QByteArray>
#include <QString>

#include <array>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "platform/serial_device.h"
#include "support/port_holder_process.h"

namespace lyr {
namespace {

// A pty pair whose master plays the meter.
class PtyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        int master = -1;
        int slave = -1;
        std::array<char, 128> name{};
        ASSERT_EQ(::openpty(&master, &slave, name.data(), nullptr, nullptr), 0);
        master_.reset(master);
        // Keep a slave descriptor open, as the simulator does, so the master never sees hang-up
        // between the device's opens.
        slaveKeeper_.reset(slave);
        slavePath_ = QString::fromLatin1(name.data());
    }

    [[nodiscard]] std::uint32_t WaitForBytes(ISerialDevice& device, std::uint32_t expected) {
        std::uint32_t count = 0;
        for (int i = 0; i < 2000 && count < expected; ++i) {
            EXPECT_TRUE(device.bytesWaiting(count));
            if (count < expected) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return count;
    }

    FileDescriptor master_;
    FileDescriptor slaveKeeper_;
    QString slavePath_;
};

TEST_F(PtyTest, ConfigureSetsARawEightNoneOneLineAtEachMeterRate) {
    struct Case {
        std::uint32_t rate;
        speed_t speed;
    } const cases[] = {{9600, B9600}, {19200, B19200}, {38400, B38400}, {115200, B115200}};
    auto device = MakeTermiosSerialDevice();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rate);
        ASSERT_TRUE(device->open(slavePath_));
        ASSERT_TRUE(device->configure(c.rate));
        termios tio{};
        ASSERT_EQ(::tcgetattr(master_.get(), &tio), 0);
        EXPECT_EQ(::cfgetospeed(&tio), c.speed);
        EXPECT_EQ(::cfgetispeed(&tio), c.speed);
        EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
        EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS | HUPCL), 0u);
        EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
        EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL | INLCR | ISTRIP), 0u);
        EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
        EXPECT_EQ(tio.c_oflag & OPOST, 0u);
        EXPECT_EQ(tio.c_cc[VMIN], 0);
        EXPECT_EQ(tio.c_cc[VTIME], 0);
        device->close();
    }
}

TEST_F(PtyTest, ConfigureRefusesRatesTheMetersDoNotRun) {
    auto device = MakeTermiosSerialDevice();
    ASSERT_TRUE(device->open(slavePath_));
    for (const std::uint32_t rate : {0u, 1200u, 4800u, 57600u, 12345u, 230400u})
        EXPECT_FALSE(device->configure(rate)) << rate;
}

TEST_F(PtyTest, BytesPassBothWaysAndReadsNeverWait) {
    auto device = MakeTermiosSerialDevice();
    ASSERT_TRUE(device->open(slavePath_));
    ASSERT_TRUE(device->configure(9600));

    std::array<char, 16> buffer{};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(device->read(buffer), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));

    ASSERT_EQ(::write(master_.get(), "1.0,IN\r\n", 8), 8);
    ASSERT_EQ(WaitForBytes(*device, 8), 8u);
    ASSERT_EQ(device->read(std::span<char>(buffer.data(), 8)), 8);
    EXPECT_EQ(QByteArray(buffer.data(), 8), "1.0,IN\r\n");

    const QByteArray line("*idn?\r\n");
    ASSERT_TRUE(device->write(std::span<const char>(line.constData(), line.size())));
    std::array<char, 16> got{};
    ASSERT_EQ(::read(master_.get(), got.data(), got.size()), line.size());
    EXPECT_EQ(QByteArray(got.data(), line.size()), line);
}

TEST_F(PtyTest, PurgeDiscardsWaitingInput) {
    auto device = MakeTermiosSerialDevice();
    ASSERT_TRUE(device->open(slavePath_));
    ASSERT_TRUE(device->configure(9600));
    ASSERT_EQ(::write(master_.get(), "stale\r\n", 7), 7);
    ASSERT_EQ(WaitForBytes(*device, 7), 7u);
    EXPECT_TRUE(device->purge());
    std::uint32_t count = 99;
    EXPECT_TRUE(device->bytesWaiting(count));
    EXPECT_EQ(count, 0u);
}

TEST_F(PtyTest, PortHeldOpenByAnotherProcessFailsToOpen) {
    test::PortHolderProcess holder(slavePath_);
    ASSERT_TRUE(holder.Opened());

    auto device = MakeTermiosSerialDevice();
    EXPECT_FALSE(device->open(slavePath_));
    EXPECT_FALSE(device->isOpen());

    // Once the holder is gone the port opens, and closing clears the exclusive flag again.
    holder.Release();
    EXPECT_TRUE(device->open(slavePath_));
    device->close();
    EXPECT_TRUE(device->open(slavePath_));
}

TEST_F(PtyTest, SecondOpenInTheSameProcessFails) {
    auto first = MakeTermiosSerialDevice();
    auto second = MakeTermiosSerialDevice();
    ASSERT_TRUE(first->open(slavePath_));
    EXPECT_FALSE(second->open(slavePath_));
}

TEST(SerialDeviceTest, OnlyTerminalsOpen) {
    auto device = MakeTermiosSerialDevice();
    for (const char* path : {"/dev/null", "/nonexistent/ttyUSB0", ""}) {
        EXPECT_FALSE(device->open(QString::fromLatin1(path))) << path;
        EXPECT_FALSE(device->isOpen());
        std::uint32_t count = 0;
        EXPECT_FALSE(device->bytesWaiting(count));
        EXPECT_FALSE(device->configure(9600));
    }
}

}  // namespace
}  // namespace lyr

namespace lyr {
namespace {

TEST_F(PtyTest, WaitForInputWakesOnBytesTimesOutOnSilenceAndPacesAHungUpLine) {
    using Clock = std::chrono::steady_clock;
    auto device = MakeTermiosSerialDevice();
    ASSERT_TRUE(device->open(slavePath_));
    ASSERT_TRUE(device->configure(9600));

    Clock::time_point start = Clock::now();
    EXPECT_FALSE(device->waitForInput(50));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(40));

    std::thread meter([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        (void)!::write(master_.get(), "1.0,IN\r\n", 8);
    });
    start = Clock::now();
    EXPECT_TRUE(device->waitForInput(10000));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    meter.join();
    std::array<char, 16> scratch{};
    EXPECT_EQ(device->read(scratch), 8);

    // The meter's side goes away: poll would answer at once for ever, so every wait still
    // takes at least a millisecond instead of letting the caller spin.
    master_.reset();
    start = Clock::now();
    for (int i = 0; i < 50; ++i) EXPECT_FALSE(device->waitForInput(10000));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(50));
}

}  // namespace
}  // namespace lyr
