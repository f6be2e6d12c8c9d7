// A section as the profile function returns it, cut into lines.
#include "Check.h"
#include "package/PackageRules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const CStringList lines = pkg::SectionLines(reinterpret_cast<const char*>(data), size);
    std::size_t bytes = 0;
    for (const CString& line : lines) {
        Check(!line.empty() && line.find('\0') == CString::npos);
        bytes += line.size() + 1;
    }
    Check(bytes <= size);
    return 0;
}
