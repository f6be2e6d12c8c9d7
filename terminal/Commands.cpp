// Loader commands of CTerminal: one command frame each, one reply decoded.
#include <cstring>
#include <vector>

#include "LinkTexts.h"
#include "Terminal.h"
#include "package/PackageFolder.h"
#include "res/resource.h"
#include "winfw/Diag.h"
#include "winfw/Handle.h"
#include "winfw/OsSeam.h"
#include "winfw/Sha256.h"

using namespace proto;
using namespace linktext;

namespace {

constexpr DWORD kWaitBeforeDescription = 3000;
constexpr DWORD kWaitAfterApplicationName = 100;
constexpr DWORD kWaitForActivation = 10000;
constexpr int kProbeASends = 3;
constexpr int kActivationExtraReads = 3;

const char kWriteProblem[] = "Probl\xE8me d'ecriture sur le port";
const char kReadProblem[] = "Probl\xE8me de lecture sur le port";

// The size of an open file; NotRead, with the system's error, when it cannot be had.
FileSizeRead SizeOfOpenFile(HANDLE file, long long* size, DWORD* systemError)
{
    DWORD high = 0;
    const DWORD low = Os().GetFileSize(file, &high);
    const DWORD error = low == INVALID_FILE_SIZE ? Os().GetLastError() : NO_ERROR;
    if (error != NO_ERROR) {
        if (systemError != nullptr)
            *systemError = error;
        return FileSizeRead::NotRead;
    }
    *size = static_cast<long long>((static_cast<unsigned long long>(high) << 32) | low);
    return FileSizeRead::Ok;
}

// Fills `content` from the file's start; false when a read fails (its error given) or the
// file ends before the content does (no error).
bool ReadWhole(HANDLE file, std::vector<std::uint8_t>& content, DWORD* error)
{
    const DWORD size = static_cast<DWORD>(content.size());
    DWORD taken = 0;
    while (taken < size) {
        DWORD read = 0;
        if (!Os().ReadFile(file, content.data() + taken, size - taken, &read, nullptr)) {
            *error = Os().GetLastError();
            return false;
        }
        if (read == 0 || read > size - taken)
            return false;
        taken += read;
    }
    return true;
}

// Whether the loader took a command, by its status reply; why not is logged.
bool StatusAccepted(const std::uint8_t (&reply)[kReplySize], DWORD count)
{
    const char* refusal = reply[kStatusOffset] == ACK_KO ? kAckKo : count == 0 ? kNoData : nullptr;
    if (refusal != nullptr)
        LogLine("%s", refusal);
    return refusal == nullptr;
}

} // namespace

