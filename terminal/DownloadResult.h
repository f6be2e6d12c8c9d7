// Download result codes: how one file's transfer ended. The run turns each failure into a
// run result (see ResultOfDownload); OrvaneCli's `send` exits with the code itself.
#pragma once

enum DownloadResult : int {
    DL_OK = 0,
    DL_FILE_NOT_FOUND = 1,
    DL_START_WRITE_FAILED = 2,
    DL_START_READ_FAILED = 3,
    DL_START_NO_REPLY = 4,
    // The file's bytes are read whole at its announce: 5 is a download of a file not
    // announced last, and 6 is no longer met.
    DL_FILE_OPEN_FAILED = 5,
    DL_FILE_READ_FAILED = 6,
    DL_BLOCK_WRITE_FAILED = 7,
    DL_RESEND_WRITE_FAILED = 8,
    DL_READER_STOP = 9,
    DL_UNKNOWN_STATUS = 10,
    DL_REPLY_READ_FAILED = 11,
    DL_NO_REPLY = 12,
    // One block rejected more often than any sound reader would: the transfer is given up
    // rather than left to run for ever.
    DL_TOO_MANY_RESENDS = 13,
};
