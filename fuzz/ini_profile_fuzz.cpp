// The INI reader and writer on arbitrary files.
//
// Input: three lines naming the section, the key and the value to write (each ended by LF),
// then the settings file itself. Beyond not crashing, every run checks what the program relies
// on: a write that succeeds reads back as written, changes no other key, and a refused write
// leaves the file as it was.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include <QByteArray>
#include <QHash>
#include <QString>

#include "record/profile.h"

namespace {

namespace fs = std::filesystem;

const std::string kDirectoryPrefix = "lyr-ini-fuzz-";
fs::path g_directory;
std::string g_fileName;

void RemoveDirectory() {
    std::error_code ignored;
    fs::remove_all(g_directory, ignored);
}

// A crash ends the process without running atexit handlers; the working directories of
// processes that are gone are removed by the next run.
void RemoveStaleDirectories(const fs::path& base) {
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(base, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(kDirectoryPrefix, 0) != 0) continue;
        const long pid = std::strtol(name.c_str() + kDirectoryPrefix.size(), nullptr, 10);
        if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
            std::error_code ignored;
            fs::remove_all(entry.path(), ignored);
        }
    }
}

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "ini_profile_fuzz: %s\n", what);
    std::abort();
}

// Plain reads: QFile's 16 KB buffer per open would fill ASan's quarantine within seconds.
QByteArray ReadFile() {
    QByteArray bytes;
    const int fd = ::open(g_fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return bytes;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) bytes.append(buffer, n);
    ::close(fd);
    return bytes;
}

void WriteFile(const char* data, std::size_t size) {
    const int fd = ::open(g_fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) Fail("cannot create the settings file");
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n <= 0) Fail("cannot write the settings file");
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    ::close(fd);
}

// Takes the text up to the next LF; the whole rest when there is none.
QByteArray TakeLine(const char*& data, std::size_t& size) {
    const void* lf = std::memchr(data, '\n', size);
    const std::size_t length = lf ? static_cast<const char*>(lf) - data : size;
    QByteArray line(data, static_cast<qsizetype>(length));
    const std::size_t taken = lf ? length + 1 : length;
    data += taken;
    size -= taken;
    return line;
}

// What a value reads back as: blanks around it dropped, cut to the string length limit.
QString ExpectedReadBack(const QString& value) {
    qsizetype begin = 0;
    qsizetype end = value.size();
    auto blank = [&](qsizetype i) { return value.at(i) == u' ' || value.at(i) == u'\t'; };
    while (begin < end && blank(begin)) ++begin;
    while (end > begin && blank(end - 1)) --end;
    QString result = value.mid(begin, end - begin);
    if (result.size() > lyr::CIniProfile::MaxValueLength) {
        qsizetype length = lyr::CIniProfile::MaxValueLength;
        if (result.at(length - 1).isHighSurrogate()) --length;
        result.truncate(length);
    }
    return result;
}

struct Entry {
    const char* section;
    const char* key;
};

// The keys of the settings record, and a few more spellings of them.
constexpr std::array<Entry, 10> kEntries{{
    {"COMM", "ComNo"},
    {"COMM", "BaudRate"},
    {"SAVE", "SaveDataIndex"},
    {"FILTER", "FilterTime"},
    {"FILE_TYPE", "FileDir"},
    {"LOG_TYPE", "LogInterval"},
    {"LOG_TYPE", "LogType"},
    {"comm", "comno"},
    {"", ""},
    {"A", "B"},
}};

const QString kAbsent = QStringLiteral("\x01absent\x01");

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // tmpfs where there is one: every write syncs the file and its directory.
    fs::path base = "/dev/shm";
    if (::access(base.c_str(), W_OK) != 0) {
        const char* tmp = std::getenv("TMPDIR");
        base = tmp && *tmp ? tmp : "/tmp";
    }
    RemoveStaleDirectories(base);
    g_directory = base / (kDirectoryPrefix + std::to_string(::getpid()));
    std::error_code error;
    fs::remove_all(g_directory, error);
    if (!fs::create_directory(g_directory, error)) Fail("cannot make a working directory");
    g_fileName = (g_directory / "LyrSample.ini").string();
    std::atexit(RemoveDirectory);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    const char* data = reinterpret_cast<const char*>(bytes);
    const QString section = QString::fromUtf8(TakeLine(data, size));
    const QString key = QString::fromUtf8(TakeLine(data, size));
    const QString value = QString::fromUtf8(TakeLine(data, size));
    WriteFile(data, size);
    const QByteArray original = ReadFile();

    lyr::CIniProfile profile(QString::fromStdString(g_fileName));
    std::array<QString, kEntries.size()> before;
    for (std::size_t i = 0; i < kEntries.size(); ++i) {
        const QString s = QString::fromLatin1(kEntries[i].section);
        const QString k = QString::fromLatin1(kEntries[i].key);
        before[i] = profile.GetProfileString(s, k, kAbsent);
        (void)profile.GetProfileInt(s, k, -7);
    }
    (void)profile.GetProfileString(section, key, kAbsent);
    (void)profile.GetProfileInt(section, key, 0);

    if (!profile.WriteProfileString(section, key, value)) {
        if (ReadFile() != original) Fail("a refused write changed the file");
        return 0;
    }
    if (profile.GetProfileString(section, key, kAbsent) != ExpectedReadBack(value))
        Fail("a written value does not read back");
    for (std::size_t i = 0; i < kEntries.size(); ++i) {
        const QString s = QString::fromLatin1(kEntries[i].section);
        const QString k = QString::fromLatin1(kEntries[i].key);
        const bool same = s.compare(section, Qt::CaseInsensitive) == 0 &&
                          k.compare(key, Qt::CaseInsensitive) == 0;
        if (!same && profile.GetProfileString(s, k, kAbsent) != before[i])
            Fail("a write changed another key");
    }

    // The integer written over the string must read back exactly, extremes included.
    const int number = static_cast<int>(qHash(original) ^ (qHash(value) << 7));
    if (!profile.WriteProfileInt(section, key, number)) Fail("an integer write failed");
    if (profile.GetProfileInt(section, key, 0) != number)
        Fail("a written integer does not read back");
    return 0;
}
