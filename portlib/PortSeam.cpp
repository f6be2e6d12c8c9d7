#include "PortSeam.h"

namespace {

const PortSysCalls kReal = {
#define PORT_SYS_REAL(name) ::name,
    PORT_SYS_CALLS(PORT_SYS_REAL)
#undef PORT_SYS_REAL
};

PortSysCalls g_current = kReal;

} // namespace

PortSysCalls& Sys() { return g_current; }

ScopedPortSysCalls::ScopedPortSysCalls(const PortSysCalls& calls) : m_saved(g_current)
{
    g_current = calls;
}

ScopedPortSysCalls::~ScopedPortSysCalls() { g_current = m_saved; }
