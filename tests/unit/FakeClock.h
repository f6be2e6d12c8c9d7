// The virtual clock that records every wait, the machine's time zone, and the threads and
// power requests of the runs.
#pragma once
#include <windows.h>

#include <numeric>
#include <vector>

#include "StrictOs.h"

struct FakeClock : OsLayer<FakeClock> {
    FakeClock();

    // Milliseconds slept so far. The wall clock is `utcStart` plus that, and each reading of
    // it takes `msPerClockRead`.
    ULONGLONG NowMs() const { return m_clockMs; }
    std::vector<DWORD> sleeps;
    DWORD TotalSleep() const { return std::accumulate(sleeps.begin(), sleeps.end(), DWORD{0}); }
    SYSTEMTIME utcStart = {2026, 12, 2, 8, 9, 30, 0, 0};
    DWORD msPerClockRead = 0;
    // The machine's zone: UTC minus standard local time in minutes, and `daylightBias`
    // added from `daylightFrom` until `daylightUntil` (UTC instants; none when unset). An
    // unreadable zone converts nothing (GetLocalTime then gives UTC).
    LONG zoneBias = 0;
    LONG daylightBias = 0;
    SYSTEMTIME daylightFrom = {}, daylightUntil = {};
    bool zoneUnreadable = false;

    std::vector<EXECUTION_STATE> executionStates; // every SetThreadExecutionState, in order
    bool failCreateThread = false;
    int failThreadNumber = -1;        // 0-based index of the thread creation refused
    int threadsCreated = 0;

private:
    // The zone's local time of a UTC instant; false when the zone is unreadable.
    bool LocalOf(const SYSTEMTIME& utc, SYSTEMTIME& local) const;
    // The wall clock now, in UTC, read once.
    SYSTEMTIME ReadUtcClock();
    ULONGLONG m_clockMs = 0;
    int m_threadCalls = 0;
};
