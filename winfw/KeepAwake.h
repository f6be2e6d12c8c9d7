// Keeps the PC from sleeping while it lives (on the calling thread's behalf): a reader
// left half-written by a sleeping PC is an operator's worst case.
#pragma once

class KeepAwake {
public:
    KeepAwake();
    ~KeepAwake();
    KeepAwake(const KeepAwake&) = delete;
    KeepAwake& operator=(const KeepAwake&) = delete;
};
