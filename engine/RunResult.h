// Run result codes: what a run leaves for the main window, and the message each shows.
#pragma once
#include <string>

enum RunResult : int {
    RUN_SUCCEEDED = 0,
    RUN_NO_PORT = 1,
    RUN_DESCRIPTION_UNREADABLE = 2,
    RUN_APPLICATIONS_UNREADABLE = 3,
    RUN_CONSTRAINTS_NOT_MET = 4,
    RUN_ANNOUNCE_FAILED = 5,
    RUN_AUTHORISATION_REFUSED = 6,
    // 7 to 18: a download failed (see ResultOfDownload).
    RUN_DOWNLOAD_UNDEFINED = 16,
    // The reader refused the final activation: the files are on it but not in use.
    RUN_ACTIVATION_REFUSED = 19,
    RUN_HARDWARE_MISMATCH = 20,
    RUN_READER_UNREACHABLE = 21,
    // Another device answered where the reader came back after its restart: nothing more
    // was sent to it.
    RUN_OTHER_READER_FOUND = 24,
};

// The run result of a failed download code; every code without its own entry gives 16.
int ResultOfDownload(int downloadCode);

// The string-table id of a run result's message; 125 for a code outside the table.
unsigned ResultMessageId(int result);

// What the operator reads after a run: the success message, or "Erreur %d:\n%s" filled
// with the message's id and text. The strings come from the program's string table.
std::string ResultBoxText(int result);
// MB_ICONINFORMATION for success, MB_ICONERROR for every other code.
unsigned ResultBoxIcon(int result);
