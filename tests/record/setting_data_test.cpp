#include "record/setting_data.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "support/settings_file_fixture.h"

#include "support/recording_message_box.h"

namespace lyr {
namespace {

class SettingDataTest : public test::SettingsFileTest {
  protected:
    CSettingData Loaded() const {
        CSettingData settings(FilePath());
        settings.Load();
        return settings;
    }

    test::RecordingMessageBox box;
};

TEST_F(SettingDataTest, AbsentFileGivesDefaultsAndSaveCreatesAllKeysInSaveOrder) {
    CSettingData settings = Loaded();
    EXPECT_EQ(settings.ComNo, QStringLiteral("ttyS0"));
    EXPECT_EQ(settings.BaudRate, 9600);
    EXPECT_TRUE(settings.SaveDataIndex);
    EXPECT_TRUE(settings.SaveDate);
    EXPECT_TRUE(settings.SaveTime);
    EXPECT_TRUE(settings.SaveJudge);
    EXPECT_FALSE(settings.SaveTemp);
    EXPECT_FALSE(settings.FilterEnable);
    EXPECT_EQ(settings.FilterTime, 100);
    EXPECT_EQ(settings.CsvEnable, 1);
    EXPECT_EQ(settings.FileDir, DefaultLogDirectory());
    EXPECT_EQ(settings.FileExtension, QStringLiteral("csv"));
    EXPECT_EQ(settings.Decimal, 0);
    EXPECT_EQ(settings.Separator, 0);
    EXPECT_EQ(settings.LogType, 0);
    EXPECT_EQ(settings.LogInterval, 0);
    EXPECT_EQ(settings.LogLimit, 1);
    EXPECT_FALSE(settings.GetCompRes);

    settings.FileDir = QStringLiteral("/logs");
    ASSERT_TRUE(settings.Save());
    EXPECT_EQ(ReadFile(),
              QByteArray("[COMM]\nComNo=ttyS0\nBaudRate=9600\n"
                         "[SAVE]\nSaveDataIndex=1\nSaveDate=1\nSaveTime=1\nSaveJudge=1\n"
                         "SaveTemp=0\n"
                         "[FILTER]\nFilterEnable=0\nFilterTime=100\n"
                         "[FILE_TYPE]\nDecimal=0\nSeparator=0\nCsvEnable=1\n"
                         "FileDir=/logs\nFileExtension=csv\n"
                         "[LOG_TYPE]\nLogType=0\nLogInterval=0\nLogLimit=1\n"
                         "GetCompRes=0\n"));
    EXPECT_TRUE(box.shown.isEmpty());
}

TEST_F(SettingDataTest, LoadFoldsFlagsChecksTheExtensionAndKeepsOtherValuesAsRead) {
    struct Case {
        const char* ini;
        std::function<void(const CSettingData&)> check;
    } const cases[] = {
        {"[FILE_TYPE]\nFileExtension=CSV\n",
         [](const CSettingData& s) { EXPECT_EQ(s.FileExtension, QStringLiteral("csv")); }},
        {"[FILE_TYPE]\nFileExtension=\n",
         [](const CSettingData& s) { EXPECT_EQ(s.FileExtension, QStringLiteral("csv")); }},
        {"[FILE_TYPE]\nFileExtension=txt\n",
         [](const CSettingData& s) { EXPECT_EQ(s.FileExtension, QStringLiteral("txt")); }},
        {"[FILE_TYPE]\nFileExtension=dat\n",
         [](const CSettingData& s) { EXPECT_EQ(s.FileExtension, QStringLiteral("dat")); }},
        {"[FILE_TYPE]\nFileExtension=old/log\n",
         [](const CSettingData& s) { EXPECT_EQ(s.FileExtension, QStringLiteral("csv")); }},
        {"[SAVE]\nSaveDate=5\nSaveTemp=0\nSaveJudge=-1\n",
         [](const CSettingData& s) {
             EXPECT_TRUE(s.SaveDate);
             EXPECT_FALSE(s.SaveTemp);
             EXPECT_TRUE(s.SaveJudge);
         }},
        {"[COMM]\nBaudRate=12345\n[FILE_TYPE]\nSeparator=7\n[LOG_TYPE]\nLogLimit=0\n",
         [](const CSettingData& s) {
             EXPECT_EQ(s.BaudRate, 12345);
             EXPECT_EQ(s.Separator, 7);
             EXPECT_EQ(s.LogLimit, 0);
         }},
        {"[FILE_TYPE]\nDecimal=1\n",
         [](const CSettingData& s) { EXPECT_EQ(s.CsvEnable, 1); }},  // CsvEnable absent
        {"[file_type]\ncsvenable=0\nfiledir=/home/j\xC3\xB6rg\n[Comm]\nCOMNO=/tmp/ports/meter1\n",
         [](const CSettingData& s) {
             EXPECT_EQ(s.CsvEnable, 0);
             EXPECT_EQ(s.FileDir, QStringLiteral("/home/j\u00f6rg"));
             EXPECT_EQ(s.ComNo, QStringLiteral("/tmp/ports/meter1"));
         }},
        {"[FILTER]\nFilterTime=fast\n[LOG_TYPE]\nLogInterval=25s\n",
         [](const CSettingData& s) {
             EXPECT_EQ(s.FilterTime, 0);
             EXPECT_EQ(s.LogInterval, 25);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ini);
        WriteFile(c.ini);
        c.check(Loaded());
    }
    EXPECT_TRUE(box.shown.isEmpty());
}

TEST_F(SettingDataTest, SavedRecordReadsBackUnchanged) {
    CSettingData saved(FilePath());
    saved.ComNo = QStringLiteral("ttyUSB1");
    saved.BaudRate = 115200;
    saved.SaveDataIndex = false;
    saved.SaveDate = true;
    saved.SaveTime = false;
    saved.SaveJudge = false;
    saved.SaveTemp = true;
    saved.FilterEnable = true;
    saved.FilterTime = 250;
    saved.CsvEnable = 0;
    saved.FileDir = QStringLiteral("/home/j\u00f6rg/Messwerte 2024");
    saved.FileExtension = QStringLiteral("dat");
    saved.Decimal = 1;
    saved.Separator = 3;
    saved.LogType = 2;
    saved.LogInterval = 23;
    saved.LogLimit = 500;
    saved.GetCompRes = true;
    ASSERT_TRUE(saved.Save());

    const CSettingData loaded = Loaded();
    EXPECT_EQ(loaded.ComNo, saved.ComNo);
    EXPECT_EQ(loaded.BaudRate, saved.BaudRate);
    EXPECT_EQ(loaded.SaveDataIndex, saved.SaveDataIndex);
    EXPECT_EQ(loaded.SaveDate, saved.SaveDate);
    EXPECT_EQ(loaded.SaveTime, saved.SaveTime);
    EXPECT_EQ(loaded.SaveJudge, saved.SaveJudge);
    EXPECT_EQ(loaded.SaveTemp, saved.SaveTemp);
    EXPECT_EQ(loaded.FilterEnable, saved.FilterEnable);
    EXPECT_EQ(loaded.FilterTime, saved.FilterTime);
    EXPECT_EQ(loaded.CsvEnable, saved.CsvEnable);
    EXPECT_EQ(loaded.FileDir, saved.FileDir);
    EXPECT_EQ(loaded.FileExtension, saved.FileExtension);
    EXPECT_EQ(loaded.Decimal, saved.Decimal);
    EXPECT_EQ(loaded.Separator, saved.Separator);
    EXPECT_EQ(loaded.LogType, saved.LogType);
    EXPECT_EQ(loaded.LogInterval, saved.LogInterval);
    EXPECT_EQ(loaded.LogLimit, saved.LogLimit);
    EXPECT_EQ(loaded.GetCompRes, saved.GetCompRes);
}

TEST_F(SettingDataTest, SaveKeepsCommentsUnknownKeysAndLetterCase) {
    WriteFile(
        "; LyrLogger settings\n[comm]\ncomno=ttyS3\nPortLabel=bench 2\n\n"
        "[Vendor]\nColour=blue\n");
    CSettingData settings = Loaded();
    settings.ComNo = QStringLiteral("ttyUSB0");
    ASSERT_TRUE(settings.Save());
    const QByteArray after = ReadFile();
    EXPECT_TRUE(
        after.startsWith("; LyrLogger settings\n[comm]\ncomno=ttyUSB0\nPortLabel=bench 2\n"
                         "BaudRate=9600\n\n[Vendor]\nColour=blue\n[SAVE]\n"))
        << after.constData();
}

TEST_F(SettingDataTest, ReadOnlyFileShowsSaveFailureOnceAndStaysUnchanged) {
    WriteFile("[COMM]\nComNo=ttyS1\n");
    const QByteArray before = ReadFile();
    ASSERT_EQ(::chmod(QFile::encodeName(FilePath()).constData(), 0444), 0);
    CSettingData settings = Loaded();
    settings.ComNo = QStringLiteral("ttyUSB0");
    EXPECT_FALSE(settings.Save());
    EXPECT_EQ(box.Texts(), QStringList{QStringLiteral("Failed to save settings.")});
    EXPECT_EQ(box.shown.first().type, MB_OK);
    EXPECT_EQ(ReadFile(), before);
}

TEST_F(SettingDataTest, ReadOnlyDirectoryShowsSaveFailureOnce) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only directories";
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0555), 0);
    CSettingData settings = Loaded();
    EXPECT_FALSE(settings.Save());
    ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
    EXPECT_EQ(box.Texts(), QStringList{QStringLiteral("Failed to save settings.")});
    EXPECT_FALSE(QFile::exists(FilePath()));
}

