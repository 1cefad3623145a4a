#pragma once

#include <utility>

#include <QString>

namespace lyr {

// The application's profile: one INI file of [SECTION] lines and key=value lines, read and
// written key by key like Windows' private-profile functions.
//
// - Sections and keys are matched without regard to case; the first match counts.
// - Writing a key replaces its value in place (keeping the key's spelling in the file), adds a
//   missing key after the last key of its section and a missing section at the end of the file.
//   Every other line, comments and unknown keys included, is kept byte for byte.
// - Every write replaces the file atomically: a temporary file beside it is written, synced and
//   renamed over the old one, so a crash leaves either the old or the new file, never half.
// - The file is UTF-8 (a byte-order mark is skipped and kept). Lines end with LF, or with CR LF
//   when the file already uses CR LF.
// - Keys and values are trimmed of surrounding blanks; lines starting with ';' or '#' are
//   comments. String values are read up to 4095 characters.
//
// Every call reads the file afresh; nothing is cached between calls.
class CIniProfile {
  public:
    static constexpr int MaxValueLength = 4095;

    CIniProfile() = default;
    explicit CIniProfile(QString fileName) : m_strFileName(std::move(fileName)) {}

    // The INI file; empty means no profile is available and every write fails.
    [[nodiscard]] const QString& FileName() const { return m_strFileName; }
    [[nodiscard]] bool IsAvailable() const { return !m_strFileName.isEmpty(); }

    // The integer under section/key, or `defaultValue` when the file, the key or its value is
    // missing (an unreadable file counts as missing). A value that is not a number reads as its
    // leading digits (after blanks and an optional sign), and as 0 when it has none; values beyond
    // the int range are clamped.
    [[nodiscard]] int GetProfileInt(const QString& section, const QString& key,
                                    int defaultValue) const;
    // The string under section/key (at most 4095 characters), or `defaultValue` when the file or
    // the key is missing (an unreadable file counts as missing).
    [[nodiscard]] QString GetProfileString(const QString& section, const QString& key,
                                           const QString& defaultValue = QString()) const;

    // Writes value in signed decimal. False when the file cannot be written: no profile, a file
    // without write permission, a directory that takes no temporary file, a full disk.
    [[nodiscard]] bool WriteProfileInt(const QString& section, const QString& key, int value);
    // False as above, and for a value holding a line break (it would split the line) or a
    // section or key that could not be read back.
    [[nodiscard]] bool WriteProfileString(const QString& section, const QString& key,
                                          const QString& value);

  private:
    QString m_strFileName;
};

}  // namespace lyr
