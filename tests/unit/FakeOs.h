// A simulated machine for the updater's OS seam: a scripted serial port, a virtual clock
// that records every wait, and recorders for message boxes and diagnostic lines.
// Paths that are not devices go to the real file system.
#pragma once
#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ScratchDir.h"
#include "winfw/OsSeam.h"

using Bytes = std::vector<std::uint8_t>;

// One thing the port does at a read: hand over bytes (one read takes at most what one
// item holds, so items model gaps on the line), return nothing, fail, or meet a line
// error (framing, parity, overrun: CE_* flags).
struct PortEvent {
    enum Kind { Data, Silence, Fail, LineError } kind = Data;
    Bytes bytes;
    DWORD lineErrors = 0;
};

struct FakePort {
    std::deque<PortEvent> incoming;
    std::vector<Bytes> writes;        // every frame written, in order
    std::vector<DWORD> readSizes;     // the count asked by every read
    std::function<void(FakePort&, const Bytes&)> onWrite; // a scripted peer, when set
    std::function<void(FakePort&)> onRead;                // called before each read is served

    bool failOpen = false;
    DWORD openError = ERROR_FILE_NOT_FOUND; // what a failed open says
    bool failGetState = false;
    bool failSetState = false;
    bool failTimeouts = false;
    std::vector<DWORD> unsupportedRates; // refused by SetCommState, as a driver refuses them
    bool failClose = false;
    int failWriteNumber = -1;         // 0-based index of the write that fails
    DCB dcb = {};                     // the line settings the port holds
    COMMTIMEOUTS timeouts = {};
    // CE_* flags of line errors not yet acknowledged: with fAbortOnError set, every read
    // and write fails until ClearCommError takes them.
    DWORD lineErrors = 0;
    int clearCalls = 0;

    void Queue(const Bytes& bytes) { incoming.push_back({PortEvent::Data, bytes}); }
    void QueueSilence() { incoming.push_back({PortEvent::Silence, {}}); }
    void QueueFailure() { incoming.push_back({PortEvent::Fail, {}}); }
    void QueueLineError(DWORD errors) { incoming.push_back({PortEvent::LineError, {}, errors}); }
};

// What standard error is: a console, or (redirected) a pipe or a file. A console with a
// selection open (QuickEdit), a paused terminal or a full pipe blocks every write until it
// is released.
struct FakeConsole {
    void Block();
    void Release();
    std::string Written();            // every line written so far, in order, in UTF-8
    std::wstring UnitsWritten();      // what a console took, as UTF-16
    std::string BytesWritten();       // what a pipe or a file took
    bool Write(const char* bytes, DWORD size);
    bool WriteUnits(const wchar_t* units, DWORD count);

    bool redirected = false;          // a pipe or a file: no console calls work on it

private:
    std::mutex m_lock;                // apart from the machine's: a blocked write holds no run
    std::condition_variable m_released;
    bool m_blocked = false;
    std::string m_written;
    std::wstring m_units;
    std::string m_bytes;
};

struct FakeOs {
    // The port every device path opens, unless another port was given that path.
    FakePort port;
    // Another port at its own device path ("\\\\.\\COM8"): several runs at once, each on
    // its port.
    FakePort& PortAt(const std::string& devicePath);
    std::vector<std::string> opened;  // device paths given to CreateFileA
    std::vector<std::string> files;   // other paths given to CreateFileA or GetFileAttributesA
    int portCloses = 0;
    std::vector<DWORD> sleeps;
    std::vector<std::string> lines;
    struct Box {
        std::string text;
        UINT type;
    };
    std::vector<Box> boxes;
    bool libraryMissing = false;
    std::vector<EXECUTION_STATE> executionStates; // every SetThreadExecutionState, in order
    bool failCreateThread = false;
    int failThreadNumber = -1;        // 0-based index of the thread creation refused
    int threadCalls = 0;
    int threadsCreated = 0;
    FakeConsole console;

