// The measurement thread against an in-memory meter whose replies each test writes.
#include <QByteArray>
#include <QString>

#include <map>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "meas_run.h"
#include "support/memory_serial_device.h"

namespace lyr::test {
namespace {

constexpr int WaitMs = 10000;

// A meter of family LYR that answers from a table; a command missing from it gets no answer.
class MemoryMeter {
  public:
    explicit MemoryMeter(std::map<QByteArray, QByteArray> replies) {
        auto device = std::make_unique<MemorySerialDevice>();
        this->device = device.get();
        device->setResponder([replies = std::move(replies)](const QByteArray& line, std::uint32_t) {
            const auto it = replies.find(line);
            return it == replies.end() ? QByteArray() : it->second + "\r\n";
        });
        run = std::make_unique<MeasRun>(std::move(device), "ttyMEM0", 9600);
    }

    MemorySerialDevice* device;  // owned by the link
    std::unique_ptr<MeasRun> run;
};

std::map<QByteArray, QByteArray> LyrReplies() {
    return {{"*idn?", "ZORVA,LYR102,A1234567,1.00"},
            {":trig:sour?", "IMM"},
            {":FETC? LIMit", "1.0012E-03,IN"},
            {":FETC:TEMP?", "23.5"}};
}

struct InputCase {
    const char* name;
    const char* reply;  // nullptr: no reply within the 5000 ms
    bool trigger;
};

class TriggerInput : public ::testing::TestWithParam<InputCase> {};

TEST_P(TriggerInput, ReplyReadAsHexadecimalCapturesWhenBitZeroIsSet) {
    std::map<QByteArray, QByteArray> replies = LyrReplies();
    if (GetParam().reply != nullptr) replies["io:input?"] = GetParam().reply;
    MemoryMeter meter(replies);
    MeasRun& run = *meter.run;
    run.acknowledge = false;  // one cycle: one poll, one reading
    run.Prepare(CaptureExtTrigger);
    ASSERT_EQ(run.Begin(), 0);
    ASSERT_TRUE(run.window.WaitForCount(WM_MEAS_READING, 1, WaitMs));
    const Message reading = run.Readings().front();
    EXPECT_EQ(reading.record.Index, 0u);
    EXPECT_EQ(reading.record.Captured, GetParam().trigger ? 1u : 0u);
    EXPECT_EQ(reading.record.Triggered, GetParam().trigger ? 1u : 0u);
    EXPECT_EQ(reading.text, QStringLiteral("1.0012E-03,IN"));
    (void)run.Stop();
    EXPECT_EQ(run.thread->ReadingCount, GetParam().trigger ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, TriggerInput,
    ::testing::Values(InputCase{"One", "1", true}, InputCase{"Three", "3", true},
                      InputCase{"HexPrefixOdd", "0x1F", true},
                      InputCase{"LowerCaseOddDigit", "b", true},
                      InputCase{"BlanksAndSign", "  +5", true}, InputCase{"MinusOne", "-1", true},
                      InputCase{"DigitsThenText", "7 ON", true}, InputCase{"Zero", "0", false},
                      InputCase{"Two", "2", false}, InputCase{"EvenHexDigit", "A", false},
                      InputCase{"HexPrefixEven", "0x10", false}, InputCase{"NoDigits", "ON", false},
                      InputCase{"EmptyLine", "", false}, InputCase{"NoReply", nullptr, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MeasThreadTexts, LongReadingAndTemperatureAreCutToTheirBuffers) {
    std::map<QByteArray, QByteArray> replies = LyrReplies();
    replies[":FETC? LIMit"] = "1.0012E-03," + QByteArray(200, 'J');
    replies[":FETC:TEMP?"] = QByteArray(100, '9');
    MemoryMeter meter(replies);
    MeasRun& run = *meter.run;
    run.Prepare(CaptureMonitor);
    run.thread->SaveTemp = true;
    ASSERT_EQ(run.Begin(), 0);
    ASSERT_TRUE(run.window.WaitForCount(WM_MEAS_READING, 1, WaitMs));
    (void)run.Stop();

    const Message reading = run.Readings().front();
    EXPECT_EQ(reading.text, ("1.0012E-03," + QString(200, 'J')).left(127));
    const Message temperature = run.window.Of(WM_MEAS_TEMPERATURE).front();
    EXPECT_EQ(temperature.text, QString(63, '9'));
}

TEST(MeasThreadTexts, ReadingMessageKeepsItsOwnCopyAfterTheThreadObjectIsDeleted) {
    MemoryMeter meter(LyrReplies());
    MeasRun& run = *meter.run;
    run.Prepare(CaptureMonitor);
    ASSERT_EQ(run.Begin(), 0);
    ASSERT_TRUE(run.window.WaitForCount(WM_MEAS_READING, 1, WaitMs));
    (void)run.Stop();
    const quint64 firstRun = run.thread->RunId;
    run.thread.reset();

    // A message that was still queued when its run ended: its parameters point into the payload
    // it owns, not into the deleted thread object.
    const Message late = run.Readings().front();
    ASSERT_TRUE(late.pointsIntoPayload);
    EXPECT_EQ(TextAt(late.wParam), QStringLiteral("1.0012E-03,IN"));
    EXPECT_EQ(reinterpret_cast<const ReadingRecord*>(late.lParam)->Captured, 0u);
    EXPECT_EQ(late.runId, firstRun);

    CMeasThread next(&run.window, run.link);
    EXPECT_NE(next.RunId, firstRun);
}

TEST(MeasThreadTexts, CopyTextCutsAndTerminates) {
    char16_t buffer[4];
    CopyText(buffer, QStringLiteral("abcdef"));
    EXPECT_EQ(QString::fromUtf16(buffer), QStringLiteral("abc"));
    CopyText(buffer, QString());
    EXPECT_EQ(buffer[0], u'\0');
    // A cut never leaves half a surrogate pair.
    CopyText(buffer, QStringLiteral("ab") + QString::fromUcs4(U"\U0001F600"));
    EXPECT_EQ(QString::fromUtf16(buffer), QStringLiteral("ab"));
}

}  // namespace
}  // namespace lyr::test
