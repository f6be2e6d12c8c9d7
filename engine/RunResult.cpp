#include "RunResult.h"

#include <windows.h>

#include <cstdio>

#include "res/resource.h"
#include "winfw/Diag.h"

namespace {

struct DownloadEntry {
    DownloadResult download;
    RunResult result;
};

// An unknown status and too many rejected blocks have no message of their own.
const DownloadEntry kDownloadResults[] = {
    {DL_FILE_NOT_FOUND, RUN_DL_FILE_NOT_FOUND},
    {DL_START_WRITE_FAILED, RUN_DL_START_WRITE_FAILED},
    {DL_START_READ_FAILED, RUN_DL_START_READ_FAILED},
    {DL_START_NO_REPLY, RUN_DL_START_NO_REPLY},
    {DL_FILE_OPEN_FAILED, RUN_DL_FILE_OPEN_FAILED},
    {DL_FILE_READ_FAILED, RUN_DL_FILE_READ_FAILED},
    {DL_BLOCK_WRITE_FAILED, RUN_DL_BLOCK_WRITE_FAILED},
    {DL_RESEND_WRITE_FAILED, RUN_DL_RESEND_WRITE_FAILED},
    {DL_READER_STOP, RUN_DL_READER_STOP},
    {DL_REPLY_READ_FAILED, RUN_DL_REPLY_READ_FAILED},
    {DL_NO_REPLY, RUN_DL_NO_REPLY},
};

struct ResultEntry {
    RunResult result;
    unsigned stringId;
};

const ResultEntry kResultMessages[] = {
    {RUN_SUCCEEDED, IDS_UPDATE_SUCCEEDED},
    {RUN_NO_PORT, IDS_NO_PORT_SELECTED},
    {RUN_DESCRIPTION_UNREADABLE, IDS_DESCRIPTION_UNREADABLE},
    {RUN_APPLICATIONS_UNREADABLE, IDS_APPLICATIONS_UNREADABLE},
    {RUN_CONSTRAINTS_NOT_MET, IDS_CONSTRAINTS_NOT_MET},
    {RUN_ANNOUNCE_FAILED, IDS_ANNOUNCE_FAILED},
    {RUN_AUTHORISATION_REFUSED, IDS_AUTHORISATION_REFUSED},
    {RUN_DL_FILE_NOT_FOUND, IDS_DL_FILE_NOT_FOUND},
    {RUN_DL_START_WRITE_FAILED, IDS_DL_START_WRITE},
    {RUN_DL_START_READ_FAILED, IDS_DL_START_READ},
    {RUN_DL_START_NO_REPLY, IDS_DL_START_NO_REPLY},
    {RUN_DL_FILE_OPEN_FAILED, IDS_DL_FILE_OPEN},
    {RUN_DL_FILE_READ_FAILED, IDS_DL_FILE_READ},
    {RUN_DL_BLOCK_WRITE_FAILED, IDS_DL_BLOCK_WRITE},
    {RUN_DL_RESEND_WRITE_FAILED, IDS_DL_RESEND_WRITE},
    {RUN_DL_READER_STOP, IDS_DL_READER_STOP},
    {RUN_DOWNLOAD_UNDEFINED, IDS_DL_UNDEFINED},
    {RUN_DL_REPLY_READ_FAILED, IDS_DL_REPLY_READ},
    {RUN_DL_NO_REPLY, IDS_DL_NO_REPLY},
    {RUN_ACTIVATION_REFUSED, IDS_ACTIVATION_REFUSED},
    {RUN_HARDWARE_MISMATCH, IDS_HARDWARE_MISMATCH},
    {RUN_READER_UNREACHABLE, IDS_READER_UNREACHABLE},
    {RUN_PORT_BUSY, IDS_PORT_BUSY},
    {RUN_READER_UNPLUGGED, IDS_READER_UNPLUGGED},
    {RUN_OTHER_READER_FOUND, IDS_OTHER_READER_FOUND},
    {RUN_INVALID_FILE_NAME, IDS_INVALID_FILE_NAME},
    {RUN_READER_NOT_BACK, IDS_READER_NOT_BACK},
};

} // namespace

RunResult ResultOfDownload(DownloadResult download)
{
    for (const DownloadEntry& entry : kDownloadResults)
        if (entry.download == download)
            return entry.result;
    return RUN_DOWNLOAD_UNDEFINED;
}

unsigned ResultMessageId(RunResult result)
{
    for (const ResultEntry& entry : kResultMessages)
        if (entry.result == result)
            return entry.stringId;
    return IDS_UNKNOWN_ERROR;
}

std::string ResultBoxText(RunResult result)
{
    const unsigned id = ResultMessageId(result);
    const std::string text = LoadResString(id);
    if (result == RUN_SUCCEEDED)
        return text;
    const std::string format = LoadResString(IDS_ERROR_FORMAT);
    char buffer[1024];
    std::snprintf(buffer, sizeof buffer, format.c_str(), id, text.c_str());
    return buffer;
}

unsigned ResultBoxIcon(RunResult result)
{
    return result == RUN_SUCCEEDED ? MB_ICONINFORMATION : MB_ICONERROR;
}
