#include "PackageDir.h"

#include <windows.h>

#include <fstream>

PackageDir::PackageDir() : m_dir("ovpkg")
{
    char previous[MAX_PATH] = {};
    ::GetCurrentDirectoryA(MAX_PATH, previous);
    m_previousDir = previous;
    ::SetCurrentDirectoryA(Path().c_str());
}

// The current directory is given back first: a folder in use cannot be removed.
PackageDir::~PackageDir() { ::SetCurrentDirectoryA(m_previousDir.c_str()); }

void PackageDir::Write(const std::string& name, const std::string& content)
{
    std::ofstream out(Path() + "\\" + name, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

void PackageDir::MakeDirectory(const std::string& name)
{
    ::CreateDirectoryA((Path() + "\\" + name).c_str(), nullptr);
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
