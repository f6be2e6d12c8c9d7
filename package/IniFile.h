// CIniFile: reads single values and whole sections of a package INI file through the
// Windows profile functions. It never writes.
#pragma once
#include <cstddef>

#include "winfw/Strings.h"

class CIniFile {
public:
    // Sections are read whole, growing the buffer as needed, up to this many bytes.
    static constexpr std::size_t kMaxSectionBytes = 16u << 20;

    explicit CIniFile(std::size_t maxSectionBytes = kMaxSectionBytes);
    ~CIniFile();
    CIniFile(const CIniFile&) = delete;
    CIniFile& operator=(const CIniFile&) = delete;

    void SetFileName(CString path);
    // The value of `key`, cut to 254 characters; empty when the file, section or key is
    // missing.
    CString ReadString(CString section, CString key);
    // The lines of `section` in file order, each whole ("key=value" stays one line). Valid
    // until the next call or the object's end; callers may remove entries.
    CStringList& ReadSection(CString section);
    // False when the last section read did not fit in the largest buffer allowed: its
    // lines are then incomplete and must not be trusted.
    bool LastSectionComplete() const { return m_lastComplete; }
    // How many characters the last read returned.
    int GetLastCount() const { return m_lastCount; }

private:
    CStringList m_lines;
    int m_lastCount;
    CString m_fileName;
    std::size_t m_maxSectionBytes;
    bool m_lastComplete;
};
