// The main window's port-list rules over the rows the port library fills: texts that may
// fill their whole buffer, any numbers, any reported count.
#include <fuzzer/FuzzedDataProvider.h>
#include <string>
#include <vector>

#include "Check.h"
#include "app/PortRules.h"
#include "portlib/Tessock.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    PortTable table;
    const int rows = in.ConsumeIntegralInRange(0, tessock::kMaxPortRows);
    for (int i = 0; i < rows; ++i) {
        PortEntry& row = table.Rows()[i];
        row.portNumber = in.ConsumeIntegral<std::int32_t>();
        const std::string text = in.ConsumeRandomLengthString(tessock::kPropertyTextSize);
        text.copy(row.propertyText, tessock::kPropertyTextSize);
    }
    const int count = ports::ClampRowCount(in.ConsumeIntegral<int>(), rows);
    Check(count >= 0 && count <= rows);
    const std::vector<std::string> fresh =
        ports::EntryTexts(table.Rows(), count, table.Rows(), count);
    const std::vector<std::string> reordered(fresh.rbegin(), fresh.rend());
    Check(!ports::ListChanged(reordered, fresh));
    Check(fresh.empty() || ports::ListChanged({fresh.begin() + 1, fresh.end()}, fresh));
    const int reader = ports::ReaderEntryIndex(fresh);
    Check(reader < static_cast<int>(fresh.size()));
    Check(ports::DetectedAfterDropDown(fresh, false) == (reader >= 0));
    return 0;
}
