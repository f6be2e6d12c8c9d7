#include "FakeClock.h"

#include "winfw/FileTime.h"

namespace {

ULONGLONG TicksOfTime(const SYSTEMTIME& time)
{
    FILETIME file = {};
    ::SystemTimeToFileTime(&time, &file);
    return TicksOf(file);
}

} // namespace

FakeClock::FakeClock()
{
    using Self = FakeClock;
    OsCalls calls = Below();
    calls.Sleep = Entry([](Self& c, DWORD ms) {
        c.sleeps.push_back(ms);
        c.m_clockMs += ms;
    });
    calls.GetTickCount64 = Entry([](Self& c) { return c.m_clockMs; });
    calls.GetLocalTime = Entry([](Self& c, LPSYSTEMTIME time) {
        const SYSTEMTIME utc = c.ReadUtcClock();
        if (!c.LocalOf(utc, *time))
            *time = utc;
    });
    calls.GetSystemTime = Entry([](Self& c, LPSYSTEMTIME time) { *time = c.ReadUtcClock(); });
    // With no zone given the conversions use the active zone (the machine's); a zone given is
    // converted as Windows converts it, and no dynamic zone is modelled.
    calls.SystemTimeToTzSpecificLocalTime = Entry(
        [](Self& c, const TIME_ZONE_INFORMATION* zone, const SYSTEMTIME* utc, LPSYSTEMTIME local) {
            if (zone != nullptr)
                return RealOsCalls().SystemTimeToTzSpecificLocalTime(zone, utc, local);
            return c.LocalOf(*utc, *local) ? TRUE : Refuse(ERROR_INVALID_DATA);
        });
    calls.SystemTimeToTzSpecificLocalTimeEx = Entry(
        [](Self& c, const DYNAMIC_TIME_ZONE_INFORMATION* zone, const SYSTEMTIME* utc, LPSYSTEMTIME local) {
            if (zone != nullptr)
                return Refuse(ERROR_INVALID_PARAMETER);
            return c.LocalOf(*utc, *local) ? TRUE : Refuse(ERROR_INVALID_DATA);
        });
    calls.SetThreadExecutionState = Entry([](Self& c, EXECUTION_STATE state) -> EXECUTION_STATE {
        c.executionStates.push_back(state);
        return ES_CONTINUOUS;
    });
    calls.CreateThread = Entry([](Self& c, LPSECURITY_ATTRIBUTES sa, SIZE_T stack, LPTHREAD_START_ROUTINE start,
                                  LPVOID parameter, DWORD flags, LPDWORD id) -> HANDLE {
        const int call = c.m_threadCalls++;
        if (c.failCreateThread || call == c.failThreadNumber) {
            // What CreateThread says when no thread can be had.
            ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        ++c.threadsCreated;
        return RealOsCalls().CreateThread(sa, stack, start, parameter, flags, id);
    });
    calls.GetCurrentProcessId = RealOsCalls().GetCurrentProcessId;
    calls.RtlGenRandom = RealOsCalls().RtlGenRandom;
    calls.SetProcessInformation = RealOsCalls().SetProcessInformation;
    Os() = calls;
}

SYSTEMTIME FakeClock::ReadUtcClock()
{
    SYSTEMTIME now = {};
    const FILETIME file = FileTimeOf(TicksOfTime(utcStart) + m_clockMs * (kTicksPerSecond / 1000));
    ::FileTimeToSystemTime(&file, &now);
    m_clockMs += msPerClockRead;
    return now;
}

bool FakeClock::LocalOf(const SYSTEMTIME& utc, SYSTEMTIME& local) const
{
    if (zoneUnreadable)
        return false;
    const ULONGLONG ticks = TicksOfTime(utc);
    const bool daylight = daylightFrom.wYear != 0 && ticks >= TicksOfTime(daylightFrom) &&
                          ticks < TicksOfTime(daylightUntil);
    const LONG bias = zoneBias + (daylight ? daylightBias : 0);
    const FILETIME file = FileTimeOf(ticks - static_cast<LONGLONG>(bias) * 60 * kTicksPerSecond);
    return ::FileTimeToSystemTime(&file, &local) != 0;
}
