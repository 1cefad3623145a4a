#include "record/profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <optional>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QStringDecoder>

namespace lyr {

namespace {

const QByteArray kUtf8Bom("\xEF\xBB\xBF");

// The file split into lines without their terminators. The byte-order mark, each line's own
// terminator and the file's line end style (for added lines) are remembered so that a rewrite
// gives them back: a file edited on both systems mixes LF and CR LF lines.
struct IniText {
    QByteArray bom;
    QList<QByteArray> lines;
    QList<QByteArray> ends;  // terminator of lines[i]
    QByteArray eol = "\n";
};

// Reads the whole file. A missing file is an empty text; any other failure is nullopt.
std::optional<IniText> ReadIniText(const QString& fileName) {
    IniText text;
    const int fd = ::open(QFile::encodeName(fileName).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return text;
        return std::nullopt;
    }
    QByteArray bytes;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        bytes.append(buffer, n);
    }
    ::close(fd);

    if (bytes.startsWith(kUtf8Bom)) {
        text.bom = kUtf8Bom;
        bytes.remove(0, kUtf8Bom.size());
    }
    const qsizetype firstLf = bytes.indexOf('\n');
    if (firstLf > 0 && bytes.at(firstLf - 1) == '\r') text.eol = "\r\n";
    if (bytes.isEmpty()) return text;
    const bool terminated = bytes.endsWith('\n');
    if (terminated) bytes.chop(1);
    for (QByteArray& line : bytes.split('\n')) {
        QByteArray end = "\n";
        if (line.endsWith('\r')) {
            line.chop(1);
            end = "\r\n";
        }
        text.lines.append(std::move(line));
        text.ends.append(std::move(end));
    }
    // A last line without terminator is ended like the file's others when the file is rewritten.
    if (!terminated && text.ends.last() == "\n") text.ends.last() = text.eol;
    return text;
}

QByteArray TrimBlanks(const QByteArray& bytes) {
    qsizetype begin = 0;
    qsizetype end = bytes.size();
    while (begin < end && (bytes.at(begin) == ' ' || bytes.at(begin) == '\t')) ++begin;
    while (end > begin && (bytes.at(end - 1) == ' ' || bytes.at(end - 1) == '\t')) --end;
    return bytes.mid(begin, end - begin);
}

// The text of a name or value. A U+FEFF at its start belongs to it (the file's own byte-order
// mark is gone by now): QString::fromUtf8 would drop it, and a name or value written with it
// would never be found or read back again.
QString FromUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    return decoder(bytes);
}

bool SameName(const QByteArray& bytes, const QString& name) {
    return QString::compare(FromUtf8(bytes), name, Qt::CaseInsensitive) == 0;
}

// The name of a section line ("[COMM]"), or nullopt for any other line.
std::optional<QByteArray> SectionOf(const QByteArray& line) {
    const QByteArray trimmed = TrimBlanks(line);
    if (!trimmed.startsWith('[')) return std::nullopt;
    qsizetype close = trimmed.indexOf(']');
    if (close < 0) close = trimmed.size();
    return TrimBlanks(trimmed.mid(1, close - 1));
}

// The key of a key=value line, or nullopt for comments, blank lines and lines without '='.
std::optional<QByteArray> KeyOf(const QByteArray& line) {
    const QByteArray trimmed = TrimBlanks(line);
    if (trimmed.isEmpty() || trimmed.startsWith(';') || trimmed.startsWith('#')) {
        return std::nullopt;
    }
    const qsizetype eq = trimmed.indexOf('=');
    if (eq <= 0) return std::nullopt;
    QByteArray key = TrimBlanks(trimmed.left(eq));
    if (key.isEmpty()) return std::nullopt;
    return key;
}

QByteArray ValueOf(const QByteArray& line) { return TrimBlanks(line.mid(line.indexOf('=') + 1)); }

// Where a key stands in the text. Only the first section of the name counts, and in it the
// first line of the key.
struct KeyPlace {
    qsizetype sectionLine = -1;
    qsizetype keyLine = -1;
    qsizetype lastKeyLine = -1;  // last key line of the section, for appending
};

KeyPlace Locate(const IniText& text, const QString& section, const QString& key) {
    KeyPlace place;
    bool inSection = false;
    for (qsizetype i = 0; i < text.lines.size(); ++i) {
        const QByteArray& line = text.lines.at(i);
        if (const auto name = SectionOf(line)) {
            if (inSection) break;
            if (place.sectionLine < 0 && SameName(*name, section)) {
                place.sectionLine = i;
                inSection = true;
            }
            continue;
        }
        if (!inSection) continue;
        if (const auto name = KeyOf(line)) {
            place.lastKeyLine = i;
            if (place.keyLine < 0 && SameName(*name, key)) place.keyLine = i;
        }
    }
    return place;
}

std::optional<QString> ReadValue(const QString& fileName, const QString& section,
                                 const QString& key) {
    if (fileName.isEmpty()) return std::nullopt;
    const std::optional<IniText> text = ReadIniText(fileName);
    if (!text) return std::nullopt;
    const KeyPlace place = Locate(*text, section, key);
    if (place.keyLine < 0) return std::nullopt;
    return FromUtf8(ValueOf(text->lines.at(place.keyLine)));
}

bool WriteAll(int fd, const QByteArray& bytes) {
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        left -= n;
    }
    return true;
}