TEST_F(SettingDataTest, FirstRefusedWriteEndsSaveAndKeepsEarlierKeys) {
    CSettingData settings = Loaded();
    // A line break cannot be stored in an INI value: the write of FileDir (13th) is refused.
    settings.FileDir = QStringLiteral("/logs\nevil=1");
    settings.Separator = 2;
    settings.LogType = 1;
    EXPECT_FALSE(settings.Save());
    EXPECT_EQ(box.Texts(), QStringList{QStringLiteral("Failed to save settings.")});
    const QByteArray after = ReadFile();
    EXPECT_TRUE(after.endsWith("[FILE_TYPE]\nDecimal=0\nSeparator=2\nCsvEnable=1\n"))
        << after.constData();
    EXPECT_FALSE(after.contains("LOG_TYPE"));
    EXPECT_FALSE(after.contains("evil"));
}

TEST_F(SettingDataTest, UnavailableProfileShowsEachMessageAndLeavesTheRecord) {
    CSettingData settings{QString()};
    settings.ComNo = QStringLiteral("keep");
    settings.Load();
    EXPECT_EQ(settings.ComNo, QStringLiteral("keep"));
    EXPECT_FALSE(settings.Save());
    EXPECT_EQ(box.Texts(), (QStringList{QStringLiteral("Failed to load settings."),
                                        QStringLiteral("Failed to save settings.")}));
}

