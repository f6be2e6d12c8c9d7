// A folder of the test's own under the temporary directory. It goes with the object, with
// whatever the test or the code under test left in it, unless the test has failed: then it
// stays and its path is printed with the failure.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

class ScratchDir {
public:
    explicit ScratchDir(const char* prefix);
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    // The folder's path, without a trailing separator.
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

// A file the test owns in a temporary folder of its own; removed with the object.
class TempFile {
public:
    TempFile(const std::string& name, std::size_t size);
    const std::string& Path() const { return m_path; }
    std::vector<std::uint8_t> Content() const;

private:
    ScratchDir m_dir;
    std::string m_path;
};