// Replaces `fileName` by `bytes` through a temporary file in the same directory: written,
// synced, renamed over the old file, then the directory synced so the rename itself survives a
// power cut. The old file's permission bits are kept.
bool ReplaceFileAtomically(const QString& fileName, const QByteArray& bytes,
                           std::optional<mode_t> mode) {
    const QByteArray target = QFile::encodeName(fileName);
    const QString dir = QFileInfo(fileName).absolutePath();
    static std::atomic<unsigned> counter{0};
    int fd = -1;
    QByteArray temp;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp =
            target + ".tmp-" + QByteArray::number(::getpid()) + "-" + QByteArray::number(++counter);
        // 0666 lets the umask decide for a new file, as any other program's file.
        fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;
    bool ok = (!mode || ::fchmod(fd, *mode) == 0) && WriteAll(fd, bytes) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok) ok = ::rename(temp.constData(), target.constData()) == 0;
    if (!ok) {
        ::unlink(temp.constData());
        return false;
    }
    const int dirFd =
        ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

bool IsPlainName(const QString& name) {
    return !name.isEmpty() && name.trimmed() == name && !name.contains(QLatin1Char('\n')) &&
           !name.contains(QLatin1Char('\r'));
}

bool WriteValue(const QString& profileName, const QString& section, const QString& key,
                const QString& value) {
    if (profileName.isEmpty()) return false;
    // Names and values that could not be read back as written would corrupt the file.
    if (!IsPlainName(section) || section.contains(QLatin1Char(']')) || !IsPlainName(key) ||
        key.contains(QLatin1Char('=')) || key.startsWith(QLatin1Char(';')) ||
        key.startsWith(QLatin1Char('#')) || key.startsWith(QLatin1Char('[')) ||
        value.contains(QLatin1Char('\n')) || value.contains(QLatin1Char('\r'))) {
        return false;
    }

    // Write through a symbolic link to the file it names, not over the link.
    QString fileName = profileName;
    const QFileInfo info(profileName);
    if (info.isSymLink() && info.exists()) fileName = info.canonicalFilePath();

    std::optional<mode_t> mode;
    struct stat st {};
    if (::stat(QFile::encodeName(fileName).constData(), &st) == 0) {
        // A file without any write bit is read-only, also for root, whom access() would let
        // write; the rename would otherwise replace it regardless of its permissions.
        if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ||
            ::access(QFile::encodeName(fileName).constData(), W_OK) != 0) {
            return false;
        }
        mode = st.st_mode & 07777;
    } else if (errno != ENOENT) {
        return false;
    } else if (!QDir().mkpath(QFileInfo(fileName).absolutePath())) {
        return false;
    }

    std::optional<IniText> text = ReadIniText(fileName);
    if (!text) return false;

    const KeyPlace place = Locate(*text, section, key);
    if (place.keyLine >= 0) {
        QByteArray& line = text->lines[place.keyLine];
        line = *KeyOf(line) + '=' + value.toUtf8();
    } else if (place.sectionLine >= 0) {
        const qsizetype after = place.lastKeyLine >= 0 ? place.lastKeyLine : place.sectionLine;
        text->lines.insert(after + 1, key.toUtf8() + '=' + value.toUtf8());
        text->ends.insert(after + 1, text->eol);
    } else {
        text->lines.append('[' + section.toUtf8() + ']');
        text->lines.append(key.toUtf8() + '=' + value.toUtf8());
        text->ends.append(text->eol);
        text->ends.append(text->eol);
    }

    QByteArray bytes = text->bom;
    for (qsizetype i = 0; i < text->lines.size(); ++i) bytes += text->lines[i] + text->ends[i];
    return ReplaceFileAtomically(fileName, bytes, mode);
}

// Leading blanks, an optional sign, then decimal digits up to the first other character;
// no digits gives 0. Clamped to the int range instead of overflowing.
int ParseProfileInt(const QString& value) {
    qsizetype i = 0;
    while (i < value.size() &&
           (value.at(i) == QLatin1Char(' ') || value.at(i) == QLatin1Char('\t'))) {
        ++i;
    }
    bool negative = false;
    if (i < value.size() && (value.at(i) == QLatin1Char('-') || value.at(i) == QLatin1Char('+'))) {
        negative = value.at(i) == QLatin1Char('-');
        ++i;
    }
    constexpr long long kLimit = static_cast<long long>(INT_MAX) + 1;
    long long magnitude = 0;
    for (; i < value.size(); ++i) {
        const char16_t c = value.at(i).unicode();
        if (c < u'0' || c > u'9') break;
        magnitude = std::min(kLimit, magnitude * 10 + (c - u'0'));
    }
    if (negative) return static_cast<int>(-magnitude);
    return static_cast<int>(std::min<long long>(magnitude, INT_MAX));
}

}  // namespace

int CIniProfile::GetProfileInt(const QString& section, const QString& key, int defaultValue) const {
    const std::optional<QString> value = ReadValue(m_strFileName, section, key);
    // An empty value counts as missing, as with the Windows profile functions.
    if (!value || value->isEmpty()) return defaultValue;
    return ParseProfileInt(*value);
}

QString CIniProfile::GetProfileString(const QString& section, const QString& key,
                                      const QString& defaultValue) const {
    std::optional<QString> value = ReadValue(m_strFileName, section, key);
    if (!value) return defaultValue;
    if (value->size() > MaxValueLength) {
        qsizetype length = MaxValueLength;
        // Never keep half of a surrogate pair.
        if (value->at(length - 1).isHighSurrogate()) --length;
        value->truncate(length);
    }
    return *value;
}

bool CIniProfile::WriteProfileInt(const QString& section, const QString& key, int value) {
    return WriteValue(m_strFileName, section, key, QString::number(value));
}

bool CIniProfile::WriteProfileString(const QString& section, const QString& key,
                                     const QString& value) {
    return WriteValue(m_strFileName, section, key, value);
}

}  // namespace lyr
