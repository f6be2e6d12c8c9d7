// A FILETIME as one count of 100 ns ticks, and back: what time arithmetic works on.
#pragma once
#include <windows.h>

constexpr unsigned long long kTicksPerSecond = 10000000ULL;

inline unsigned long long TicksOf(const FILETIME& time)
{
    return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

inline FILETIME FileTimeOf(unsigned long long ticks)
{
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFULL);
    time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return time;
}