TEST(PathFunctionsTest, SplitAtTheLastSlashAndTheLastPeriod) {
    struct Case {
        const char* path;
        const char* directory;
        const char* fileName;
        const char* extension;
    } const cases[] = {
        {"/logs/run.csv", "/logs", "run.csv", "csv"},
        {"run.csv", "", "", "csv"},
        {"/logs/run", "/logs", "run", ""},
        {"/data.old/log", "/data.old", "log", "old/log"},
        {"/run.csv", "", "run.csv", "csv"},
        {"/logs/", "/logs", "", ""},
        {"", "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const QString path = QString::fromUtf8(c.path);
        EXPECT_EQ(GetPathDirectory(path), QString::fromUtf8(c.directory));
        EXPECT_EQ(GetPathFileName(path), QString::fromUtf8(c.fileName));
        EXPECT_EQ(GetPathExtension(path), QString::fromUtf8(c.extension));
    }
}

TEST(PathFunctionsTest, ExeDirectoryIsTheFolderOfTheRunningProgram) {
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe");
    EXPECT_EQ(GetExeDirectory(), QString::fromStdString(exe.parent_path().string()));
}

// Sets an environment variable for one test and restores it afterwards.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const QByteArray& value) : m_name(name) {
        if (const char* old = std::getenv(name)) m_old = old;
        if (value.isNull()) {
            ::unsetenv(name);
        } else {
            ::setenv(name, value.constData(), 1);
        }
    }
    ~ScopedEnv() {
        if (m_old.isNull()) {
            ::unsetenv(m_name);
        } else {
            ::setenv(m_name, m_old.constData(), 1);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    const char* m_name;
    QByteArray m_old;
};

TEST(SettingsLocationTest, ProgramDirectoryWhenWritableOrHoldingTheFileElseUserConfig) {
    QTemporaryDir program;
    QTemporaryDir home;
    ASSERT_TRUE(program.isValid() && home.isValid());
    const QString missing = program.filePath(QStringLiteral("not-there"));
    {
        ScopedEnv config("XDG_CONFIG_HOME",
                         QFile::encodeName(home.filePath(QStringLiteral("cfg"))));
        EXPECT_EQ(SettingsFilePath(program.path()),
                  program.filePath(QStringLiteral("LyrSample.ini")));
        EXPECT_EQ(SettingsFilePath(missing),
                  home.filePath(QStringLiteral("cfg/LyrLogger/LyrSample.ini")));
    }
    {
        ScopedEnv config("XDG_CONFIG_HOME", QByteArray());
        ScopedEnv homeVar("HOME", QFile::encodeName(home.path()));
        EXPECT_EQ(SettingsFilePath(missing),
                  home.filePath(QStringLiteral(".config/LyrLogger/LyrSample.ini")));
        EXPECT_EQ(DefaultLogDirectory(missing), home.path());
        EXPECT_EQ(DefaultLogDirectory(program.path()), program.path());
        // Installed in a system folder: the user's own folders even for root, who could write
        // there.
        EXPECT_EQ(SettingsFilePath(QStringLiteral("/usr/bin")),
                  home.filePath(QStringLiteral(".config/LyrLogger/LyrSample.ini")));
        EXPECT_EQ(DefaultLogDirectory(QStringLiteral("/usr/local/bin")), home.path());
    }
}

TEST(SettingsLocationTest, ReadOnlyProgramDirectoryHoldingTheFileKeepsIt) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only directories";
    QTemporaryDir program;
    QTemporaryDir home;
    ASSERT_TRUE(program.isValid() && home.isValid());
    ScopedEnv config("XDG_CONFIG_HOME", QFile::encodeName(home.path()));
    ScopedEnv homeVar("HOME", QFile::encodeName(home.path()));
    const QByteArray dirName = QFile::encodeName(program.path());
    ASSERT_EQ(::chmod(dirName.constData(), 0555), 0);
    const QString readOnlyEmpty = SettingsFilePath(program.path());
    const QString logDir = DefaultLogDirectory(program.path());
    ::chmod(dirName.constData(), 0755);
    QFile(program.filePath(QStringLiteral("LyrSample.ini"))).open(QIODevice::WriteOnly);
    ::chmod(dirName.constData(), 0555);
    const QString readOnlyHolding = SettingsFilePath(program.path());
    ::chmod(dirName.constData(), 0755);

    EXPECT_EQ(readOnlyEmpty, home.filePath(QStringLiteral("LyrLogger/LyrSample.ini")));
    EXPECT_EQ(logDir, home.path());
    EXPECT_EQ(readOnlyHolding, program.filePath(QStringLiteral("LyrSample.ini")));
}

}  // namespace
}  // namespace lyr
