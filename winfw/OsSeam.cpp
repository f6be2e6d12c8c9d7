#include "OsSeam.h"

namespace {

// An export of a system library the process has loaded, found at run time: null on a
// system without it.
template <typename Fn>
Fn SystemExport(const char* module, const char* name)
{
    return reinterpret_cast<Fn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA(module), name)));
}

#define OV_OS_REAL(name) ::name,
#define OV_OS_FOUND(module, name, ...) SystemExport<__VA_ARGS__>(module, #name),
const OsCalls kReal = {OV_OS_CALLS(OV_OS_REAL, OV_OS_FOUND)};
#undef OV_OS_REAL
#undef OV_OS_FOUND

OsCalls g_current = kReal;

} // namespace

OsCalls& Os() { return g_current; }

const OsCalls& RealOsCalls() { return kReal; }

ScopedOsCalls::ScopedOsCalls(const OsCalls& calls) : m_saved(g_current) { g_current = calls; }

ScopedOsCalls::~ScopedOsCalls() { g_current = m_saved; }
