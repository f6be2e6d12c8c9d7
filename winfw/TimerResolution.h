// Raises the system timer resolution to 1 ms while it lives: without it a Sleep(1) lasts a
// whole scheduler tick (about 15.6 ms) and the transfer's pacing halves its speed.
#pragma once

#include "SystemLibrary.h"

class TimerResolution {
public:
    TimerResolution();
    ~TimerResolution();
    TimerResolution(const TimerResolution&) = delete;
    TimerResolution& operator=(const TimerResolution&) = delete;
    bool Raised() const { return m_raised; }

private:
    // winmm is no KnownDLL: bound at run time from System32, never from the package folder.
    SystemLibrary m_winmm;
    bool m_raised;
};

// Sleeps `ms` milliseconds by the seam's clock, sleeping again for whatever a short Sleep
// left: a wait the reader's restart depends on must never end early.
void SleepAtLeast(unsigned long ms);
