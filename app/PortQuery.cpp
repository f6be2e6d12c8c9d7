#include "PortQuery.h"

#include <windows.h>

#include <cstdio>
#include <exception>

#include "PortRules.h"
#include "portlib/Tessock.h"
#include "winfw/Handle.h"
#include "winfw/OsSeam.h"
#include "winfw/SystemLibrary.h"

namespace {

constexpr std::uint32_t kDeviceDescription = 0;     // SPDRP_DEVICEDESC
constexpr std::uint32_t kLocationInformation = 13;  // SPDRP_LOCATION_INFORMATION
constexpr int kLastProbedPort = 49;

void AppendOpenablePorts(std::vector<std::string>& texts)
{
    for (int n = 1; n <= kLastProbedPort; ++n) {
        char path[24];
        std::snprintf(path, sizeof path, "\\\\.\\COM%d", n);
        ScopedHandle port(Os().CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                           OPEN_EXISTING, 0, nullptr));
        if (port.IsValid())
            texts.push_back(ports::ProbedEntryText(n));
    }
}

PortQuery Collect(std::vector<std::string>& texts)
{
    HMODULE library = LoadBesideProgram(tessock::kLibraryFileName);
    if (library == nullptr)
        return PortQuery::NoLibrary;
    const auto query = BindExport<decltype(&::getPortComAvailable)>(library, "getPortComAvailable");
    if (query == nullptr)
        return PortQuery::NoExport;

    PortTable descriptions;
    std::int32_t descriptionCount = 0;
    if (query(descriptions.Rows(), &descriptionCount, kDeviceDescription) == 0)
        return PortQuery::QueryFailed;
    PortTable numbers;
    std::int32_t numberCount = 0;
    if (query(numbers.Rows(), &numberCount, kLocationInformation) == 0)
        return PortQuery::QueryFailed;

    descriptionCount = ports::ClampRowCount(descriptionCount, tessock::kMaxPortRows);
    numberCount = ports::ClampRowCount(numberCount, tessock::kMaxPortRows);
    texts = ports::EntryTexts(descriptions.Rows(), descriptionCount, numbers.Rows(), numberCount);
    if (numberCount == 0)
        AppendOpenablePorts(texts);
    return PortQuery::Listed;
}

} // namespace

PortQuery CollectPortTexts(std::vector<std::string>& texts)
{
    texts.clear();
    try {
        const PortQuery outcome = Collect(texts);
        if (outcome != PortQuery::Listed)
            texts.clear();
        return outcome;
    } catch (const std::exception&) {
        texts.clear();
        return PortQuery::Unexpected;
    }
}
