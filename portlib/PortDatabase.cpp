#include "PortDatabase.h"

namespace {

template <typename Fn>
Fn Bind(HMODULE library, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(Sys().GetProcAddress(library, name)));
}

} // namespace

PortDatabase::PortDatabase()
    : m_library(Sys().LoadLibraryExW(L"msports.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32))
{
    if (m_library.Get() == nullptr)
        return;
    const auto open = Bind<OpenFn>(m_library.Get(), "ComDBOpen");
    m_close = Bind<CloseFn>(m_library.Get(), "ComDBClose");
    m_claim = Bind<ClaimFn>(m_library.Get(), "ComDBClaimPort");
    m_release = Bind<ReleaseFn>(m_library.Get(), "ComDBReleasePort");
    if (open == nullptr || m_close == nullptr || m_claim == nullptr || m_release == nullptr)
        return;
    Db db = nullptr;
    // Claims and releases on a database that did not open are never made (some systems
    // raise an exception there).
    if (open(&db) == ERROR_SUCCESS && db != INVALID_HANDLE_VALUE)
        m_db = db;
    else
        m_refused = true;
}

PortDatabase::~PortDatabase()
{
    if (IsOpen())
        m_close(m_db);
}

void PortDatabase::Release(DWORD number)
{
    if (IsOpen() && number > 0)
        m_release(m_db, number);
}

void PortDatabase::Claim(DWORD number)
{
    if (IsOpen() && number > 0) {
        BOOL forced = FALSE;
        m_claim(m_db, number, TRUE, &forced);
    }
}
