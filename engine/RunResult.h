// Run result codes: what a run leaves for the main window, and the message each shows.
// The numbers are what operators, scripts and OrvaneCli's exit code know: they never change.
#pragma once
#include <string>

#include "terminal/DownloadResult.h"

enum RunResult : int {
    RUN_SUCCEEDED = 0,
    RUN_NO_PORT = 1,
    RUN_DESCRIPTION_UNREADABLE = 2,
    RUN_APPLICATIONS_UNREADABLE = 3,
    RUN_CONSTRAINTS_NOT_MET = 4,
    RUN_ANNOUNCE_FAILED = 5,
    RUN_AUTHORISATION_REFUSED = 6,
    // 7 to 18: a download failed (see ResultOfDownload).
    RUN_DL_FILE_NOT_FOUND = 7,
    RUN_DL_START_WRITE_FAILED = 8,
    RUN_DL_START_READ_FAILED = 9,
    RUN_DL_START_NO_REPLY = 10,
    RUN_DL_FILE_OPEN_FAILED = 11,
    RUN_DL_FILE_READ_FAILED = 12,
    RUN_DL_BLOCK_WRITE_FAILED = 13,
    RUN_DL_RESEND_WRITE_FAILED = 14,
    RUN_DL_READER_STOP = 15,
    RUN_DOWNLOAD_UNDEFINED = 16,
    RUN_DL_REPLY_READ_FAILED = 17,
    RUN_DL_NO_REPLY = 18,
    // The reader refused the final activation: the files are on it but not in use.
    RUN_ACTIVATION_REFUSED = 19,
    RUN_HARDWARE_MISMATCH = 20,
    RUN_READER_UNREACHABLE = 21,
    // Another program (the practice software) holds the reader's port.
    RUN_PORT_BUSY = 22,
    // The reader's port went away during the run: its cable was pulled.
    RUN_READER_UNPLUGGED = 23,
    // Another device answered where the reader came back after its restart: nothing more
    // was sent to it.
    RUN_OTHER_READER_FOUND = 24,
    // The catalogue's load list names something other than a file of the package folder:
    // nothing of the list was opened or sent.
    RUN_INVALID_FILE_NAME = 25,
    // Asked to prove the update, the run found no answer from the reader after its final
    // restart.
    RUN_READER_NOT_BACK = 26,
};

// The highest run result: the console's own exit codes start above it.
constexpr int kLastRunResult = RUN_READER_NOT_BACK;

// The run result of a failed download; every code without its own entry gives
// RUN_DOWNLOAD_UNDEFINED.
RunResult ResultOfDownload(DownloadResult download);

// The string-table id of a run result's message; IDS_UNKNOWN_ERROR for a code outside the
// table.
unsigned ResultMessageId(RunResult result);

// What the operator reads after a run: the success message, or "Erreur N:" and the
// message, N being the message's id. The strings come from the program's string table.
std::string ResultBoxText(RunResult result);
// MB_ICONINFORMATION for success, MB_ICONERROR for every other code.
unsigned ResultBoxIcon(RunResult result);
