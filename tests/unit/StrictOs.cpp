#include "StrictOs.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace {

// A call no fake of the test binds: the test fails, naming the entry, and stops there, since
// no answer would be Windows' own.
template <typename Fn, typename Name>
struct Unbound;
template <typename R, typename... A, typename Name>
struct Unbound<R (*)(A...), Name> {
    static R Call(A...)
    {
        ADD_FAILURE() << "not bound: " << Name::Text();
        std::fflush(stdout);
        std::abort();
    }
};

OsCalls MakeStrictCalls()
{
    OsCalls calls = {};
#define OV_UNBOUND(name) { struct Name { static const char* Text() { return #name; } }; \
                           calls.name = Unbound<decltype(calls.name), Name>::Call; }
#define OV_UNBOUND_LATE(module, name, ...) OV_UNBOUND(name)
    OV_OS_CALLS(OV_UNBOUND, OV_UNBOUND_LATE)
#undef OV_UNBOUND
#undef OV_UNBOUND_LATE
    calls.GetLastError = RealOsCalls().GetLastError;
    return calls;
}

} // namespace

const OsCalls& StrictCalls()
{
    static const OsCalls calls = MakeStrictCalls();
    return calls;
}
