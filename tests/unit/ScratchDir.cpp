#include "ScratchDir.h"

#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include <gtest/gtest.h>

ScratchDir::ScratchDir(const char* prefix)
{
    char temp[MAX_PATH] = {};
    const DWORD length = ::GetTempPathA(MAX_PATH, temp);
    if (length == 0 || length >= MAX_PATH)
        return;
    // Tests run as processes of their own in parallel: the process id keeps their folders
    // apart, and the first name not yet taken keeps one process's folders apart.
    const std::string stem = std::string(temp) + prefix + std::to_string(::GetCurrentProcessId()) + "_";
    for (unsigned n = 0; n < 1000; ++n) {
        const std::string path = stem + std::to_string(n);
        if (::CreateDirectoryA(path.c_str(), nullptr)) {
            m_path = path;
            return;
        }
        if (::GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    ADD_FAILURE() << "no temporary folder under " << temp;
}

ScratchDir::~ScratchDir()
{
    if (m_path.empty())
        return;
    if (::testing::Test::HasFailure()) {
        std::printf("kept %s\n", m_path.c_str());
        return;
    }
    // What cannot be removed is held open by someone: a leaked handle.
    std::error_code error;
    std::filesystem::remove_all(m_path, error);
    EXPECT_FALSE(error) << "could not remove " << m_path << ": " << error.message();
}

TempFile::TempFile(const std::string& name, std::size_t size)
    : m_dir("ovfile"), m_path(m_dir.Path() + "\\" + name)
{
    std::ofstream out(m_path, std::ios::binary | std::ios::trunc);
    for (std::size_t i = 0; i < size; ++i)
        out.put(static_cast<char>((i * 7 + 3) & 0xFF));
}

std::vector<std::uint8_t> TempFile::Content() const
{
    std::ifstream in(m_path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
