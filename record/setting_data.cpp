#include "record/setting_data.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <vector>

#include <QFile>
#include <QFileInfo>

#include "platform/message_box.h"

namespace lyr {

using namespace Qt::Literals::StringLiterals;

namespace {

const QString kSettingsFileName = QStringLiteral("LyrSample.ini");

// The full path of the running program, or nullopt when the kernel does not tell.
std::optional<QString> ExecutablePath() {
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return std::nullopt;
        if (static_cast<size_t>(n) < buffer.size()) {
            QString path = QFile::decodeName(QByteArray(buffer.data(), n));
            // A program replaced while it runs (a reinstall) still lives in its directory.
            const QString deleted = QStringLiteral(" (deleted)");
            if (path.endsWith(deleted)) path.chop(deleted.size());
            return path;
        }
        buffer.resize(buffer.size() * 2);
    }
}

// A directory as the path functions give it: "" is the root, whose '/' they drop.
QByteArray DirectoryForAccess(const QString& directory) {
    return directory.isEmpty() ? QByteArray("/") : QFile::encodeName(directory);
}

bool IsWritableDirectory(const QString& directory) {
    return ::access(DirectoryForAccess(directory).constData(), W_OK | X_OK) == 0;
}

// An installed program lives in a system folder that root can write to; settings and logs of
// whoever runs it belong in their own folders all the same, never in /usr/bin.
bool IsSystemProgramDirectory(const QString& directory) {
    static const char* const kSystem[] = {"/usr", "/bin", "/sbin"};
    for (const char* root : kSystem) {
        const QString r = QString::fromLatin1(root);
        if (directory == r || directory.startsWith(r + QLatin1Char('/'))) return true;
    }
    return false;
}

bool IsUsableProgramDirectory(const QString& directory) {
    return !IsSystemProgramDirectory(directory) && IsWritableDirectory(directory);
}

QString HomeDirectory() {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        return QFile::decodeName(home);
    }
    struct passwd pw {};
    struct passwd* result = nullptr;
    char buffer[4096];
    if (::getpwuid_r(::getuid(), &pw, buffer, sizeof buffer, &result) == 0 && result != nullptr &&
        result->pw_dir != nullptr && result->pw_dir[0] == '/') {
        return QFile::decodeName(result->pw_dir);
    }
    return QString();
}

QString ConfigDirectory() {
    // A relative XDG_CONFIG_HOME is invalid and ignored, as the base-directory rules say.
    if (const char* config = std::getenv("XDG_CONFIG_HOME");
        config != nullptr && config[0] == '/') {
        return QFile::decodeName(config) + QStringLiteral("/LyrLogger");
    }
    const QString home = HomeDirectory();
    if (home.isEmpty()) return QString();
    return home + QStringLiteral("/.config/LyrLogger");
}

QString ConfigSettingsFilePath() {
    const QString dir = ConfigDirectory();
    return dir.isEmpty() ? QString() : dir + QLatin1Char('/') + kSettingsFileName;
}

QString RemoveTrailingSlashes(QString path) {
    while (path.endsWith(QLatin1Char('/'))) path.chop(1);
    return path;
}

}  // namespace

CSettingData::CSettingData() : CSettingData(SettingsFilePath()) {}

CSettingData::CSettingData(QString profilePath) : Profile(std::move(profilePath)) {}

void CSettingData::Load() {
    const QString programDirectory = DefaultLogDirectory();
    // The Linux counterpart of a missing application object: no place for the settings file
    // could be determined (no program directory, no home).
    if (!Profile.IsAvailable()) {
        AfxMessageBox(u"Failed to load settings."_s, MB_OK);
        return;
    }

    CsvEnable = Profile.GetProfileInt(u"FILE_TYPE"_s, u"CsvEnable"_s, 1);
    FileDir = Profile.GetProfileString(u"FILE_TYPE"_s, u"FileDir"_s, programDirectory);
    FileExtension = Profile.GetProfileString(u"FILE_TYPE"_s, u"FileExtension"_s, u"csv"_s);
    if (FileExtension != u"csv"_s && FileExtension != u"txt"_s && FileExtension != u"dat"_s) {
        FileExtension = u"csv"_s;
    }
    Decimal = Profile.GetProfileInt(u"FILE_TYPE"_s, u"Decimal"_s, 0);
    Separator = Profile.GetProfileInt(u"FILE_TYPE"_s, u"Separator"_s, 0);
    LogType = Profile.GetProfileInt(u"LOG_TYPE"_s, u"LogType"_s, 0);
    LogInterval = Profile.GetProfileInt(u"LOG_TYPE"_s, u"LogInterval"_s, 0);
    LogLimit = Profile.GetProfileInt(u"LOG_TYPE"_s, u"LogLimit"_s, 1);
    GetCompRes = Profile.GetProfileInt(u"LOG_TYPE"_s, u"GetCompRes"_s, 0) != 0;
    ComNo = Profile.GetProfileString(u"COMM"_s, u"ComNo"_s, u"ttyS0"_s);
    BaudRate = Profile.GetProfileInt(u"COMM"_s, u"BaudRate"_s, 9600);
    SaveDataIndex = Profile.GetProfileInt(u"SAVE"_s, u"SaveDataIndex"_s, 1) != 0;
    SaveDate = Profile.GetProfileInt(u"SAVE"_s, u"SaveDate"_s, 1) != 0;
    SaveTime = Profile.GetProfileInt(u"SAVE"_s, u"SaveTime"_s, 1) != 0;
    SaveJudge = Profile.GetProfileInt(u"SAVE"_s, u"SaveJudge"_s, 1) != 0;
    SaveTemp = Profile.GetProfileInt(u"SAVE"_s, u"SaveTemp"_s, 0) != 0;
    FilterEnable = Profile.GetProfileInt(u"FILTER"_s, u"FilterEnable"_s, 0) != 0;
    FilterTime = Profile.GetProfileInt(u"FILTER"_s, u"FilterTime"_s, 100);
}

