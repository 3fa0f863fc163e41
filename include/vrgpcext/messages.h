// The numbers a user, a log reader and a report server see: the messages
// the extension shows (each is also the error code of its failure report),
// the report codes that are not messages, and the results an on-demand
// caller receives. docs/admin.md gives each message's text, cause and remedy.
#pragma once

// Message ids: string ids of the library's string table, shown through the
// message window and sent to the page's "LoggingURL" as ErrorCode.
enum GpcMessage {
    GPC_MSG_NO_COMPONENT_NAME = 1,      // the page gives no "GpcComponentName"
    GPC_MSG_BAD_URL_ROOT = 2,           // "GpcUrlRoot" missing or too long, or a product root or version that leads out
    GPC_MSG_FILE_ERROR = 3,             // kept in the string table, never raised
    GPC_MSG_OS_NOT_SUPPORTED = 4,       // no manifest name for this platform (argument: the title)
    GPC_MSG_NO_MANIFEST = 5,            // the manifest's download brought no file
    GPC_MSG_DOWNLOAD_FAILED = 6,        // a file's download brought no file (argument: its Url)
    GPC_MSG_INSTALL_FAILED = 7,         // a file could not be written or unpacked (argument: its name)
    GPC_MSG_RESTART_NEEDED = 8,         // a busy file is replaced at the next restart (argument: the title)
    GPC_MSG_REGISTER_FAILED = 9,        // an installed file's action failed (argument: its path)
    GPC_MSG_LOCATION_FAILED = 10,       // a script's location call failed (argument: the call)
    GPC_MSG_NO_URL_AT_INDEX = 11,       // a script's "#LPARAM" names no entry of "GpcUrls"
    GPC_MSG_SCRIPT_SYNTAX = 12,         // a call script does not parse (argument: the parser's text)
    GPC_MSG_SCRIPT_CALL_FAILED = 13,    // a script's call failed (arguments: HRESULT, method)
    GPC_MSG_SCRIPT_NO_MEMORY = 14,      // a script could not run (argument: HRESULT)
    GPC_MSG_NO_DOWNLOADED_FILE = 15,    // an installation was handed no file (argument: the name)
    GPC_MSG_CONTROL_NOT_CREATED = 16,   // the ActiveX main component was not created (argument: ProgID)
    GPC_MSG_COMPONENT_NOT_LISTED = 17,  // no item is named "GpcComponentName" (argument: the name)
    GPC_MSG_COMPONENT_NOT_LOADED = 18,  // the main component library did not load (argument: its path)
    GPC_MSG_UNUSED_19 = 19,             // kept in the string table, never raised
    GPC_MSG_UNUSED_20 = 20,             // kept in the string table, never raised
    GPC_MSG_NEED_ADMIN = 21,            // a system folder needs an administrator (argument: the name)
    GPC_MSG_ALREADY_RUNNING = 22,       // a second instance in one loaded library (shown by the host)
    GPC_MSG_MANIFEST_REFUSED = 23,      // a configured key refused the manifest (argument: why)
};

// Report codes that are not message ids.
enum GpcReportCode {
    GPC_REPORT_READY_TEXT = 0,    // a ready text was shown ("connectmsg", "Meeting halt!!")
    GPC_REPORT_CANCELLED = 901,   // the user pressed Cancel in a progress window
};

// The result of one file of an on-demand request (GpcOdeCallback, kind
// GPC_ODE_FILE_DONE; the section's notice carries the lowest counted one).
// Every result but GPC_ODE_RESULT_OK and GPC_ODE_RESULT_CANCELLED is also
// reported to "LoggingURL" with the file's name.
enum GpcOdeResult {
    GPC_ODE_RESULT_OK = 0,                // installed, or already current
    GPC_ODE_RESULT_NOT_DOWNLOADED = -1,   // the download brought no file; also a halted request
    GPC_ODE_RESULT_NOT_WRITABLE = -2,     // the destination could not be written
    GPC_ODE_RESULT_UNPACK_FAILED = -3,    // the unpack failed, or the file was refused (hash)
    GPC_ODE_RESULT_RESTART_NEEDED = -4,   // installed beside a busy file; replaced at the next restart
    GPC_ODE_RESULT_NO_FILE = -5,          // the installation was handed no file
    GPC_ODE_RESULT_CANCELLED = -7,        // the request was cancelled
    GPC_ODE_RESULT_NEED_ADMIN = -100,     // a system folder needs an administrator
};
