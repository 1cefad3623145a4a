#include "record/text_log.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include <QByteArray>
#include <QFile>

namespace lyr {

namespace {

// A lock refused because someone else holds it; any other failure (a file system without
// locks) does not keep the operator from logging.
bool HeldElsewhere(int error) { return error == EWOULDBLOCK || error == EAGAIN || error == EACCES; }

}  // namespace

CStdioFile::~CStdioFile() { Close(); }

bool CStdioFile::Open(const QString& path) {
    Close();
    const QByteArray name = QFile::encodeName(path);
    const int fd =
        ::open(name.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) return false;

    // Both lock kinds, so that the file counts as held for programs that check either: flock
    // (another LyrLogger) and an open-file-description record lock (programs using fcntl).
    bool refused = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && HeldElsewhere(errno);
    if (!refused) {
        struct flock whole {};
        whole.l_type = F_WRLCK;
        whole.l_whence = SEEK_SET;
        whole.l_start = 0;
        whole.l_len = 0;
        refused = ::fcntl(fd, F_OFD_SETLK, &whole) != 0 && HeldElsewhere(errno);
    }
    if (refused) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return false;
    }
    m_fd = fd;
    return true;
}

bool CStdioFile::SeekToEnd() { return m_fd >= 0 && ::lseek(m_fd, 0, SEEK_END) >= 0; }

bool CStdioFile::WriteString(const QString& text) {
    if (m_fd < 0) {
        errno = EBADF;
        return false;
    }
    // Text mode: LF becomes CR LF; each character becomes the byte of its code.
    QByteArray bytes;
    bytes.reserve(text.size() + 8);
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        if (code > 0xFF) {
            errno = EILSEQ;
            return false;
        }
        if (code == u'\n') bytes.append('\r');
        bytes.append(static_cast<char>(code));
    }

    struct stat st {};
    const bool regular = ::fstat(m_fd, &st) == 0 && S_ISREG(st.st_mode);
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(m_fd, p, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : EIO;
            // A line cut short by a full disk would leave a fragment that the next run's first
            // line is glued to; take it back so the file holds whole lines only.
            if (regular && left < bytes.size()) {
                [[maybe_unused]] const int ignored = ::ftruncate(m_fd, st.st_size);
            }
            errno = error;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

bool CStdioFile::Close() {
    if (m_fd < 0) return true;
    // Devices and pipes cannot be synced; only a failed sync of a real file is an error.
    const bool synced = ::fsync(m_fd) == 0 || errno == EINVAL || errno == EROFS;
    const bool closed = ::close(m_fd) == 0;
    m_fd = -1;
    return synced && closed;
}

LocalTime ReadLocalTime() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&now, &tm);
    return LocalTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                     tm.tm_hour,        tm.tm_min,     tm.tm_sec};
}

QString ApplyDecimalPoint(const QString& text, int decimal) {
    if (decimal != 1) return text;
    QString result = text;
    result.replace(QLatin1Char('.'), QLatin1Char(','));
    return result;
}

QString ApplySeparator(const QString& line, int separator) {
    QChar replacement;
    switch (separator) {
        case 0:
            replacement = QLatin1Char(',');
            break;
        case 1:
            replacement = QLatin1Char(';');
            break;
        case 3:
            replacement = QLatin1Char(' ');
            break;
        default:
            return line;  // 2 and every other value keep the TAB
    }
    QString result = line;
    result.replace(QLatin1Char('\t'), replacement);
    return result;
}

bool CRecordView::WriteTextRecord(int index) {
    const CSettingData& s = m_settings;
    QString line;
    LocalTime now;
    if (s.SaveDate || s.SaveTime) now = m_clock();

    if (s.SaveDataIndex) line += QString::number(static_cast<qint64>(index) + 1);
    if (s.SaveDate) {
        if (!line.isEmpty()) line += QLatin1Char('\t');
        line += QString::asprintf("%04d-%02d-%02d", now.year, now.month, now.day);
    }
    if (s.SaveTime) {
        if (!line.isEmpty()) line += QLatin1Char('\t');
        line += QString::asprintf("%02d:%02d:%02d", now.hour, now.minute, now.second);
    }
    QString value = ApplyDecimalPoint(m_strValue, s.Decimal);
    if (s.SaveJudge) value += QLatin1Char('\t') + m_strJudge;
    if (!line.isEmpty()) line += QLatin1Char('\t');
    line += value;
    if (s.SaveTemp) line += QLatin1Char('\t') + ApplyDecimalPoint(m_strTemperature, s.Decimal);
    line += QLatin1Char('\n');
    // TAB is the working separator until here.
    line = ApplySeparator(line, s.Separator);

    if (!m_pLogFile) return true;
    return m_pLogFile->SeekToEnd() && m_pLogFile->WriteString(line);
}

bool CRecordView::OpenLogFile(const QString& path) {
    // A file still open from an earlier run would hold the lock against its own reopening.
    CloseLogFile();
    auto file = std::make_unique<CStdioFile>();
    if (!file->Open(path)) return false;
    m_pLogFile = std::move(file);
    return true;
}

void CRecordView::CloseLogFile() {
    if (!m_pLogFile) return;
    m_pLogFile->Close();
    m_pLogFile.reset();
}

}  // namespace lyr
