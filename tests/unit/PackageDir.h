// A package directory the test owns: a fresh temporary folder made the current directory
// for the test's lifetime, with files written into it; removed afterwards as a ScratchDir.
#pragma once
#include <string>
#include <vector>

#include "ScratchDir.h"

class PackageDir {
public:
    PackageDir();
    ~PackageDir();
    PackageDir(const PackageDir&) = delete;
    PackageDir& operator=(const PackageDir&) = delete;

    // Writes `content` byte for byte to `name` inside the directory.
    void Write(const std::string& name, const std::string& content);
    void MakeDirectory(const std::string& name);
    const std::string& Path() const { return m_dir.Path(); }

private:
    ScratchDir m_dir;
    std::string m_previousDir;
};

// A package for `model` whose catalogue every reader's options pass, listing `files` in
// order; its constraints want an application named SANTE... and refuse ANCIEN....
void WriteOpenCatalogue(PackageDir& dir, const std::vector<std::string>& files,
                        const std::string& model = "M30");