CString UpperAnsi(CString text)
{
    if (!text.empty())
        ::CharUpperBuffA(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

CString AnnouncedNameOfPath(const CString& path) { return UpperAnsi(FileNameOfPath(path)); }

bool CTerminal::ExchangeCommand(const std::uint8_t (&command)[kCommandFrameSize],
                                std::uint8_t* reply, DWORD replySize, DWORD* received,
                                const char* writeError, const char* readError)
{
    if (!WriteFrame(command, sizeof command, received)) {
        ReportPortFailure(writeError);
        return false;
    }
    if (!ReadReply(reply, replySize, received)) {
        ReportPortFailure(readError);
        return false;
    }
    return true;
}

bool CTerminal::SendCommand(std::uint8_t code, std::uint8_t (&reply)[kReplySize], DWORD* received,
                            const char* writeError, const char* readError)
{
    std::uint8_t command[kCommandFrameSize];
    BuildCommandFrame(code, command);
    return ExchangeCommand(command, reply, sizeof reply, received, writeError, readError);
}

bool CTerminal::ProbeLoader()
{
    std::uint8_t reply[kProbeReplySize] = {};
    DWORD count = 0;
    bool answered = false;
    for (int send = 0; send < kProbeASends && !answered; ++send) {
        if (!WriteFrame(kProbeA, sizeof kProbeA, &count) || !ReadReply(reply, sizeof reply, &count))
            return false;
        answered = count > 0;
    }
    if (!answered)
        return false;
    // Probe B's reply lands over probe A's: bytes it does not cover keep A's values.
    if (!WriteFrame(kProbeB, sizeof kProbeB, &count) || !ReadReply(reply, kProbeBReplySize, &count))
        return false;
    if (ProbeReplySaysLoaderAbsent(reply)) {
        LogLine("Chargeur KAVRON Sante non pr\xE9sent sur le terminal");
        ShowMessage(LoadResString(IDS_LOADER_ABSENT), MB_OK | MB_ICONHAND);
        return false;
    }
    return ProbeReplyHoldsLoaderMark(reply);
}

bool CTerminal::ReadTerminalDescription(TerminalDescription* description)
{
    std::uint8_t command[kCommandFrameSize];
    BuildCommandFrame(CMD_READ_DESCRIPTION, command);
    Os().Sleep(kWaitBeforeDescription);

    DWORD count = 0;
    std::uint8_t reply[kDescriptionFrameSize] = {};
    if (!ExchangeCommand(command, reply, sizeof reply, &count, kCannotWrite, kCannotRead))
        return false;
    const DescriptionFrameVerdict verdict = DescriptionOfFrame(reply, description);
    if (verdict == DescriptionFrameVerdict::BadCrc) {
        Fault("CRC incoherent");
        return false;
    }
    if (verdict != DescriptionFrameVerdict::Ok)
        return false;
    LogLine("Donnee hTerminal enregistree");
    return true;
}

bool CTerminal::ReadApplicationNames(CStringList& names)
{
    std::uint8_t command[kCommandFrameSize];
    BuildCommandFrame(CMD_LIST_APPLICATIONS, command);
    DWORD count = 0;
    if (!WriteFrame(command, sizeof command, &count)) {
        ReportPortFailure(kCannotWrite);
        return false;
    }
    names.RemoveAll();

    std::uint8_t reply[kReplySize] = {};
    for (;;) {
        if (!ReadReply(reply, sizeof reply, &count)) {
            ReportPortFailure(kCannotRead);
            return false;
        }
        if (reply[1] == 0)
            return true;
        if (names.GetCount() >= kMaxApplicationNames) {
            Fault("Liste des applications trop longue");
            return false;
        }
        Os().Sleep(kWaitAfterApplicationName);
        const CString name = ApplicationNameOfReply(reply);
        names.AddTail(name);
        LogLine("Applications presentes sur le terminal : %s", name.c_str());
        std::memset(reply, 0, sizeof reply);
    }
}

FileSizeRead ReadFileSize(const CString& path, long long* size, DWORD* systemError)
{
    ScopedHandle file(Os().CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) {
        if (systemError != nullptr)
            *systemError = Os().GetLastError();
        return FileSizeRead::NotOpened;
    }
    return SizeOfOpenFile(file.Get(), size, systemError);
}

bool ReadFileSha256(const CString& path, std::string* sha256)
{
    ScopedHandle file(Os().CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    long long size = 0;
    if (!file.IsValid() || SizeOfOpenFile(file.Get(), &size, nullptr) != FileSizeRead::Ok ||
        !AnnounceableSize(size))
        return false;
    std::vector<std::uint8_t> content(static_cast<std::size_t>(size));
    DWORD error = NO_ERROR;
    return ReadWhole(file.Get(), content, &error) &&
           Sha256Hex(content.data(), content.size(), sha256);
}

bool CTerminal::AnnounceFile(const CString& path, const CString& moduleName)
{
    ReleaseHeldFile();
    if (!FileExists(path.c_str())) {
        LogLine("Impossible de trouver le fichier %s", path.c_str());
        return false;
    }
    if (!HoldFile(path))
        return false;
    m_moduleName = moduleName;
    return SendAnnounce();
}

bool CTerminal::AnnounceAgain(const CString& path, const CString& moduleName)
{
    if (m_heldPath.empty() || path != m_heldPath)
        return AnnounceFile(path, moduleName);
    m_moduleName = moduleName;
    return SendAnnounce();
}

void CTerminal::ReleaseHeldFile()
{
    m_heldPath.clear();
    m_heldContent.clear();
    m_fileSha256.clear();
    m_fileSize = 0;
}

bool CTerminal::HoldFile(const CString& path)
{
    // Without write sharing, nobody can change the file while it is read: the bytes held are
    // one state of it, whatever happens to it afterwards.
    ScopedHandle file(Os().CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) {
        // A file that cannot be opened has no size to announce.
        const DWORD error = Os().GetLastError();
        LogLine("Impossible d'ouvrir le fichier %s", path.c_str());
        LogSystemError(error);
        return false;
    }
    long long size = 0;
    DWORD sizeError = NO_ERROR;
    if (SizeOfOpenFile(file.Get(), &size, &sizeError) != FileSizeRead::Ok) {
        LogLine("Impossible de lire la taille du fichier %s", path.c_str());
        LogSystemError(sizeError);
        return false;
    }
    // The six size digits are all the frame has: a larger file would be announced with a
    // wrong size, so it is not announced at all.
    if (!AnnounceableSize(size)) {
        LogLine("Fichier trop volumineux pour etre annonce : %s", path.c_str());
        return false;
    }
    std::vector<std::uint8_t> content(static_cast<std::size_t>(size));
    DWORD error = NO_ERROR;
    if (!ReadWhole(file.Get(), content, &error)) {
        LogLine("Impossible de lire le fichier %s", path.c_str());
        if (error != NO_ERROR)
            LogSystemError(error);
        return false;
    }
    if (!Sha256Hex(content.data(), content.size(), &m_fileSha256))
        m_fileSha256.clear();
    m_heldContent.swap(content);
    m_heldPath = path;
    m_fileSize = static_cast<std::int32_t>(m_heldContent.size());
    return true;
}

bool CTerminal::SendAnnounce()
{
    // The 22 name bytes are all the frame has for the name.
    const CString& path = m_heldPath;
    const CString name = AnnouncedNameOfPath(path);
    std::uint8_t command[kCommandFrameSize];
    if (!BuildAnnounceFrame(m_fileSize, name, command)) {
        LogLine("Nom de fichier trop long pour etre annonce : %s", path.c_str());
        return false;
    }
    LogLine("Taille du fichier %s : %ld octets, SHA-256 : %s", path.c_str(),
            static_cast<long>(m_fileSize),
            m_fileSha256.empty() ? "non calcule" : m_fileSha256.c_str());

    DWORD count = 0;
    std::uint8_t reply[kReplySize] = {};
    return ExchangeCommand(command, reply, sizeof reply, &count, kCannotWrite, kCannotRead) &&
           StatusAccepted(reply, count);
}

bool CTerminal::RequestAuthorisation()
{
    DWORD count = 0;
    std::uint8_t reply[kReplySize] = {};
    if (!SendCommand(CMD_AUTHORISE, reply, &count, kCannotWrite, kCannotRead))
        return false;
    if (reply[kStatusOffset] == ACK_REFUSED) {
        LogLine("Trame recue, autorisation refusee");
        return false;
    }
    return true;
}

bool CTerminal::ActivateModules()
{
    DWORD count = 0;
    std::uint8_t reply[kReplySize] = {};
    if (!SendCommand(CMD_ACTIVATE, reply, &count, kWriteProblem, kReadProblem))
        return false;
    for (int extra = 0; count == 0 && extra < kActivationExtraReads; ++extra) {
        Os().Sleep(kWaitForActivation);
        if (!ReadReply(reply, sizeof reply, &count)) {
            ReportPortFailure(kReadProblem);
            return false;
        }
    }
    return StatusAccepted(reply, count);
}

bool CTerminal::RestartTerminal()
{
    DWORD count = 0;
    std::uint8_t reply[kReplySize] = {};
    if (!SendCommand(CMD_RESTART, reply, &count, kWriteProblem, kReadProblem) ||
        !StatusAccepted(reply, count))
        return false;
    LogLine("Fin du chargement");
    return true;
}
