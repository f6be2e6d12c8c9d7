// Owners of the handles the library opens, each released through the seam.
#pragma once
#include <windows.h>
#include <setupapi.h>

#include "PortSeam.h"

// Owns one handle and closes it once with the seam's call `Close`.
template <typename H, auto Close>
class Owned {
public:
    explicit Owned(H handle = nullptr) : m_handle(handle) {}
    ~Owned()
    {
        if (IsOpen())
            (Sys().*Close)(m_handle);
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;

    // Opening calls report failure as null or as INVALID_HANDLE_VALUE (SetupDiOpenDevRegKey
    // too, for a key).
    bool IsOpen() const
    {
        return m_handle != nullptr && m_handle != reinterpret_cast<H>(INVALID_HANDLE_VALUE);
    }
    H Get() const { return m_handle; }
    H* Out() { return &m_handle; }

private:
    H m_handle;
};

using DeviceList = Owned<HDEVINFO, &PortSysCalls::SetupDiDestroyDeviceInfoList>;
using RegKey = Owned<HKEY, &PortSysCalls::RegCloseKey>;
using FileHandle = Owned<HANDLE, &PortSysCalls::CloseHandle>;
using Module = Owned<HMODULE, &PortSysCalls::FreeLibrary>;
