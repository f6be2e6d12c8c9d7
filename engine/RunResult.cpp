#include "RunResult.h"

#include <windows.h>

#include <cstdio>

#include "res/resource.h"
#include "winfw/Diag.h"

namespace {

struct ResultEntry {
    int result;
    unsigned stringId;
};

const ResultEntry kResultMessages[] = {
    {0, IDS_UPDATE_SUCCEEDED},
    {1, IDS_NO_PORT_SELECTED},
    {2, IDS_DESCRIPTION_UNREADABLE},
    {3, IDS_APPLICATIONS_UNREADABLE},
    {4, IDS_CONSTRAINTS_NOT_MET},
    {5, IDS_ANNOUNCE_FAILED},
    {6, IDS_AUTHORISATION_REFUSED},
    {7, IDS_DL_FILE_NOT_FOUND},
    {8, IDS_DL_START_WRITE},
    {9, IDS_DL_START_READ},
    {10, IDS_DL_START_NO_REPLY},
    {11, IDS_DL_FILE_OPEN},
    {12, IDS_DL_FILE_READ},
    {13, IDS_DL_BLOCK_WRITE},
    {14, IDS_DL_RESEND_WRITE},
    {15, IDS_DL_READER_STOP},
    {16, IDS_DL_UNDEFINED},
    {17, IDS_DL_REPLY_READ},
    {18, IDS_DL_NO_REPLY},
    {19, IDS_ACTIVATION_REFUSED},
    {20, IDS_HARDWARE_MISMATCH},
    {21, IDS_READER_UNREACHABLE},
    {24, IDS_OTHER_READER_FOUND},
};

} // namespace

int ResultOfDownload(int downloadCode)
{
    // Download codes 1 to 9 map in order onto 7 to 15; 11 and 12 have their own results.
    if (downloadCode >= 1 && downloadCode <= 9)
        return downloadCode + 6;
    if (downloadCode == 11)
        return 17;
    if (downloadCode == 12)
        return 18;
    return RUN_DOWNLOAD_UNDEFINED;
}

unsigned ResultMessageId(int result)
{
    for (const ResultEntry& entry : kResultMessages)
        if (entry.result == result)
            return entry.stringId;
    return IDS_UNKNOWN_ERROR;
}

std::string ResultBoxText(int result)
{
    const unsigned id = ResultMessageId(result);
    const std::string text = LoadResString(id);
    if (result == RUN_SUCCEEDED)
        return text;
    char buffer[1024];
    std::snprintf(buffer, sizeof buffer, "Erreur %u:\n%s", id, text.c_str());
    return buffer;
}

unsigned ResultBoxIcon(int result)
{
    return result == RUN_SUCCEEDED ? MB_ICONINFORMATION : MB_ICONERROR;
}
