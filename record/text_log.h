#pragma once

#include <functional>
#include <memory>

#include <QString>

#include "record/setting_data.h"

namespace lyr {

// The text log file of a run, in the role of a CStdioFile opened with modeCreate |
// modeNoTruncate | modeWrite in text mode: created if missing, never truncated, every line
// appended. While it is open no other LyrLogger (nor any program honouring flock or fcntl
// locks) can open it. Each line reaches the operating system with one write() before
// WriteString returns, and Close syncs the file to disk, so a crash of the program loses no line
// that was reported written.
class CStdioFile {
  public:
    CStdioFile() = default;
    ~CStdioFile();  // closes (and syncs) an open file
    CStdioFile(const CStdioFile&) = delete;
    CStdioFile& operator=(const CStdioFile&) = delete;

    // Opens `path` for appending and takes the exclusive locks. False (nothing held) when the
    // folder is missing, writing is not allowed, or another process holds the file; errno tells.
    [[nodiscard]] bool Open(const QString& path);
    [[nodiscard]] bool IsOpen() const { return m_fd >= 0; }

    // Moves the file position to the end of the file.
    [[nodiscard]] bool SeekToEnd();
    // Writes `text` with every LF turned into CR LF and every character as the one byte of its
    // code. False when a character is above 255 (nothing is written) or the write fails; a line
    // that could not be written completely is cut off again, so the file never keeps a fragment.
    [[nodiscard]] bool WriteString(const QString& text);
    // Syncs and closes; false when the sync or the close reported an error (the descriptor is
    // released either way). Does nothing on a closed file.
    bool Close();

  private:
    int m_fd = -1;
};

// Local date and time to the second, as the log lines show it.
struct LocalTime {
    int year = 0;
    int month = 0;  // 1-12
    int day = 0;    // 1-31
    int hour = 0;   // 0-23
    int minute = 0;
    int second = 0;
};
using LocalClock = std::function<LocalTime()>;
// The local clock of the machine (localtime_r of the current time).
[[nodiscard]] LocalTime ReadLocalTime();

// With `decimal` 1 the text with every '.' replaced by ','; otherwise the text unchanged.
[[nodiscard]] QString ApplyDecimalPoint(const QString& text, int decimal);
// Every TAB of the line replaced by ',' (0), ';' (1) or ' ' (3); for 2 or any other value the
// line unchanged.
[[nodiscard]] QString ApplySeparator(const QString& line, int separator);

// What the log writers see of the main window: the reading on display, the settings record and
// the open text log. The main window owns it (by deriving from it or holding it as a member);
// the spreadsheet writer reads the same texts and settings. Everything here lives on the
// user-interface thread.
struct CRecordView {
    QString m_strValue = QStringLiteral("-----------");  // value text as displayed
    QString m_strJudge = QStringLiteral("---");          // judgement text, "--" when none
    QString m_strTemperature;                // temperature that came with the reading; "" when none
    std::unique_ptr<CStdioFile> m_pLogFile;  // the open text log during a text run, else empty
    CSettingData m_settings;
    LocalClock m_clock = ReadLocalTime;  // read once per line, only when date or time is saved

    // Appends one line for the reading on display; `index` is zero-based within the run and
    // shown plus one. True when the line was written or no log file is open; false when the
    // file reported an error (the line is then lost, earlier lines stay).
    [[nodiscard]] bool WriteTextRecord(int index);

    // Run start with a text target: opens `path` into m_pLogFile. False, with m_pLogFile left
    // empty, when the file cannot be opened (the caller shows "Failed to open file.").
    [[nodiscard]] bool OpenLogFile(const QString& path);
    // Run stop, whatever ended the run: closes and deletes the log file if one is open.
    void CloseLogFile();
};

}  // namespace lyr
