// The catalogue's file section made into the load list, and the module name of each file.
#include "Check.h"
#include "package/PackageRules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const CStringList lines = pkg::SectionLines(reinterpret_cast<const char*>(data), size);
    const pkg::LoadList list = pkg::BuildLoadList(lines);
    Check(list.files.GetCount() == lines.GetCount());
    Check(list.loaderPresent == (list.loaderFileCount > 0));
    int position = 0;
    for (const CString& file : list.files) {
        Check(pkg::IsLoaderFile(file) == (position++ < list.loaderFileCount));
        (void)pkg::ModuleNameOfUpper(file, list.files);
    }
    return 0;
}
