// What a deployment tool takes as proof of an update: values under a key of the machine's
// registry that only an administrator or LocalSystem may write,
// HKLM\SOFTWARE\Orvane\Records\NAME, never a file in a folder users can write.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "Report.h"
#include "winfw/RegistryValue.h"

// Whether `name` may name a record: 1 to 64 ASCII letters, digits, '-', '_' or '.'.
bool IsRecordName(const std::string& name);

// The record's key as the README and a detection rule name it.
std::string RecordKeyText(const std::string& name);

// Each run's port and result in the runs' order: "COM5=0 COM6=23".
std::string ReadersText(const std::vector<PortRun>& runs);

// The record's key, opened for writing before any reader is touched and held until the
// command ends, so that an account that may not write it is refused before anything is sent.
class MachineRecord {
public:
    // Opens the key of record `name`, created when missing; Windows' answer (ERROR_SUCCESS
    // once it is held).
    LSTATUS Open(const std::string& name);
    bool IsOpen() const { return m_key.Get() != nullptr; }
    // Result (the exit code), Finished and Readers; false when one could not be written.
    bool Write(int result, const std::string& finished, const std::string& readers);

private:
    ScopedRegistryKey m_key;
};
