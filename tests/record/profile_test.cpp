#include "record/profile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "support/settings_file_fixture.h"

namespace lyr {
namespace {

using ProfileTest = test::SettingsFileTest;

struct EditCase {
    const char* name;
    QByteArray before;
    const char* section;
    const char* key;
    const char* value;
    QByteArray after;
};

class ProfileEditTest : public ProfileTest, public ::testing::WithParamInterface<EditCase> {};

TEST_P(ProfileEditTest, WriteChangesOnlyTheKeyAndKeepsEveryOtherLine) {
    const EditCase& c = GetParam();
    if (!c.before.isNull()) WriteFile(c.before);
    CIniProfile profile(FilePath());
    ASSERT_TRUE(profile.WriteProfileString(QString::fromUtf8(c.section), QString::fromUtf8(c.key),
                                           QString::fromUtf8(c.value)));
    EXPECT_EQ(ReadFile(), c.after);
    EXPECT_EQ(profile.GetProfileString(QString::fromUtf8(c.section), QString::fromUtf8(c.key)),
              QString::fromUtf8(c.value));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProfileEditTest,
    ::testing::Values(
        EditCase{"AbsentFileIsCreated", QByteArray(), "COMM", "ComNo", "ttyUSB0",
                 "[COMM]\nComNo=ttyUSB0\n"},
        EditCase{"KeyReplacedInPlaceKeepingItsSpelling",
                 "; settings\n[comm]\ncomno = COM3\nBaudRate=9600\n", "COMM", "ComNo", "ttyUSB0",
                 "; settings\n[comm]\ncomno=ttyUSB0\nBaudRate=9600\n"},
        EditCase{"MissingKeyGoesAfterTheLastKeyOfItsSection",
                 "[COMM]\nComNo=a\n\n[SAVE]\nSaveDate=1\n", "comm", "BaudRate", "19200",
                 "[COMM]\nComNo=a\nBaudRate=19200\n\n[SAVE]\nSaveDate=1\n"},
        EditCase{"MissingKeyOfEmptySectionGoesUnderItsHeader", "[COMM]\n[SAVE]\nSaveDate=1\n",
                 "COMM", "ComNo", "x", "[COMM]\nComNo=x\n[SAVE]\nSaveDate=1\n"},
        EditCase{"MissingSectionGoesAtTheEnd", "[COMM]\nComNo=a", "FILTER", "FilterTime", "100",
                 "[COMM]\nComNo=a\n[FILTER]\nFilterTime=100\n"},
        EditCase{"CommentsAndUnknownKeysStay",
                 "# head\n[FILE_TYPE]\n; FileDir=/old\nOther=1\nFileDir=/a\n[X]\nY=2\n",
                 "FILE_TYPE", "FileDir", "/b",
                 "# head\n[FILE_TYPE]\n; FileDir=/old\nOther=1\nFileDir=/b\n[X]\nY=2\n"},
        EditCase{"OnlyTheFirstOfTwoSameSectionsIsUsed", "[A]\nK=1\n[B]\n[a]\nK=2\n", "A", "K", "3",
                 "[A]\nK=3\n[B]\n[a]\nK=2\n"},
        EditCase{"CrLfFileStaysCrLf", "[COMM]\r\nComNo=a\r\n", "COMM", "BaudRate", "9600",
                 "[COMM]\r\nComNo=a\r\nBaudRate=9600\r\n"},
        EditCase{"MixedLineEndsEachStay", "[COMM]\nComNo=a\r\r\nX=1\r\n[SAVE]\r\nS=1", "COMM",
                 "BaudRate", "9600", "[COMM]\nComNo=a\r\r\nX=1\r\nBaudRate=9600\n[SAVE]\r\nS=1\n"},
        EditCase{"ByteOrderMarkAndForeignBytesStay", "\xEF\xBB\xBF[A]\nraw=\xFF\xFE\nK=1\n", "A",
                 "K", "2", "\xEF\xBB\xBF[A]\nraw=\xFF\xFE\nK=2\n"},
        EditCase{"Utf8ValueWrittenAsUtf8", "[FILE_TYPE]\n", "FILE_TYPE", "FileDir",
                 "/home/j\xC3\xB6rg/Messwerte",
                 "[FILE_TYPE]\nFileDir=/home/j\xC3\xB6rg/Messwerte\n"}),
    [](const ::testing::TestParamInfo<EditCase>& info) { return std::string(info.param.name); });

TEST_F(ProfileTest, NamesAndValuesStartingWithByteOrderMarkCharacterReadBack) {
    const QString mark(QChar(0xFEFF));
    CIniProfile profile(FilePath());
    for (const char* value : {"first", "second"}) {
        ASSERT_TRUE(profile.WriteProfileString(mark + QStringLiteral("SEC"), mark + u'K',
                                               mark + QLatin1String(value)));
    }
    EXPECT_EQ(profile.GetProfileString(mark + QStringLiteral("SEC"), mark + u'K'),
              mark + QStringLiteral("second"));
    EXPECT_EQ(ReadFile(), "[\xEF\xBB\xBFSEC]\n\xEF\xBB\xBFK=\xEF\xBB\xBFsecond\n");
}

TEST_F(ProfileTest, ReadsKeysWithoutRegardToCaseAndTrimsBlanks) {
    WriteFile("[file_type]\n  fileDIR =  /data/logs  \n");
    CIniProfile profile(FilePath());
    EXPECT_EQ(profile.GetProfileString(QStringLiteral("FILE_TYPE"), QStringLiteral("FileDir")),
              QStringLiteral("/data/logs"));
    EXPECT_EQ(profile.GetProfileString(QStringLiteral("FILE_TYPE"), QStringLiteral("Missing"),
                                       QStringLiteral("dflt")),
              QStringLiteral("dflt"));
    EXPECT_EQ(profile.GetProfileString(QStringLiteral("OTHER"), QStringLiteral("FileDir"),
                                       QStringLiteral("dflt")),
              QStringLiteral("dflt"));
}

TEST_F(ProfileTest, StringValuesAreCutAt4095Characters) {
    WriteFile("[A]\nK=" + QByteArray(5000, 'x') + "\n");
    CIniProfile profile(FilePath());
    EXPECT_EQ(profile.GetProfileString(QStringLiteral("A"), QStringLiteral("K")).size(), 4095);
}

TEST_F(ProfileTest, NonNumericAndHugeIntegersReadWithoutOverflow) {
    struct Case {
        const char* value;
        int expected;
    } const cases[] = {
        {"42", 42},
        {"-7", -7},
        {"+5", 5},
        {"12abc", 12},
        {"abc", 0},
        {"0x10", 0},
        {"1.9", 1},
        {"-", 0},
        {"2147483647", INT_MAX},
        {"-2147483648", INT_MIN},
        {"99999999999999999999999", INT_MAX},
        {"-99999999999999999999999", INT_MIN},
        {"", 77},  // an empty value counts as missing
    };
    CIniProfile profile(FilePath());
    for (const Case& c : cases) {
        WriteFile(QByteArray("[A]\nK=") + c.value + "\n");
        EXPECT_EQ(profile.GetProfileInt(QStringLiteral("A"), QStringLiteral("K"), 77), c.expected)
            << "value \"" << c.value << "\"";
    }
}

TEST_F(ProfileTest, AbsentFileGivesDefaults) {
    CIniProfile profile(FilePath());
    EXPECT_EQ(profile.GetProfileInt(QStringLiteral("A"), QStringLiteral("K"), 5), 5);
    EXPECT_EQ(
        profile.GetProfileString(QStringLiteral("A"), QStringLiteral("K"), QStringLiteral("d")),
        QStringLiteral("d"));
}

TEST_F(ProfileTest, WriteLeavesNoTemporaryFileAndKeepsPermissions) {
    WriteFile("[A]\nK=1\n");
    ASSERT_EQ(::chmod(QFile::encodeName(FilePath()).constData(), 0600), 0);
    CIniProfile profile(FilePath());
    ASSERT_TRUE(profile.WriteProfileInt(QStringLiteral("A"), QStringLiteral("K"), -12));
    EXPECT_EQ(ReadFile(), QByteArray("[A]\nK=-12\n"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files),
              QStringList{QStringLiteral("LyrSample.ini")});
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(FilePath()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST_F(ProfileTest, WriteThroughSymbolicLinkReplacesTheLinkedFile) {
    const QString real = dir.filePath(QStringLiteral("real.ini"));
    const QString link = dir.filePath(QStringLiteral("link.ini"));
    {
        QFile f(real);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[A]\nK=1\n");
    }
    ASSERT_TRUE(QFile::link(real, link));
    CIniProfile profile(link);
    ASSERT_TRUE(profile.WriteProfileInt(QStringLiteral("A"), QStringLiteral("K"), 2));
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    QFile f(real);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("[A]\nK=2\n"));
}

TEST_F(ProfileTest, RefusedWritesLeaveTheFileUnchanged) {
    const QByteArray before("[A]\nK=1\n");
    WriteFile(before);
    CIniProfile profile(FilePath());
    // A line break in a value or name would split its line and corrupt the file.
    EXPECT_FALSE(profile.WriteProfileString(QStringLiteral("A"), QStringLiteral("K"),
                                            QStringLiteral("a\nB=2")));
    EXPECT_FALSE(profile.WriteProfileString(QStringLiteral("A"), QStringLiteral("K\r"),
                                            QStringLiteral("x")));
    EXPECT_FALSE(
        profile.WriteProfileString(QStringLiteral("A]"), QStringLiteral("K"), QStringLiteral("x")));
    EXPECT_FALSE(profile.WriteProfileString(QStringLiteral("A"), QStringLiteral("K=L"),
                                            QStringLiteral("x")));
    EXPECT_FALSE(CIniProfile().WriteProfileInt(QStringLiteral("A"), QStringLiteral("K"), 1));

    ASSERT_EQ(::chmod(QFile::encodeName(FilePath()).constData(), 0444), 0);
    EXPECT_FALSE(profile.WriteProfileInt(QStringLiteral("A"), QStringLiteral("K"), 2));
    EXPECT_EQ(ReadFile(), before);
}

TEST_F(ProfileTest, WriteCreatesTheMissingSettingsFolder) {
    const QString nested = dir.filePath(QStringLiteral("config/LyrLogger/LyrSample.ini"));
    CIniProfile profile(nested);
    ASSERT_TRUE(profile.WriteProfileInt(QStringLiteral("A"), QStringLiteral("K"), 1));
    EXPECT_EQ(profile.GetProfileInt(QStringLiteral("A"), QStringLiteral("K"), 0), 1);
}

}  // namespace
}  // namespace lyr
