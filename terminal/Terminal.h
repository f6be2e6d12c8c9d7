// CTerminal: the link to the reader's loader over one COM port for one update run.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Description.h"
#include "DownloadResult.h"
#include "Protocol.h"
#include "winfw/Strings.h"

// The name a file is announced under: the part of its path after the last backslash,
// upper-cased in the process's ANSI code page.
CString AnnouncedNameOfPath(const CString& path);

// The text in upper case, in the process's ANSI code page.
CString UpperAnsi(CString text);

class CTerminal;

// A package file's size, the file opened for reading through the seam; how it failed
// otherwise (`size` is then left as it was, and `systemError`, when given, says why).
enum class FileSizeRead { Ok, NotOpened, NotRead };
FileSizeRead ReadFileSize(const CString& path, long long* size, DWORD* systemError = nullptr);
// The SHA-256 of a package file's bytes as they would be announced; false when it cannot be
// read whole or is too large to announce.
bool ReadFileSha256(const CString& path, std::string* sha256);

// The link as an update uses it once the reader is found: 115200 baud 8N1, a 100 ms pause,
// then 5000 ms time-outs. False when the port refused either: the reader cannot be reached.
[[nodiscard]] bool ConfigureUpdateLink(CTerminal& terminal);

// Working state of one download.
struct DownloadState;

// What stopped a package check: the section of the package file (an option section of the
// catalogue, PRESENCE or EXCLUSION) and what failed in it; no section when the file
// itself could not be used.
struct PackageRefusal {
    CString section;
    CString reason;
};

// A model's catalogue in the package folder, and the words that say it was taken.
CString CatalogueOf(const char* modelCode);
CString CatalogueTakenText(const CString& path);

// Who hears of a transfer's progress besides the callbacks: the run, which hands each
// figure and module name to its view. Called on the worker, just before the callback of
// the same event.
class ProgressSink {
public:
    virtual void OnModule(const CString& module) = 0;
    virtual void OnPercent(int percent) = 0;

protected:
    ~ProgressSink() = default;
};

// Callbacks only post a window message and return at once.
typedef int (*TerminalCallback)(std::uint32_t context);

class CTerminal {
public:
    // A block rejected this many times in a row ends the download.
    static constexpr int kMaxResendsPerBlock = 50;
    // Far more applications than a reader holds: a list that goes on past this never ends.
    static constexpr std::size_t kMaxApplicationNames = 256;
    static constexpr int kUsbLookupAttempts = 3;
    static constexpr std::size_t kDriverKeyLength = 100;

    CTerminal();
    ~CTerminal();
    CTerminal(const CTerminal&) = delete;
    CTerminal& operator=(const CTerminal&) = delete;

    // Port channel.
    bool OpenPort(const CString& name);
    bool ClosePort();
    bool ConfigurePort(int baud, int stopBits, int parity, int byteSize);
    BOOL SetPortTimeouts(DWORD readInterval, DWORD readMultiplier, DWORD readConstant,
                         DWORD writeConstant, DWORD writeMultiplier);
    bool IsOpen() const { return m_hPort != nullptr && m_hPort != INVALID_HANDLE_VALUE; }
    // Why the last OpenPort failed: another program holds the port, or no such port
    // exists (a USB serial port whose device was unplugged).
    enum class OpenFailure { None, Busy, Absent, Other };
    OpenFailure GetOpenFailure() const { return m_openFailure; }
    // After a failure on the port: closes it and tells whether it has gone (it no longer
    // opens: a USB serial port whose cable was pulled). The port stays closed.
    bool PortHasGone();
    // From now on a read that fails or brings nothing, and a write that fails, ask whether
    // the port's device is still there; once it is gone, every read and write fails at
    // once instead of waiting out its time-out. Set for the update, not for the search.
    void WatchForRemoval() { m_watchRemoval = true; }

    bool ComputeCrc(const std::uint8_t* data, int length, std::uint8_t* out) const;

