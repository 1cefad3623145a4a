#include "record/text_log.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace lyr {
namespace {

const LocalTime kMay17 = {2024, 5, 17, 14, 3, 27};

struct Columns {
    bool index = false;
    bool date = false;
    bool time = false;
    bool judge = false;
    bool temp = false;
};

class TextLogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        view.m_clock = [this] {
            ++clockReads;
            return kMay17;
        };
        view.m_strValue = QStringLiteral("1.2345E-03");
        view.m_strJudge = QStringLiteral("IN");
        view.m_strTemperature = QStringLiteral("23.5");
    }

    QString LogPath() const { return dir.filePath(QStringLiteral("20240517140327.csv")); }

    QByteArray ReadLog() const {
        QFile f(LogPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    void Use(const Columns& c, int separator, int decimal) {
        CSettingData& s = view.m_settings;
        s.SaveDataIndex = c.index;
        s.SaveDate = c.date;
        s.SaveTime = c.time;
        s.SaveJudge = c.judge;
        s.SaveTemp = c.temp;
        s.Separator = separator;
        s.Decimal = decimal;
    }

    QTemporaryDir dir;
    CRecordView view;
    int clockReads = 0;
};

TEST_F(TextLogTest, LineHoldsTheChosenColumnsWithSeparatorAndDecimalMark) {
    struct Case {
        Columns columns;
        int separator;
        int decimal;
        const char* value;
        const char* judge;
        const char* temperature;
        const char* line;
    } const cases[] = {
        {{true, true, true, true, false},
         0,
         0,
         "1.2345E-03",
         "IN",
         "23.5",
         "1,2024-05-17,14:03:27,1.2345E-03,IN"},
        {{true, true, true, true, true},
         1,
         1,
         "1.2345E-03",
         "IN",
         "23.5",
         "1;2024-05-17;14:03:27;1,2345E-03;IN;23,5"},
        {{false, false, true, false, true},
         3,
         0,
         "1.2345E-03",
         "IN",
         "23.5",
         "14:03:27 1.2345E-03 23.5"},
        {{}, 2, 0, "1.2345E-03", "IN", "23.5", "1.2345E-03"},
        // Decimal comma changes value and temperature only, and is not reconciled with
        // separator 0.
        {{true, true, true, false, true},
         0,
         1,
         "1.5",
         "HI",
         "20.25",
         "1,2024-05-17,14:03:27,1,5,20,25"},
        {{false, false, false, false, true}, 2, 0, "1.5", "HI", "20.25", "1.5\t20.25"},
        // Empty texts keep their fields, so the columns stay aligned.
        {{true, false, false, true, true}, 0, 0, "", "", "", "1,,,"},
        {{false, false, false, true, true}, 1, 0, "9.9", "", "", "9.9;;"},
        // Every separator other than 0, 1 and 3 acts as TAB.
        {{true, false, false, true, false}, 7, 0, "1.5", "LO", "", "1\t1.5\tLO"},
        {{true, false, false, true, false}, -1, 0, "1.5", "LO", "", "1\t1.5\tLO"},
        // Decimal values other than 1 keep the period.
        {{false, false, false, false, true}, 3, 2, "1.5", "", "2.5", "1.5 2.5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        ASSERT_TRUE(QFile::remove(LogPath()) || !QFile::exists(LogPath()));
        Use(c.columns, c.separator, c.decimal);
        view.m_strValue = QString::fromUtf8(c.value);
        view.m_strJudge = QString::fromUtf8(c.judge);
        view.m_strTemperature = QString::fromUtf8(c.temperature);
        clockReads = 0;
        ASSERT_TRUE(view.OpenLogFile(LogPath()));
        EXPECT_TRUE(view.WriteTextRecord(0));
        view.CloseLogFile();
        EXPECT_EQ(ReadLog(), QByteArray(c.line) + "\r\n");
        EXPECT_EQ(clockReads, c.columns.date || c.columns.time ? 1 : 0);
    }
}

TEST_F(TextLogTest, ReadingNumberIsShownPlusOne) {
    Use({true, false, false, false, false}, 0, 0);
    ASSERT_TRUE(view.OpenLogFile(LogPath()));
    for (const int index : {0, 1, 41, 2147483647}) EXPECT_TRUE(view.WriteTextRecord(index));
    view.CloseLogFile();
    EXPECT_EQ(ReadLog(), QByteArray("1,1.2345E-03\r\n2,1.2345E-03\r\n42,1.2345E-03\r\n"
                                    "2147483648,1.2345E-03\r\n"));
}

TEST(SeparatorTest, ReplacesEveryTabByTheChosenCharacter) {
    const QString line = QStringLiteral("a\tb\t\tc\n");
    EXPECT_EQ(ApplySeparator(line, 0), QStringLiteral("a,b,,c\n"));
    EXPECT_EQ(ApplySeparator(line, 1), QStringLiteral("a;b;;c\n"));
    EXPECT_EQ(ApplySeparator(line, 2), line);
    EXPECT_EQ(ApplySeparator(line, 3), QStringLiteral("a b  c\n"));
    EXPECT_EQ(ApplySeparator(line, 4), line);
    EXPECT_EQ(ApplyDecimalPoint(QStringLiteral("1.2.3"), 1), QStringLiteral("1,2,3"));
    EXPECT_EQ(ApplyDecimalPoint(QStringLiteral("1.2.3"), 0), QStringLiteral("1.2.3"));
}

TEST_F(TextLogTest, WithoutOpenFileTheRecordSucceedsAndWritesNothing) {
    EXPECT_TRUE(view.WriteTextRecord(0));
    EXPECT_FALSE(QFile::exists(LogPath()));
}

TEST_F(TextLogTest, RunsAppendToTheFileAndNeverTruncateIt) {
    {
        QFile f(LogPath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("earlier\r\n");
    }
    Use({true, false, false, false, false}, 0, 0);
    for (int run = 0; run < 2; ++run) {
        ASSERT_TRUE(view.OpenLogFile(LogPath()));
        EXPECT_TRUE(view.WriteTextRecord(0));
        EXPECT_TRUE(view.WriteTextRecord(1));
        view.CloseLogFile();
        EXPECT_FALSE(view.m_pLogFile);
    }
    EXPECT_EQ(ReadLog(), QByteArray("earlier\r\n1,1.2345E-03\r\n2,1.2345E-03\r\n"
                                    "1,1.2345E-03\r\n2,1.2345E-03\r\n"));
}

TEST_F(TextLogTest, CharacterAboveLatin1FailsTheWriteAndKeepsEarlierLines) {
    Use({}, 0, 0);
    ASSERT_TRUE(view.OpenLogFile(LogPath()));
    view.m_strValue = QStringLiteral("12.5\u00b5");  // micro sign: one byte, 0xB5
    EXPECT_TRUE(view.WriteTextRecord(0));
    view.m_strValue = QStringLiteral("12.5\u03a9");  // Greek omega: no byte for it
    EXPECT_FALSE(view.WriteTextRecord(1));
    view.CloseLogFile();
    EXPECT_EQ(ReadLog(), QByteArray("12.5\xB5\r\n"));
}

TEST_F(TextLogTest, FullDeviceFailsTheWrite) {
    if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    ASSERT_TRUE(view.OpenLogFile(QStringLiteral("/dev/full")));
    EXPECT_FALSE(view.WriteTextRecord(0));
    view.CloseLogFile();
}

TEST_F(TextLogTest, WriteFailureLosesOnlyThatLineAndKeepsEarlierLinesWhole) {
    Use({true, false, false, false, false}, 0, 0);
    // "n,1.2345E-03\r\n" is 14 bytes for n < 10; the limit falls inside the fourth line.
    constexpr rlim_t kLimit = 3 * 14 + 5;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);  // the write then fails with EFBIG instead of killing us
        const rlimit limit{kLimit, kLimit};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(100);
        if (!view.OpenLogFile(LogPath())) ::_exit(101);
        int written = 0;
        while (written < 9 && view.WriteTextRecord(written)) ++written;
        ::_exit(written);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
    EXPECT_EQ(ReadLog(), QByteArray("1,1.2345E-03\r\n2,1.2345E-03\r\n3,1.2345E-03\r\n"));
}

TEST_F(TextLogTest, OpenFailsWhenTheFolderIsMissing) {
    EXPECT_FALSE(view.OpenLogFile(dir.filePath(QStringLiteral("no/such/folder/log.csv"))));
    EXPECT_FALSE(view.m_pLogFile);
}

// Holds `path` locked in a child process until the returned pipe end is closed.
pid_t HoldLockedInChild(const QString& path, bool recordLock, int* release) {
    int ready[2];
    int hold[2];
    if (::pipe(ready) != 0 || ::pipe(hold) != 0) return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(ready[0]);
        ::close(hold[1]);
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT, 0644);
        bool locked = fd >= 0;
        if (locked && recordLock) {
            struct flock whole {};
            whole.l_type = F_WRLCK;
            whole.l_whence = SEEK_SET;
            locked = ::fcntl(fd, F_SETLK, &whole) == 0;
        } else if (locked) {
            locked = ::flock(fd, LOCK_EX) == 0;
        }
        const char answer = locked ? 'L' : 'E';
        [[maybe_unused]] ssize_t n = ::write(ready[1], &answer, 1);
        char c;
        n = ::read(hold[0], &c, 1);  // returns when the parent closes its end
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(hold[0]);
    char answer = 'E';
    if (::read(ready[0], &answer, 1) != 1 || answer != 'L') answer = 'E';
    ::close(ready[0]);
    *release = hold[1];
    return answer == 'L' ? child : -1;
}

TEST_F(TextLogTest, FileLockedByAnotherProcessFailsToOpenUntilReleased) {
    for (const bool recordLock : {false, true}) {
        SCOPED_TRACE(recordLock ? "fcntl lock" : "flock");
        int release = -1;
        const pid_t holder = HoldLockedInChild(LogPath(), recordLock, &release);
        ASSERT_GT(holder, 0);
        EXPECT_FALSE(view.OpenLogFile(LogPath()));
        EXPECT_FALSE(view.m_pLogFile);
        ::close(release);
        int status = 0;
        ASSERT_EQ(::waitpid(holder, &status, 0), holder);
        EXPECT_TRUE(view.OpenLogFile(LogPath()));
        view.CloseLogFile();
    }
}

TEST_F(TextLogTest, SecondOpenOfTheSameFileFailsWhileTheFirstHoldsIt) {
    ASSERT_TRUE(view.OpenLogFile(LogPath()));
    CRecordView other;
    EXPECT_FALSE(other.OpenLogFile(LogPath()));
    view.CloseLogFile();
    EXPECT_TRUE(other.OpenLogFile(LogPath()));
}

TEST_F(TextLogTest, LinesWrittenBeforeAKillAreInTheFile) {
    Use({true, false, false, false, false}, 0, 0);
    int acks[2];
    ASSERT_EQ(::pipe(acks), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(acks[0]);
        if (!view.OpenLogFile(LogPath())) ::_exit(1);
        // Acknowledge each line once WriteTextRecord has returned, then go on until killed.
        for (int i = 0;; ++i) {
            if (!view.WriteTextRecord(i)) ::_exit(2);
            const char ack = 'w';
            if (::write(acks[1], &ack, 1) != 1) ::_exit(3);
        }
    }
    ::close(acks[1]);
    int acknowledged = 0;
    char buffer[64];
    while (acknowledged < 500) {
        const ssize_t n = ::read(acks[0], buffer, sizeof buffer);
        if (n <= 0) break;
        acknowledged += static_cast<int>(n);
    }
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    for (ssize_t n; (n = ::read(acks[0], buffer, sizeof buffer)) > 0;) {
        acknowledged += static_cast<int>(n);
    }
    ::close(acks[0]);
    ASSERT_GE(acknowledged, 500);

    const QList<QByteArray> lines = ReadLog().split('\n');
    ASSERT_GE(lines.size(), acknowledged);
    for (int i = 0; i < acknowledged; ++i) {
        ASSERT_EQ(lines.at(i), QByteArray::number(i + 1) + ",1.2345E-03\r") << "line " << i + 1;
    }
}

}  // namespace
}  // namespace lyr