    // The virtual clock: milliseconds slept so far. The wall clock is `utcStart` plus that,
    // and each reading of it takes `msPerClockRead`.
    ULONGLONG NowMs() const { return m_clockMs; }
    SYSTEMTIME utcStart = {2026, 12, 2, 8, 9, 30, 0, 0};
    DWORD msPerClockRead = 0;
    // The machine's zone: UTC minus standard local time in minutes, and `daylightBias`
    // added from `daylightFrom` until `daylightUntil` (UTC instants; none when unset). An
    // unreadable zone converts nothing (GetLocalTime then gives UTC).
    LONG zoneBias = 0;
    LONG daylightBias = 0;
    SYSTEMTIME daylightFrom = {}, daylightUntil = {};
    bool zoneUnreadable = false;
    // The zone's local time of a UTC instant; false when the zone is unreadable.
    bool LocalOf(const SYSTEMTIME& utc, SYSTEMTIME& local) const;
    // The wall clock now, in UTC, read once.
    SYSTEMTIME ReadUtcClock();
    void Slept(DWORD ms)
    {
        sleeps.push_back(ms);
        m_clockMs += ms;
    }
    bool exportsMissing = false;      // a library without the exports asked for
    // The screen the windows are on: its DPI, and whether high contrast is on.
    UINT dpi = USER_DEFAULT_SCREEN_DPI;
    bool highContrast = false;
    // Every SetDialogDpiChangeBehavior, in order. AdjustWindowRectExForDpi grows a client
    // rectangle by the frame of its style at its DPI, as documented; here 4 pixels a side
    // and a caption of 30 (WS_CAPTION) at 96 DPI, scaled.
    struct DialogDpiCall {
        HWND dialog;
        int mask, values;
    };
    std::vector<DialogDpiCall> dialogDpiCalls;

    // The account the process runs as: a standard user, whom the machine's registry
    // refuses, or LocalSystem (S-1-5-18).
    bool localSystem = false;
    // An administrator's token that UAC did not filter (TokenElevation).
    bool elevated = false;
    // What SHGetKnownFolderPath gives for these folders; the real folder when empty.
    std::string programData;
    std::string localAppData;
    std::string programFiles;
    // What GetModuleFileNameW gives for the program; the real one when empty.
    std::wstring programPath;
    // Another process holds a move's target for this many MoveFileExA calls, which fail
    // with `heldError`.
    int heldMoves = 0;
    DWORD heldError = ERROR_SHARING_VIOLATION;
    int moves = 0;
    // The event log: every event reported, and the values written under the machine's keys
    // (key path, value name) as their type and bytes.
    struct Event {
        WORD type;
        DWORD id;
        std::vector<std::wstring> strings;
    };
    std::vector<Event> events;
    struct Value {
        DWORD type;
        std::vector<BYTE> data;
    };
    std::map<std::pair<std::wstring, std::wstring>, Value> machineValues;
    std::wstring machineKey;  // the key last created
    REGSAM machineKeyAccess = 0;  // the access it was created with
    std::vector<std::wstring> deletedKeys;
    int openKeys = 0;
    std::map<HKEY, std::wstring> keyPaths;  // each open key's path, by its handle
    // A 32-bit process on 64-bit Windows, which sees HKLM\SOFTWARE through WOW6432Node.
    bool wow64 = false;
    // What RegSetValueExW answers once it fails (ERROR_KEY_DELETED: an administrator deleted
    // the key while it was held).
    LSTATUS machineWriteError = ERROR_SUCCESS;
    int openEventSources = 0;

    FakeOs();
    ~FakeOs();
    FakeOs(const FakeOs&) = delete;
    FakeOs& operator=(const FakeOs&) = delete;

    bool Logged(const std::string& line) const;
    // Whether `next` was logged right after some `line`.
    bool LoggedThen(const std::string& line, const std::string& next) const;
    DWORD TotalSleep() const;

    // Every call of the simulated machine holds this: runs on several threads share it.
    std::recursive_mutex lock;
    FakePort* PortOfHandle(HANDLE handle);
    HANDLE HandleOfPath(const std::string& devicePath);

private:
    std::map<std::string, std::unique_ptr<FakePort>> m_otherPorts;
    ScopedOsCalls m_swap;
    FakeOs* m_previous;
    ULONGLONG m_clockMs = 0;
};

// A 32-byte reply frame carrying a status byte.
Bytes Reply(std::uint8_t status);
// A reply frame of the application list.
Bytes NameReply(const std::string& name);

// A file the test owns in a temporary folder of its own; removed with the object.
class TempFile {
public:
    TempFile(const std::string& name, std::size_t size);
    const std::string& Path() const { return m_path; }
    Bytes Content() const;

private:
    ScratchDir m_dir;
    std::string m_path;
};
