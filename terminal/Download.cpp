// DownloadFile: one package file sent to the loader in acknowledged 122-byte blocks, taken
// from the bytes its announce read.
#include <algorithm>
#include <cstring>

#include "LinkTexts.h"
#include "Terminal.h"
#include "package/PackageFolder.h"
#include "winfw/Diag.h"
#include "winfw/OsSeam.h"

using namespace proto;
using namespace linktext;

struct DownloadState {
    std::uint8_t frame[kBlockFrameSize] = {};
    std::uint8_t reply[kReplySize] = {};
    std::uint16_t blockNumber = 0;
    std::int32_t bytesSent = 0;
    int resendsOfBlock = 0;
    // The block in hand or its reply met a line error: it goes again.
    bool lineError = false;
    DownloadResult code = DL_OK;
};

namespace {

constexpr DWORD kWaitPerTurn = 1;

// A reader that rejects or stops on the last block has not taken the whole file: that
// reply is acted on like any other, never reported as a success; nor is a last block
// whose write or reply met a line error.
bool LastBlockNotTaken(const DownloadState& s)
{
    return s.lineError || s.reply[kStatusOffset] == ACK_KO || s.reply[kStatusOffset] == ACK_STOP;
}

} // namespace

DownloadResult CTerminal::DownloadFile(const CString& path)
{
    DownloadState s;
    s.code = StartDownload(path, s);
    if (s.code == DL_OK) {
        NotifyModule();
        NotifyPercent(); // still the previous file's percentage, as the window expects
        LogLine("Chargement de l'application %s", path.c_str());
        while (m_fileSize > 0 && s.code == DL_OK &&
               (s.bytesSent < m_fileSize || LastBlockNotTaken(s)))
            s.code = DownloadTurn(s);
    }
    // Whatever the reader sends after the transfer is taken off the line.
    std::memset(s.reply, 0, sizeof s.reply);
    DWORD count = 0;
    if (!ReadReply(s.reply, sizeof s.reply, &count) && m_ioRefusedBySystem)
        ClearLineErrors();
    return s.code;
}

DownloadResult CTerminal::StartDownload(const CString& path, DownloadState& s)
{
    std::uint8_t command[kCommandFrameSize];
    BuildCommandFrame(CMD_DOWNLOAD, command);
    std::memcpy(s.frame, command, sizeof command);
    if (!FileExists(path.c_str())) {
        LogLine("Fichier non trouve : %s", path.c_str());
        return DL_FILE_NOT_FOUND;
    }
    DWORD count = 0;
    if (!WriteFrame(s.frame, kCommandFrameSize, &count)) {
        ReportPortFailure(kCannotWrite);
        return DL_START_WRITE_FAILED;
    }
    if (!ReadReply(s.reply, sizeof s.reply, &count)) {
        ReportPortFailure(kCannotRead);
        return DL_START_READ_FAILED;
    }
    if (count == 0) {
        LogLine("%s", kNoData);
        return DL_START_NO_REPLY;
    }
    // Only the bytes the announce read are sent: never another file, nor this one as it
    // may have become since.
    if (path != m_heldPath)
        return DL_FILE_OPEN_FAILED;
    return DL_OK;
}

// One turn: act on the last reply (or on a line error), then read the next one.
DownloadResult CTerminal::DownloadTurn(DownloadState& s)
{
    Os().Sleep(kWaitPerTurn);
    DownloadResult code = DL_OK;
    if (s.lineError) {
        s.lineError = false;
        code = ResendBlock(s, "Erreur de ligne, reemission de la trame");
    } else {
        switch (s.reply[kStatusOffset]) {
        case ACK_NEXT: code = SendNextBlock(s); break;
        case ACK_KO: code = ResendBlock(s, "Acquittement KO, reemission de la trame"); break;
        case ACK_STOP:
            LogLine("Acquittement STOP, erreur critique, arret du chargement du module...");
            code = DL_READER_STOP;
            break;
        default: code = DL_UNKNOWN_STATUS; break;
        }
    }
    if (code == DL_TOO_MANY_RESENDS)
        return code;
    // A block refused by a line error never went whole: no reply to wait for.
    if (s.lineError)
        return code;
    const DownloadResult replyCode = ReadBlockReply(s);
    return replyCode != DL_OK ? replyCode : code;
}

DownloadResult CTerminal::SendNextBlock(DownloadState& s)
{
    // Never more than was announced: the held bytes are the announce's.
    const std::size_t count = static_cast<std::size_t>(
        std::min<std::int32_t>(static_cast<std::int32_t>(kBlockDataMax), m_fileSize - s.bytesSent));
    const std::uint8_t* data = m_heldContent.data() + s.bytesSent;
    BuildBlockFrame(s.blockNumber++, data, count, s.frame);
    s.resendsOfBlock = 0;
    s.bytesSent += static_cast<std::int32_t>(count);
    m_percent = static_cast<std::int32_t>(static_cast<std::int64_t>(s.bytesSent) * 100 / m_fileSize);
    NotifyPercent();
    return WriteBlock(s, DL_BLOCK_WRITE_FAILED);
}

DownloadResult CTerminal::ResendBlock(DownloadState& s, const char* why)
{
    if (++s.resendsOfBlock > kMaxResendsPerBlock) {
        LogLine("Trop de rejets de la trame, arret du chargement du module...");
        return DL_TOO_MANY_RESENDS;
    }
    LogLine("%s", why);
    StoreCrc(s.frame, kBlockFrameSize - 2);
    return WriteBlock(s, DL_RESEND_WRITE_FAILED);
}

DownloadResult CTerminal::WriteBlock(DownloadState& s, DownloadResult failure)
{
    DWORD count = 0;
    if (WriteFrame(s.frame, kBlockFrameSize, &count))
        return DL_OK;
    if (ReportPortFailure(kCannotWrite) == 0)
        return failure;
    s.lineError = true;
    return DL_OK;
}

DownloadResult CTerminal::ReadBlockReply(DownloadState& s)
{
    std::memset(s.reply, 0, sizeof s.reply);
    DWORD count = 0;
    if (!ReadReply(s.reply, sizeof s.reply, &count)) {
        if (ReportPortFailure(kCannotRead) == 0)
            return DL_REPLY_READ_FAILED;
        s.lineError = true;
        return DL_OK;
    }
    if (count == 0) {
        LogLine("%s", kNoData);
        return DL_NO_REPLY;
    }
    if (count < sizeof s.reply) {
        DWORD more = 0;
        // The rest of a reply that a line error cut is no reply to act on.
        if (!ReadReply(s.reply + count, static_cast<DWORD>(sizeof s.reply - count), &more) &&
            m_ioRefusedBySystem && ClearLineErrors() != 0)
            s.lineError = true;
    }
    return DL_OK;
}
