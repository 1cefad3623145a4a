#pragma once

// Fixed identifiers of LyrLogger's resources: strings, dialog templates, controls, menus and
// commands. Strings and controls are separate name spaces, so a string and a control may share
// a number (string 1011 is the caption of control 1011).

namespace lyr {

// ---- Icon, menu and dialog templates ----
inline constexpr unsigned IDR_MAINFRAME = 128;  // program icon
inline constexpr unsigned IDR_MENU_MAIN = 129;  // menu bar of the main window
inline constexpr unsigned IDD_ABOUTBOX = 100;
inline constexpr unsigned IDD_LYRSAMPLE_DIALOG = 102;
inline constexpr unsigned IDD_SET_DIALOG = 131;
inline constexpr unsigned IDD_COM_TEST_DIALOG = 135;

// ---- Strings ----
inline constexpr unsigned IDS_ABOUTBOX = 101;            // "Version Information LyrLogger(&A)..."
inline constexpr unsigned IDS_VERSION = 103;             // "1.0.0.2"
inline constexpr unsigned IDS_COM_PORT = 104;            // "COM Port:"
inline constexpr unsigned IDS_SAVE_DETAILS = 105;        // "Save Details"
inline constexpr unsigned IDS_DATA_NUMBER = 106;         // "Data Number"
inline constexpr unsigned IDS_DATE = 107;                // "Date"
inline constexpr unsigned IDS_TIME = 108;                // "Time"
inline constexpr unsigned IDS_EXT_TRIGGER_FILTER = 109;  // "EXT Trigger Filter"
inline constexpr unsigned IDS_ENABLE = 110;              // "Enable"
inline constexpr unsigned IDS_SET_DIALOG_TITLE = 111;    // "Capture Settings"
inline constexpr unsigned IDS_CANCEL = 112;              // "Cancel"
inline constexpr unsigned IDS_MENU_SETTINGS = 113;       // "Capture Settings"
inline constexpr unsigned IDS_MENU_HELP = 114;           // "Help"
inline constexpr unsigned IDS_SAVE_FILE = 115;           // "Save File"
inline constexpr unsigned IDS_ABOUT_TITLE = 116;         // "Version Information"
inline constexpr unsigned IDS_COMM_SETTINGS = 117;       // "Communication Settings"
inline constexpr unsigned IDS_BAUD_RATE = 118;           // "Baud Rate:"
inline constexpr unsigned IDS_SERIAL_NONE = 119;         // "Serial No.:  --------"
inline constexpr unsigned IDS_SERIAL_PREFIX = 120;       // "Serial No.: "
inline constexpr unsigned IDS_MENU_COMM_TEST = 121;      // "Communication Settings"
inline constexpr unsigned IDS_SEND_DATA = 122;           // "Send Data:"
inline constexpr unsigned IDS_RECEIVE_DATA = 123;        // "Receive Data:"
inline constexpr unsigned IDS_XXXXX = 124;               // "xxxxx"
inline constexpr unsigned IDS_OPEN = 125;                // "Open"
inline constexpr unsigned IDS_SEND = 126;                // "Send"
inline constexpr unsigned IDS_REFRESH_PORTS = 128;       // "Refresh COM port list"
inline constexpr unsigned IDS_COM_TEST_TITLE = 129;      // "Communication Settings"
inline constexpr unsigned IDS_NOT_DURING_MEASUREMENT = 130;  // "Not available during measurement"
inline constexpr unsigned IDS_FAILED_SAVE_DATA = 131;        // "Failed to save data."
inline constexpr unsigned IDS_STOP_MONITOR = 132;            // "Stop Monitor"
inline constexpr unsigned IDS_PRODUCT_INFO = 133;  // "Display information about the ZORVA product"
inline constexpr unsigned IDS_ASK_SEARCH_ALL = 134;        // "Send "*idn?" to all ports?"
inline constexpr unsigned IDS_FAILED_OPEN_PORT = 135;      // "Failed to open COM port."
inline constexpr unsigned IDS_FAILED_OPEN_EXCEL = 136;     // "Failed to open Excel."
inline constexpr unsigned IDS_FAILED_OPEN_FILE = 137;      // "Failed to open file."
inline constexpr unsigned IDS_SAVE_FORMAT = 138;           // "Save Format(Text)"
inline constexpr unsigned IDS_COMM_TEST = 142;             // "Communication Test"
inline constexpr unsigned IDS_NO_RESPONSE = 143;           // "No response."
inline constexpr unsigned IDS_JUDGMENT = 144;              // "Judgment"
inline constexpr unsigned IDS_SAVE_TO_FILE = 1011;         // "Save to File"
inline constexpr unsigned IDS_SAVE_TO_EXCEL = 1012;        // "Save to Excel"
inline constexpr unsigned IDS_DECIMAL_POINT = 1013;        // "Decimal Point:"
inline constexpr unsigned IDS_SEPARATOR = 1014;            // "Separator:"
inline constexpr unsigned IDS_CAPTURE_METHOD = 1017;       // "Capture Method"
inline constexpr unsigned IDS_CAPTURE_ENTER_KEY = 1018;    // "With Capture button or ENTER key"
inline constexpr unsigned IDS_CAPTURE_EXT_TRIGGER = 1019;  // "With EXT Trigger"
inline constexpr unsigned IDS_CAPTURE_INTERVAL = 1020;     // "At Intervals"
inline constexpr unsigned IDS_SEC = 1021;                  // "sec"
inline constexpr unsigned IDS_TIMES = 1022;                // "Times"
inline constexpr unsigned IDS_MONITOR = 1024;              // "Monitor"
inline constexpr unsigned IDS_START = 1025;                // "Start"
inline constexpr unsigned IDS_CAPTURE = 1026;              // "Capture"
inline constexpr unsigned IDS_STOP = 1027;                 // "Stop"
inline constexpr unsigned IDS_MEASUREMENT_VALUE = 1029;    // "Measurement Value"
inline constexpr unsigned IDS_JUDGE = 1030;                // "Judge"
inline constexpr unsigned IDS_BROWSE = 1031;               // "Browse"
inline constexpr unsigned IDS_COMMA = 1032;                // "Comma( , )"
inline constexpr unsigned IDS_PERIOD = 1033;               // "Period( . )"
inline constexpr unsigned IDS_TAB = 1034;                  // "Tab"
inline constexpr unsigned IDS_SPACE = 1035;                // "Space"
inline constexpr unsigned IDS_SEMICOLON = 1036;            // "Semicolon( ; )"
inline constexpr unsigned IDS_TEMPERATURE = 1037;          // "Temperature"

// Prompts of the dialog data exchange (the framework's own strings, outside the program's
// ranges).
inline constexpr unsigned IDP_PARSE_INT = 0xF110;   // "Please enter an integer."
inline constexpr unsigned IDP_PARSE_REAL = 0xF111;  // "Please enter a number."
inline constexpr unsigned IDP_PARSE_INT_RANGE =
    0xF112;                                         // "Please enter an integer between %1 and %2."
inline constexpr unsigned IDP_PARSE_UINT = 0xF117;  // "Please enter a positive integer."

// ---- Commands ----
inline constexpr unsigned ID_MENU_SETTINGS = 32773;   // opens the settings dialog
inline constexpr unsigned ID_MENU_ABOUT = 32775;      // opens the version dialog
inline constexpr unsigned ID_MENU_COMM_TEST = 32777;  // opens the communication test dialog
// The version item of the main window's context menu (the system menu on Windows); compared
// with its low four bits cleared.
inline constexpr unsigned IDM_ABOUTBOX = 0x0010;

// ---- Controls common to dialogs ----
inline constexpr int IDC_STATIC = -1;  // a control nobody refers to
inline constexpr int IDOK_BUTTON = 1;  // IDOK as a control id
inline constexpr int IDCANCEL_BUTTON = 2;

// ---- Controls of the main window (template 102) ----
inline constexpr int IDC_EDIT_FILE_PATH = 1005;
inline constexpr int IDC_BUTTON_START = 1006;
inline constexpr int IDC_BUTTON_STOP = 1007;
inline constexpr int IDC_BUTTON_MONITOR = 1008;
inline constexpr int IDC_BUTTON_CAPTURE = 1009;
inline constexpr int IDC_RADIO_SAVE_FILE = 1011;
inline constexpr int IDC_RADIO_SAVE_EXCEL = 1012;
inline constexpr int IDC_BUTTON_BROWSE = 1013;
inline constexpr int IDC_RADIO_CAPTURE_ENTER = 1014;
inline constexpr int IDC_RADIO_CAPTURE_TRIGGER = 1015;
inline constexpr int IDC_RADIO_CAPTURE_INTERVAL = 1016;
inline constexpr int IDC_EDIT_INTERVAL = 1018;
inline constexpr int IDC_EDIT_TIMES = 1019;
inline constexpr int IDC_GROUP_VALUE = 1021;
inline constexpr int IDC_STATIC_VALUE = 1022;
inline constexpr int IDC_GROUP_JUDGE = 1023;
inline constexpr int IDC_STATIC_JUDGE = 1024;
inline constexpr int IDC_GROUP_SAVE_FILE = 1030;
inline constexpr int IDC_GROUP_CAPTURE_METHOD = 1033;
inline constexpr int IDC_STATIC_SEC = 1034;
inline constexpr int IDC_STATIC_TIMES = 1035;
inline constexpr int IDC_STATIC_SERIAL = 1036;

// ---- Controls of the version dialog (template 100) ----
inline constexpr int IDC_ABOUT_VERSION = 1036;

// ---- Controls of the settings dialog (template 131) ----
inline constexpr int IDC_SET_PORT_LIST = 1000;  // hidden
inline constexpr int IDC_SET_DATA_NUMBER = 1001;
inline constexpr int IDC_SET_DATE = 1002;
inline constexpr int IDC_SET_TIME = 1003;
inline constexpr int IDC_SET_FILTER_ENABLE = 1004;
inline constexpr int IDC_SET_BAUD_LIST = 1005;  // hidden
inline constexpr int IDC_SET_DECIMAL_LIST = 1006;
inline constexpr int IDC_SET_SEPARATOR_LIST = 1007;
inline constexpr int IDC_SET_JUDGE = 1008;
inline constexpr int IDC_SET_FILTER_TIME = 1014;
inline constexpr int IDC_SET_COM_PORT_LABEL = 1027;  // hidden
inline constexpr int IDC_SET_GROUP_SAVE = 1028;
inline constexpr int IDC_SET_GROUP_FILTER = 1029;
inline constexpr int IDC_SET_GROUP_COMM = 1030;  // hidden
inline constexpr int IDC_SET_BAUD_LABEL = 1031;  // hidden
inline constexpr int IDC_SET_DECIMAL_LABEL = 1032;
inline constexpr int IDC_SET_SEPARATOR_LABEL = 1033;
inline constexpr int IDC_SET_GROUP_FORMAT = 1034;
inline constexpr int IDC_SET_TEMPERATURE = 1037;
inline constexpr int IDC_SET_REFRESH = 3;  // hidden

// ---- Controls of the communication test dialog (template 135) ----
inline constexpr int IDC_COM_SEND = 3;
inline constexpr int IDC_COM_XXXXX = 4;  // hidden
inline constexpr int IDC_COM_OPEN = 5;   // hidden
inline constexpr int IDC_COM_SEARCH = 6;
inline constexpr int IDC_COM_REFRESH = 7;
inline constexpr int IDC_COM_SEND_TEXT = 1005;
inline constexpr int IDC_COM_BAUD_LIST = 1006;
inline constexpr int IDC_COM_PORT_LABEL = 1027;
inline constexpr int IDC_COM_GROUP_SETTINGS = 1030;
inline constexpr int IDC_COM_BAUD_LABEL = 1031;
inline constexpr int IDC_COM_GROUP_TEST = 1032;
inline constexpr int IDC_COM_RECEIVE_TEXT = 1037;
inline constexpr int IDC_COM_SEND_LABEL = 1038;
inline constexpr int IDC_COM_RECEIVE_LABEL = 1039;
inline constexpr int IDC_COM_CANCEL = 1040;
inline constexpr int IDC_COM_PORT_LIST = 1041;

}  // namespace lyr
