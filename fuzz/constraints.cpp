// A constraint entry matched against the reader's application names: the first line is the
// entry, the others the names.
#include <sstream>

#include "Check.h"
#include "package/PackageRules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::istringstream text(std::string(reinterpret_cast<const char*>(data), size));
    CString entry;
    std::getline(text, entry);
    CStringList names;
    for (CString name; std::getline(text, name);)
        names.AddTail(name);
    const CString key = pkg::ConstraintKey(entry);
    Check(entry.compare(0, key.size(), key) == 0 && key.find('*') == CString::npos);
    (void)pkg::KeyFoundInAny(key, names);
    return 0;
}
