#pragma once

#include <QString>
#include <QtGlobal>

#include <algorithm>
#include <cstddef>

#include "platform/notify_window.h"

namespace lyr {

// Messages of the measurement thread to its window; the numbers are fixed.
inline constexpr unsigned WM_MEAS_READING = WM_USER + 220;         // posted
inline constexpr unsigned WM_MEAS_LIMIT = WM_USER + 221;           // posted
inline constexpr unsigned WM_MEAS_INTERVAL_START = WM_USER + 222;  // posted
inline constexpr unsigned WM_MEAS_IDENTITY = WM_USER + 223;        // sent, from the window's thread
inline constexpr unsigned WM_MEAS_STOP_RETRY = WM_USER + 224;      // posted, by the window's thread
inline constexpr unsigned WM_MEAS_TEMPERATURE = WM_USER + 225;     // sent, waits until handled
static_assert(WM_MEAS_READING == 0x4DC && WM_MEAS_TEMPERATURE == 0x4E1);

// The record passed with WM_MEAS_READING; its 32-bit layout is fixed.
struct ReadingRecord {
    quint32 Index;      // captures before this reading
    quint32 Captured;   // 1: counted, and the window records it
    quint32 Triggered;  // 1: fetched because the trigger input was seen
};
static_assert(sizeof(ReadingRecord) == 12);

// Text buffers in UTF-16 characters, terminator included.
inline constexpr std::size_t ReadingTextSize = 128;
inline constexpr std::size_t IdentityTextSize = 64;  // serial number, model
inline constexpr std::size_t TemperatureTextSize = 64;

// Copies `text` into `buffer`, zero-terminated. A text that does not fit is cut (a cut reading
// still shows its value, which comes first), never at the middle of a surrogate pair.
template <std::size_t N>
void CopyText(char16_t (&buffer)[N], const QString& text) {
    static_assert(N > 0);
    std::size_t length = std::min<std::size_t>(static_cast<std::size_t>(text.size()), N - 1);
    if (length < static_cast<std::size_t>(text.size()) && length > 0 &&
        text.at(static_cast<qsizetype>(length - 1)).isHighSurrogate())
        --length;
    for (std::size_t i = 0; i < length; ++i)
        buffer[i] = text.at(static_cast<qsizetype>(i)).unicode();
    buffer[length] = u'\0';
}

// The text of a zero-terminated buffer that wParam or lParam points to.
[[nodiscard]] inline QString TextAt(quintptr address) {
    return address == 0 ? QString()
                        : QString::fromUtf16(reinterpret_cast<const char16_t*>(address));
}

// What WM_MEAS_READING owns: wParam points to ReadingText, lParam to Record, both in here, so
// a message handled after its run has ended (and its thread object is gone) reads valid memory.
// RunId tells the window which run the reading belongs to, so it can drop one of an earlier run.
class ReadingPayload final : public MessagePayload {
  public:
    char16_t ReadingText[ReadingTextSize] = {};
    ReadingRecord Record = {};
    quint64 RunId = 0;

    [[nodiscard]] WPARAM TextParam() const { return reinterpret_cast<WPARAM>(ReadingText); }
    [[nodiscard]] LPARAM RecordParam() const { return reinterpret_cast<LPARAM>(&Record); }
};

// The payload of a WM_MEAS_READING whose wParam and lParam point into it, or nullptr.
[[nodiscard]] inline const ReadingPayload* ReadingPayloadOf(const MessagePayload* payload) {
    return dynamic_cast<const ReadingPayload*>(payload);
}

}  // namespace lyr
