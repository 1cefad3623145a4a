#pragma once

#include <QString>

#include "record/profile.h"

namespace lyr {

// The operator's choices, kept from one run of the program to the next in "LyrSample.ini".
// Every field is stored under a key of its own name; Load fills them all, Save writes them all.
// Only the user-interface thread touches the record.
class CSettingData {
  public:
    // Binds the record to the settings file of this installation (SettingsFilePath()). When no
    // location can be determined the profile is unavailable: Load and Save then show their
    // failure messages, as they do when the application's profile is missing.
    CSettingData();
    // Binds the record to the settings file at `profilePath`; an empty path makes the profile
    // unavailable. Lets tests and tools work on a file of their own.
    explicit CSettingData(QString profilePath);
    ~CSettingData() = default;
    CSettingData(const CSettingData&) = default;
    CSettingData& operator=(const CSettingData&) = default;

    // Fills every field from the settings file; absent keys take their defaults. Shows
    // "Failed to load settings." and changes nothing when the profile is unavailable.
    void Load();
    // Writes every field; true when all 18 writes succeeded. The first refused write ends the
    // save with "Failed to save settings." shown once; keys written before it stay written.
    bool Save();

    // The settings file the record reads and writes; empty when unavailable.
    [[nodiscard]] const QString& ProfileName() const { return Profile.FileName(); }

    // COMM
    QString ComNo;     // port name as the port list shows it ("ttyS0", or a full path)
    int BaudRate = 0;  // any integer; the dialogs offer the four rates of the link
    // SAVE: which optional columns a log line has
    bool SaveDataIndex = false;
    bool SaveDate = false;
    bool SaveTime = false;
    bool SaveJudge = false;
    bool SaveTemp = false;  // also makes the measurement thread fetch the temperature
    // FILTER: external-trigger filter
    bool FilterEnable = false;
    int FilterTime = 0;  // ms
    // FILE_TYPE
    int CsvEnable = 0;      // save target: 0 text file, 1 spreadsheet
    QString FileDir;        // directory of the text log, without a trailing '/'
    QString FileExtension;  // "csv", "txt" or "dat" after Load
    int Decimal = 0;        // 1 decimal comma, else period
    int Separator = 0;      // 0 comma, 1 semicolon, 2 tab, 3 space; others act as tab
    // LOG_TYPE
    int LogType = 0;      // capture method: 0 button/ENTER, 1 external trigger, 2 intervals
    int LogInterval = 0;  // tenths of a second
    int LogLimit = 0;     // captures of an interval run
    bool GetCompRes = false;

  private:
    CIniProfile Profile;
};

// Directory of the program's own executable (/proc/self/exe), without a trailing '/'.
[[nodiscard]] QString GetExeDirectory();
// Text before the last '/' of `path`; empty when the path holds no '/'.
[[nodiscard]] QString GetPathDirectory(const QString& path);
// Text after the last '/' of `path`; empty when the path holds no '/'.
[[nodiscard]] QString GetPathFileName(const QString& path);
// Text after the last '.' anywhere in `path` (so "/data.old/log" gives "old/log"); empty when
// the path holds no '.'.
[[nodiscard]] QString GetPathExtension(const QString& path);

// Where "LyrSample.ini" lives: in `programDirectory` when that directory is writable or already
// holds the file, else in $XDG_CONFIG_HOME/LyrLogger/ (~/.config/LyrLogger/). Empty when
// neither can be determined (no program directory and no home).
[[nodiscard]] QString SettingsFilePath(const QString& programDirectory);
[[nodiscard]] QString SettingsFilePath();  // for GetExeDirectory()

// Default of FileDir: `programDirectory` when it is writable, else the home directory.
[[nodiscard]] QString DefaultLogDirectory(const QString& programDirectory);
[[nodiscard]] QString DefaultLogDirectory();  // for GetExeDirectory()

}  // namespace lyr
