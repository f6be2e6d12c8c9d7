#include "PackageDir.h"

#include <windows.h>

#include <fstream>

PackageDir::PackageDir()
{
    char previous[MAX_PATH] = {};
    ::GetCurrentDirectoryA(MAX_PATH, previous);
    m_previousDir = previous;
    char temp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, temp);
    // Tests run as separate processes in parallel: the process id keeps their folders apart.
    m_path = std::string(temp) + "ovpkg" + std::to_string(::GetCurrentProcessId()) + "_" +
             std::to_string(::GetTickCount());
    ::CreateDirectoryA(m_path.c_str(), nullptr);
    ::SetCurrentDirectoryA(m_path.c_str());
}

PackageDir::~PackageDir()
{
    ::SetCurrentDirectoryA(m_previousDir.c_str());
    for (const std::string& file : m_files)
        ::DeleteFileA((m_path + "\\" + file).c_str());
    for (const std::string& dir : m_dirs)
        ::RemoveDirectoryA((m_path + "\\" + dir).c_str());
    ::RemoveDirectoryA(m_path.c_str());
}

void PackageDir::Write(const std::string& name, const std::string& content)
{
    std::ofstream out(m_path + "\\" + name, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    m_files.push_back(name);
}

void PackageDir::MakeDirectory(const std::string& name)
{
    ::CreateDirectoryA((m_path + "\\" + name).c_str(), nullptr);
    m_dirs.push_back(name);
}

void WriteOpenCatalogue(PackageDir& dir, const std::vector<std::string>& files,
                        const std::string& model)
{
    std::string catalogue;
    for (const char* section : {"GENERAL OPTIONS", "READERS OPTIONS", "MODEM OPTIONS",
                                "DISPLAY OPTIONS", "EXTENSION OPTIONS"})
        catalogue += std::string("[") + section + "]\r\nPresence=0\r\nAbsence=0\r\n";
    catalogue += "[FICHIER A CHARGER]\r\n";
    for (const std::string& file : files)
        catalogue += file + "\r\n";
    dir.Write("catalogue" + model + ".ini", catalogue);
    dir.Write("Contraintes" + model + ".ini", "[PRESENCE]\r\nSANTE*\r\n[EXCLUSION]\r\nANCIEN*\r\n");
}
