#include "res/string_table.h"

#include <algorithm>
#include <array>
#include <utility>

#include "res/resource.h"

namespace lyr {

namespace {

struct StringEntry {
    unsigned id;
    const char* text;  // UTF-8
};

// Sorted by id, so a lookup is a binary search.
constexpr StringEntry kStrings[] = {
    {IDS_ABOUTBOX, "Version Information LyrLogger(&A)..."},
    {IDS_VERSION, "1.0.0.2"},
    {IDS_COM_PORT, "COM Port:"},
    {IDS_SAVE_DETAILS, "Save Details"},
    {IDS_DATA_NUMBER, "Data Number"},
    {IDS_DATE, "Date"},
    {IDS_TIME, "Time"},
    {IDS_EXT_TRIGGER_FILTER, "EXT Trigger Filter"},
    {IDS_ENABLE, "Enable"},
    {IDS_SET_DIALOG_TITLE, "Capture Settings"},
    {IDS_CANCEL, "Cancel"},
    {IDS_MENU_SETTINGS, "Capture Settings"},
    {IDS_MENU_HELP, "Help"},
    {IDS_SAVE_FILE, "Save File"},
    {IDS_ABOUT_TITLE, "Version Information"},
    {IDS_COMM_SETTINGS, "Communication Settings"},
    {IDS_BAUD_RATE, "Baud Rate:"},
    {IDS_SERIAL_NONE, "Serial No.:  --------"},
    {IDS_SERIAL_PREFIX, "Serial No.: "},
    {IDS_MENU_COMM_TEST, "Communication Settings"},
    {IDS_SEND_DATA, "Send Data:"},
    {IDS_RECEIVE_DATA, "Receive Data:"},
    {IDS_XXXXX, "xxxxx"},
    {IDS_OPEN, "Open"},
    {IDS_SEND, "Send"},
    {IDS_REFRESH_PORTS, "Refresh COM port list"},
    {IDS_COM_TEST_TITLE, "Communication Settings"},
    {IDS_NOT_DURING_MEASUREMENT, "Not available during measurement"},
    {IDS_FAILED_SAVE_DATA, "Failed to save data."},
    {IDS_STOP_MONITOR, "Stop Monitor"},
    {IDS_PRODUCT_INFO, "Display information about the ZORVA product"},
    {IDS_ASK_SEARCH_ALL, "Send \"*idn?\" to all ports?"},
    {IDS_FAILED_OPEN_PORT, "Failed to open COM port."},
    {IDS_FAILED_OPEN_EXCEL, "Failed to open Excel."},
    {IDS_FAILED_OPEN_FILE, "Failed to open file."},
    {IDS_SAVE_FORMAT, "Save Format(Text)"},
    {IDS_COMM_TEST, "Communication Test"},
    {IDS_NO_RESPONSE, "No response."},
    {IDS_JUDGMENT, "Judgment"},
    {IDS_SAVE_TO_FILE, "Save to File"},
    {IDS_SAVE_TO_EXCEL, "Save to Excel"},
    {IDS_DECIMAL_POINT, "Decimal Point:"},
    {IDS_SEPARATOR, "Separator:"},
    {IDS_CAPTURE_METHOD, "Capture Method"},
    {IDS_CAPTURE_ENTER_KEY, "With Capture button or ENTER key"},
    {IDS_CAPTURE_EXT_TRIGGER, "With EXT Trigger"},
    {IDS_CAPTURE_INTERVAL, "At Intervals"},
    {IDS_SEC, "sec"},
    {IDS_TIMES, "Times"},
    {IDS_MONITOR, "Monitor"},
    {IDS_START, "Start"},
    {IDS_CAPTURE, "Capture"},
    {IDS_STOP, "Stop"},
    {IDS_MEASUREMENT_VALUE, "Measurement Value"},
    {IDS_JUDGE, "Judge"},
    {IDS_BROWSE, "Browse"},
    {IDS_COMMA, "Comma( , )"},
    {IDS_PERIOD, "Period( . )"},
    {IDS_TAB, "Tab"},
    {IDS_SPACE, "Space"},
    {IDS_SEMICOLON, "Semicolon( ; )"},
    {IDS_TEMPERATURE, "Temperature"},
    {IDP_PARSE_INT, "Please enter an integer."},
    {IDP_PARSE_REAL, "Please enter a number."},
    {IDP_PARSE_INT_RANGE, "Please enter an integer between %1 and %2."},
    {IDP_PARSE_UINT, "Please enter a positive integer."},
};

constexpr bool IsSortedById() {
    for (std::size_t i = 1; i < std::size(kStrings); ++i)
        if (kStrings[i - 1].id >= kStrings[i].id) return false;
    return true;
}
static_assert(IsSortedById(), "the string table must be sorted by id without duplicates");

}  // namespace

QString LoadString(unsigned id) {
    const auto* end = std::end(kStrings);
    const auto* it =
        std::lower_bound(std::begin(kStrings), end, id,
                         [](const StringEntry& e, unsigned key) { return e.id < key; });
    if (it == end || it->id != id) return {};
    return QString::fromUtf8(it->text);
}

}  // namespace lyr
