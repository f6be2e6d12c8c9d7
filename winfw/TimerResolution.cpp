#include "TimerResolution.h"

#include <windows.h>
#include <mmsystem.h>

#include "OsSeam.h"

namespace {

using TimePeriodFn = MMRESULT(WINAPI*)(UINT);

// Windows 11 drops a raised resolution while the process's windows are hidden or minimised
// unless the process opts out; before Windows 11 the call is absent or changes nothing.
// https://learn.microsoft.com/windows/win32/api/processthreadsapi/nf-processthreadsapi-setprocessinformation
void KeepTimerResolutionWhenHidden()
{
    if (Os().SetProcessInformation == nullptr)
        return;
    PROCESS_POWER_THROTTLING_STATE state = {};
    state.Version = PROCESS_POWER_THROTTLING_CURRENT_VERSION;
    state.ControlMask = PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION;
    state.StateMask = 0; // the throttling of the resolution is off: requests are honoured
    Os().SetProcessInformation(::GetCurrentProcess(), ProcessPowerThrottling, &state, sizeof state);
}

} // namespace

TimerResolution::TimerResolution() : m_winmm("winmm.dll"), m_raised(false)
{
    KeepTimerResolutionWhenHidden();
    const auto begin = m_winmm.Bind<TimePeriodFn>("timeBeginPeriod");
    m_raised = begin != nullptr && begin(1) == TIMERR_NOERROR;
}

TimerResolution::~TimerResolution()
{
    const auto end = m_winmm.Bind<TimePeriodFn>("timeEndPeriod");
    if (m_raised && end != nullptr)
        end(1);
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
