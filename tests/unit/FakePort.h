// Scripted serial ports behind the seam's device calls, answering as their script says and
// refusing what serial.sys refuses.
#pragma once
#include <windows.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "StrictOs.h"

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
    FakePort() { dcb.DCBlength = sizeof(DCB); }

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

// The serial ports: every "\\.\COMn" opens the test's port, or the one given that path.
// Other paths and handles go to the layer below.
struct FakePorts : OsLayer<FakePorts> {
    FakePorts();

    FakePort port;
    // Another port at its own device path ("\\\\.\\COM8"): several runs at once, each on
    // its port.
    FakePort& PortAt(const std::string& devicePath);
    std::vector<std::string> opened;  // device paths given to CreateFileA
    int portCloses = 0;

    FakePort* PortOfHandle(HANDLE handle);
    HANDLE HandleOfPath(const std::string& devicePath);

private:
    std::map<std::string, std::unique_ptr<FakePort>> m_otherPorts;
};

// A 32-byte reply frame carrying a status byte.
Bytes Reply(std::uint8_t status);
// A reply frame of the application list.
Bytes NameReply(const std::string& name);
