// The catalogue's file section made into the load list, the module name of each file, and
// the rule that keeps every entry a bare name of the package folder.
#include "Check.h"
#include "package/PackageRules.h"
#include "terminal/Protocol.h"

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
        if (pkg::IsBareFileName(file)) {
            // Nothing that leads out of the folder, and always a name the announce carries.
            Check(file.find_first_of("\\/:") == CString::npos && file != "." && file != "..");
            std::uint8_t frame[proto::kCommandFrameSize];
            Check(proto::BuildAnnounceFrame(0, file, frame));
        }
    }
    return 0;
}
