// What every harness shares: a property that fails stops the run as a crash.
#pragma once
#include <cstdlib>

inline void Check(bool holds)
{
    if (!holds)
        std::abort();
}
