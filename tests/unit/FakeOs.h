// A simulated machine for the updater's OS seam: a scripted serial port, a virtual clock
// that records every wait, and recorders for message boxes and diagnostic lines.
// Paths that are not devices go to the real file system.
#pragma once
#include <windows.h>

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
// item holds, so items model gaps on the line), return nothing, or fail.
struct PortEvent {
    enum Kind { Data, Silence, Fail } kind = Data;
    Bytes bytes;
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
    bool failClose = false;
    int failWriteNumber = -1;         // 0-based index of the write that fails
    DCB dcb = {};                     // the line settings the port holds
    COMMTIMEOUTS timeouts = {};

    void Queue(const Bytes& bytes) { incoming.push_back({PortEvent::Data, bytes}); }
    void QueueSilence() { incoming.push_back({PortEvent::Silence, {}}); }
    void QueueFailure() { incoming.push_back({PortEvent::Fail, {}}); }
};

struct FakeOs {
    // The port every device path opens, unless another port was given that path.
    FakePort port;
    // Another port at its own device path ("\\\\.\\COM8"): several runs at once, each on
    // its port.
    FakePort& PortAt(const std::string& devicePath);
    std::vector<std::string> opened;  // device paths given to CreateFileA
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
    int threadsCreated = 0;

    // The virtual clock: milliseconds slept so far; local time is 2026-12-08 09:30:00.000
    // plus that.
    ULONGLONG NowMs() const { return m_clockMs; }
    SYSTEMTIME LocalTime() const;
    void Slept(DWORD ms)
    {
        sleeps.push_back(ms);
        m_clockMs += ms;
    }
    bool exportsMissing = false;      // a library without the exports asked for
    // The screen the windows are on: its DPI, and whether high contrast is on.
    UINT dpi = USER_DEFAULT_SCREEN_DPI;
    bool highContrast = false;

    FakeOs();
    ~FakeOs();
    FakeOs(const FakeOs&) = delete;
    FakeOs& operator=(const FakeOs&) = delete;

    bool Logged(const std::string& line) const;
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