    // Loader commands.
    bool ProbeLoader();
    bool ReadTerminalDescription(TerminalDescription* description);
    bool ReadApplicationNames(CStringList& names);
    // Why the last command sent failed, as its journal's last line says; empty for none.
    const std::string& GetFault() const { return m_fault; }
    // Reads the file whole and announces it: its size, its blocks and its SHA-256 all come
    // from the bytes read here, held until the next announce.
    bool AnnounceFile(const CString& path, const CString& moduleName);
    // The file last announced, announced again from the bytes held (the activation names the
    // file last sent); any other path is read and announced as AnnounceFile does.
    bool AnnounceAgain(const CString& path, const CString& moduleName);
    bool RequestAuthorisation();
    bool ActivateModules();
    bool RestartTerminal();

    // File download.
    DownloadResult DownloadFile(const CString& path);
    void SetPercentCallback(TerminalCallback callback, std::uint32_t context);
    void SetModuleCallback(TerminalCallback callback, std::uint32_t context);
    int SetPercent(int percent);
    // Null for none; the sink must outlive its registration.
    void SetProgressSink(ProgressSink* sink) { m_progressSink = sink; }
    int GetPercent() const { return m_percent; }
    CString GetModuleName() const { return m_moduleName; }
    // The size the last announce gave the reader.
    std::int32_t GetFileSize() const { return m_fileSize; }
    // The SHA-256 of the bytes the last announce holds, lowercase hex; empty when the
    // system could not compute it.
    const std::string& GetFileSha256() const { return m_fileSha256; }

    // Reader search.
    bool FindTerminal(const CString& portText);
    int GetPortNumber() const { return m_portNumber; }
    // The rate at which the last successful search found the loader; 0 before.
    int GetBaudRate() const { return m_baudRate; }

    // USB position of the port's device, through the port library.
    bool recordUsbPosition(int portNumber);
    // The library takes the COM number in one byte: a higher one is never looked up.
    static bool UsbLookupCovers(int portNumber);
    // Whether the last search's lookup found the position GetUsbHub and GetUsbHubPort give.
    bool HasUsbPosition() const { return m_usbPositionFound; }
    std::uint8_t GetUsbHub() const { return usbHub; }
    std::uint8_t GetUsbHubPort() const { return usbHubPort; }
    // The driver key the last lookup found (terminated), empty when none.
    const wchar_t* GetUsbDriverKey() const { return usbDriverKey; }
    // The number of the COM port whose device sits at a USB position now; false when the
    // library knows no maker's device there.
    bool FindPortAtUsbPosition(std::uint8_t hub, std::uint8_t hubPort, int* portNumber);

    // Package: catalogue, constraints and the load list, read from the current directory.
    // A check that refuses says in `refusal`, when given, what stopped it.
    bool CheckCatalogue(const char* modelCode, TerminalDescription description,
                        PackageRefusal* refusal = nullptr);
    void LoadConstraints(const char* modelCode);
    bool CheckConstraints(const CStringList& applicationNames, PackageRefusal* refusal = nullptr);
    void SnapshotLoadList();
    bool IsLoadListEmpty() const { return m_loadList.IsEmpty(); }
    int GetLoadListCount() const { return static_cast<int>(m_loadList.GetCount()); }
    CString TakeNextFile() { return m_loadList.RemoveHead(); }
    CString ModuleNameForFile(const CString& fileName) const;
    bool LoaderStageDone(int filesSent) const;
    CString GetStageLabel(int filesSent) const;
    // The package as the checks left it, for those who show it.
    const CStringList& GetLoadList() const { return m_loadList; }
    const CStringList& GetLoadListSnapshot() const { return m_loadListUpper; }
    int GetLoaderFileCount() const { return m_loaderFileCount; }
    bool IsLoaderPresent() const { return m_loaderPresent; }
    const CStringList& GetPresenceList() const { return m_presenceList; }
    const CStringList& GetExclusionList() const { return m_exclusionList; }

private:
    // The callbacks come first, in this order: the progress window relies on it.
    TerminalCallback m_percentCallback;
    std::uint32_t m_percentContext;
    TerminalCallback m_moduleCallback;
    std::uint32_t m_moduleContext;

