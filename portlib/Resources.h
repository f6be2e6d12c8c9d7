// Owners of the handles the library opens, each released through the seam.
#pragma once
#include <windows.h>
#include <setupapi.h>

#include "PortSeam.h"

class DeviceList {
public:
    explicit DeviceList(HDEVINFO list) : m_list(list) {}
    ~DeviceList()
    {
        if (IsOpen())
            Sys().SetupDiDestroyDeviceInfoList(m_list);
    }
    DeviceList(const DeviceList&) = delete;
    DeviceList& operator=(const DeviceList&) = delete;

    bool IsOpen() const { return m_list != INVALID_HANDLE_VALUE && m_list != nullptr; }
    HDEVINFO Get() const { return m_list; }

private:
    HDEVINFO m_list;
};

class RegKey {
public:
    explicit RegKey(HKEY key = nullptr) : m_key(key) {}
    ~RegKey()
    {
        if (IsOpen())
            Sys().RegCloseKey(m_key);
    }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    // SetupDiOpenDevRegKey reports failure as INVALID_HANDLE_VALUE, RegOpenKeyEx as null.
    bool IsOpen() const
    {
        return m_key != nullptr && m_key != reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE);
    }
    HKEY Get() const { return m_key; }
    HKEY* Out() { return &m_key; }

private:
    HKEY m_key;
};

class FileHandle {
public:
    explicit FileHandle(HANDLE h) : m_h(h) {}
    ~FileHandle()
    {
        if (IsOpen())
            Sys().CloseHandle(m_h);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    bool IsOpen() const { return m_h != INVALID_HANDLE_VALUE && m_h != nullptr; }
    HANDLE Get() const { return m_h; }

private:
    HANDLE m_h;
};

class Module {
public:
    explicit Module(HMODULE module) : m_module(module) {}
    ~Module()
    {
        if (m_module != nullptr)
            Sys().FreeLibrary(m_module);
    }
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    HMODULE Get() const { return m_module; }

private:
    HMODULE m_module;
};
