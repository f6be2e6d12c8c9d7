// What the operator is told: message boxes, diagnostic lines, and standard error.
#pragma once
#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "StrictOs.h"

// What standard error is: a console, or (redirected) a pipe or a file. A console with a
// selection open (QuickEdit), a paused terminal or a full pipe blocks every write until it
// is released.
struct FakeConsole {
    using Guard = std::lock_guard<std::mutex>;
    void Block() { Guard hold(m_lock); m_blocked = true; }
    void Release();
    // Every line written so far, in order, in UTF-8; what a console took, as UTF-16; what a
    // pipe or a file took.
    std::string Written() { Guard hold(m_lock); return m_written; }
    std::wstring UnitsWritten() { Guard hold(m_lock); return m_units; }
    std::string BytesWritten() { Guard hold(m_lock); return m_bytes; }
    bool Write(const char* bytes, DWORD size);
    bool WriteUnits(const wchar_t* units, DWORD count);

    bool redirected = false;          // a pipe or a file: no console calls work on it

private:
    std::mutex m_lock;                // apart from the layer's: a blocked write holds no run
    std::condition_variable m_released;
    bool m_blocked = false;
    std::string m_written;
    std::wstring m_units;
    std::string m_bytes;
};

struct FakeMessages : OsLayer<FakeMessages> {
    FakeMessages();

    std::vector<std::string> lines;   // every OutputDebugStringA
    bool Logged(const std::string& line) const;
    // Whether `next` was logged right after some `line`.
    bool LoggedThen(const std::string& line, const std::string& next) const;
    struct Box {
        std::string text;
        UINT type;
    };
    std::vector<Box> boxes;
    // Standard error; the other standard handles are the test program's own, real.
    FakeConsole console;
};
