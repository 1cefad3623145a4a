// The trigger input read: ParseTriggerInput on arbitrary answers to "io:input?", as the link
// makes them (one Latin-1 character per byte).
//
// Beyond not crashing: only bit 0 of the value decides whether the next reading is a capture,
// so it is checked against the hexadecimal reading of the text: blanks, a sign, an optional
// "0x", then hexadecimal digits; a value beyond the range of long reads as its nearest end.
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <QString>

#include "measure/meas_thread.h"

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "trigger_input_fuzz: %s\n", what);
    std::abort();
}

int HexDigit(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Bit 0 of the text read in base 16.
bool LowBit(const std::uint8_t* data, std::size_t size) {
    std::size_t i = 0;
    while (i < size && std::isspace(data[i])) ++i;
    bool negative = false;
    if (i < size && (data[i] == '+' || data[i] == '-')) negative = data[i++] == '-';
    // strtol takes "0x" only when a digit follows it; otherwise the "0" alone is the number.
    if (i + 2 < size && data[i] == '0' && (data[i + 1] | 0x20) == 'x' && HexDigit(data[i + 2]) >= 0)
        i += 2;
    unsigned __int128 magnitude = 0;
    bool any = false;
    int last = 0;
    for (; i < size && HexDigit(data[i]) >= 0; ++i) {
        any = true;
        last = HexDigit(data[i]);
        if (magnitude <= static_cast<unsigned __int128>(ULONG_MAX))
            magnitude = magnitude * 16 + last;
    }
    if (!any) return false;
    const auto limit = static_cast<unsigned __int128>(LONG_MAX);
    if (!negative && magnitude > limit) return (LONG_MAX & 1) != 0;
    if (negative && magnitude > limit + 1) return (LONG_MIN & 1) != 0;
    return (last & 1) != 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString reply =
        QString::fromLatin1(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto value = lyr::ParseTriggerInput(reply);
    if (((value & 1) != 0) != LowBit(data, size)) Fail("bit 0 differs from the hexadecimal text");
    return 0;
}