bool CSettingData::Save() {
    if (!Profile.IsAvailable()) {
        AfxMessageBox(u"Failed to save settings."_s, MB_OK);
        return false;
    }

    // && stops at the first refused write: the keys after it are not written, those before it
    // stay written.
    CIniProfile& p = Profile;
    const bool saved = p.WriteProfileString(u"COMM"_s, u"ComNo"_s, ComNo) &&
                       p.WriteProfileInt(u"COMM"_s, u"BaudRate"_s, BaudRate) &&
                       p.WriteProfileInt(u"SAVE"_s, u"SaveDataIndex"_s, SaveDataIndex) &&
                       p.WriteProfileInt(u"SAVE"_s, u"SaveDate"_s, SaveDate) &&
                       p.WriteProfileInt(u"SAVE"_s, u"SaveTime"_s, SaveTime) &&
                       p.WriteProfileInt(u"SAVE"_s, u"SaveJudge"_s, SaveJudge) &&
                       p.WriteProfileInt(u"SAVE"_s, u"SaveTemp"_s, SaveTemp) &&
                       p.WriteProfileInt(u"FILTER"_s, u"FilterEnable"_s, FilterEnable) &&
                       p.WriteProfileInt(u"FILTER"_s, u"FilterTime"_s, FilterTime) &&
                       p.WriteProfileInt(u"FILE_TYPE"_s, u"Decimal"_s, Decimal) &&
                       p.WriteProfileInt(u"FILE_TYPE"_s, u"Separator"_s, Separator) &&
                       p.WriteProfileInt(u"FILE_TYPE"_s, u"CsvEnable"_s, CsvEnable) &&
                       p.WriteProfileString(u"FILE_TYPE"_s, u"FileDir"_s, FileDir) &&
                       p.WriteProfileString(u"FILE_TYPE"_s, u"FileExtension"_s, FileExtension) &&
                       p.WriteProfileInt(u"LOG_TYPE"_s, u"LogType"_s, LogType) &&
                       p.WriteProfileInt(u"LOG_TYPE"_s, u"LogInterval"_s, LogInterval) &&
                       p.WriteProfileInt(u"LOG_TYPE"_s, u"LogLimit"_s, LogLimit) &&
                       p.WriteProfileInt(u"LOG_TYPE"_s, u"GetCompRes"_s, GetCompRes);
    if (!saved) {
        AfxMessageBox(u"Failed to save settings."_s, MB_OK);
        return false;
    }
    return true;
}

QString GetExeDirectory() {
    const std::optional<QString> exe = ExecutablePath();
    return exe ? GetPathDirectory(*exe) : QString();
}

QString GetPathDirectory(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : path.left(slash);
}

QString GetPathFileName(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : path.mid(slash + 1);
}

QString GetPathExtension(const QString& path) {
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : path.mid(dot + 1);
}

QString SettingsFilePath(const QString& programDirectory) {
    const QString dir = RemoveTrailingSlashes(programDirectory);
    const QString inProgramDirectory = dir + QLatin1Char('/') + kSettingsFileName;
    if (QFileInfo::exists(inProgramDirectory) || IsUsableProgramDirectory(dir)) {
        return inProgramDirectory;
    }
    return ConfigSettingsFilePath();
}

QString SettingsFilePath() {
    if (!ExecutablePath()) return ConfigSettingsFilePath();
    return SettingsFilePath(GetExeDirectory());
}

QString DefaultLogDirectory(const QString& programDirectory) {
    const QString dir = RemoveTrailingSlashes(programDirectory);
    if (IsUsableProgramDirectory(dir)) return dir;
    const QString home = RemoveTrailingSlashes(HomeDirectory());
    return home.isEmpty() ? dir : home;
}

QString DefaultLogDirectory() {
    if (!ExecutablePath()) return RemoveTrailingSlashes(HomeDirectory());
    return DefaultLogDirectory(GetExeDirectory());
}

}  // namespace lyr