    HANDLE m_hPort;
    std::int32_t m_fileSize;
    CString m_moduleName;
    std::int32_t m_percent;
    std::int32_t m_portNumber;
    std::int32_t m_baudRate;

    std::uint8_t usbHub;
    std::uint8_t usbHubPort;
    wchar_t usbDriverKey[kDriverKeyLength];
    bool m_usbPositionFound;

    CStringList m_presenceList;
    CStringList m_exclusionList;
    CStringList m_loadList;
    int m_loaderFileCount;
    bool m_loaderPresent;
    CStringList m_loadListUpper;
    ProgressSink* m_progressSink = nullptr;
    OpenFailure m_openFailure = OpenFailure::None;
    CString m_openedName; // the port the last OpenPort asked for
    bool m_watchRemoval = false;
    // The file the last announce read, and its bytes: what its download sends.
    CString m_heldPath;
    std::vector<std::uint8_t> m_heldContent;
    std::string m_fileSha256;
    bool m_portGone = false;
    // The last port read or write that failed: whether the system refused it (not the link
    // itself, its port gone) and the error it gave.
    bool m_ioRefusedBySystem = false;
    DWORD m_ioError = NO_ERROR;
    std::string m_fault;
    // Line errors a wait for input acknowledged, reported with the next ones cleared.
    DWORD m_heldLineErrors = 0;
    COMMTIMEOUTS m_timeouts = {};

    bool WriteFrame(const std::uint8_t* frame, DWORD size, DWORD* written);
    bool ReadReply(std::uint8_t* buffer, DWORD size, DWORD* received);
    // How the wait for a reply's first byte ended.
    enum class InputWait { Queued, TimedOut, LineError, PortFailed };
    // Sleeps until the port holds a byte, a line error or the read time-out, asking the port
    // what it holds between sleeps.
    InputWait AwaitInput();
    // One read that takes what the port holds and returns at once; the time-outs set are
    // kept for the reads that follow.
    bool ReadWhatIsHeld(std::uint8_t* buffer, DWORD size, DWORD* received);
    // Whether the open port's device has gone: opened once more, it is not found.
    bool PortVanished() const;
    // The caller's line for the read or write that just failed, then the system's error;
    // then the line errors acknowledged, which are returned (0 for none). With abort-on-
    // error set, a framing, parity or overrun error fails every read and write until then.
    DWORD ReportPortFailure(const char* line);
    // Acknowledges the port's line errors, logging them; returns them.
    DWORD ClearLineErrors();
    // Logs a failure's line and keeps it as the command's fault.
    void Fault(const std::string& line);
    void NoteIoError();
    // Writes a command frame and reads its reply, logging a port failure with its text.
    bool ExchangeCommand(const std::uint8_t (&command)[proto::kCommandFrameSize],
                         std::uint8_t* reply, DWORD replySize, DWORD* received,
                         const char* writeError, const char* readError);
    // The same for a command without parameters, sent by its code.
    bool SendCommand(std::uint8_t code, std::uint8_t (&reply)[proto::kReplySize], DWORD* received,
                     const char* writeError, const char* readError);
    int NotifyPercent();
    int NotifyModule();
    void LookUpUsbPosition();
    bool ProbeAtEachRate();
    // The file at `path` read whole into the held bytes, its hash taken; false, logged, when
    // it cannot be read whole or is beyond what an announce carries.
    bool HoldFile(const CString& path);
    void ReleaseHeldFile();
    // The announce of the file held, under the name of its path.
    bool SendAnnounce();
    DownloadResult StartDownload(const CString& path, struct DownloadState& s);
    DownloadResult DownloadTurn(struct DownloadState& s);
    DownloadResult SendNextBlock(struct DownloadState& s);
    DownloadResult ResendBlock(struct DownloadState& s, const char* why);
    // Writes the block in hand; `failure` when the port fails, DL_OK with the block marked
    // for sending again when a line error refused it.
    DownloadResult WriteBlock(struct DownloadState& s, DownloadResult failure);
    DownloadResult ReadBlockReply(struct DownloadState& s);
};
