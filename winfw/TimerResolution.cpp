#include "TimerResolution.h"

#include <windows.h>
#include <mmsystem.h>

#include "OsSeam.h"

TimerResolution::TimerResolution() : m_raised(::timeBeginPeriod(1) == TIMERR_NOERROR) {}

TimerResolution::~TimerResolution()
{
    if (m_raised)
        ::timeEndPeriod(1);
}

void SleepAtLeast(unsigned long ms)
{
    // A clock that stands still must not hold the run: a few top-ups at most.
    constexpr int kMaxTopUps = 8;
    const ULONGLONG start = Os().GetTickCount64();
    Os().Sleep(ms);
    for (int i = 0; i < kMaxTopUps; ++i) {
        const ULONGLONG elapsed = Os().GetTickCount64() - start;
        if (elapsed >= ms)
            return;
        Os().Sleep(static_cast<DWORD>(ms - elapsed));
    }
}
