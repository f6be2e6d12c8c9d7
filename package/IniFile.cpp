#include "IniFile.h"

#include <windows.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "PackageRules.h"

namespace {

constexpr DWORD kValueBufferSize = 255;
constexpr std::size_t kFirstSectionBufferSize = 2000;

// The profile function signals a section cut to fit by returning the buffer size less two.
bool SectionWasCut(DWORD count, std::size_t bufferSize) { return count + 2 >= bufferSize; }

} // namespace

CIniFile::CIniFile(std::size_t maxSectionBytes)
    : m_lastCount(0), m_maxSectionBytes(maxSectionBytes),
      m_lastComplete(true)
{
    if (m_maxSectionBytes < kFirstSectionBufferSize)
        m_maxSectionBytes = kFirstSectionBufferSize;
}

CIniFile::~CIniFile() = default;

void CIniFile::SetFileName(CString path) { m_fileName = std::move(path); }

CString CIniFile::ReadString(CString section, CString key)
{
    char buffer[kValueBufferSize] = {};
    const DWORD n = ::GetPrivateProfileStringA(section.c_str(), key.c_str(), "", buffer,
                                               kValueBufferSize, m_fileName.c_str());
    m_lastCount = static_cast<int>(n);
    buffer[kValueBufferSize - 1] = '\0';
    return CString(buffer);
}

CStringList& CIniFile::ReadSection(CString section)
{
    m_lines.RemoveAll();
    // A cut section would silently drop files from the load list: read again with a
    // larger buffer until the whole section fits.
    std::vector<char> buffer(kFirstSectionBufferSize);
    DWORD n = 0;
    for (;;) {
        n = ::GetPrivateProfileSectionA(section.c_str(), buffer.data(),
                                        static_cast<DWORD>(buffer.size()), m_fileName.c_str());
        if (!SectionWasCut(n, buffer.size()) || buffer.size() >= m_maxSectionBytes)
            break;
        buffer.assign(std::min(buffer.size() * 2, m_maxSectionBytes), '\0');
    }
    m_lastCount = static_cast<int>(n);
    m_lastComplete = !SectionWasCut(n, buffer.size());
    if (n > buffer.size())
        n = static_cast<DWORD>(buffer.size());
    m_lines = pkg::SectionLines(buffer.data(), n);
    return m_lines;
}
