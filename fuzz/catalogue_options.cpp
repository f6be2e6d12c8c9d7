// A catalogue option section: its Presence and Absence values read as the profile gives
// them, tested against the record's option bytes.
#include <fuzzer/FuzzedDataProvider.h>

#include "package/PackageRules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    const auto high = in.ConsumeIntegral<std::uint8_t>();
    const auto low = in.ConsumeIntegral<std::uint8_t>();
    const std::int32_t presence = pkg::ParseProfileInt(in.ConsumeRandomLengthString(64));
    const std::int32_t absence = pkg::ParseProfileInt(in.ConsumeRemainingBytesAsString());
    (void)pkg::TestOptions16(presence, absence, high, low);
    (void)pkg::TestOptions8(presence, absence, low);
    return 0;
}
