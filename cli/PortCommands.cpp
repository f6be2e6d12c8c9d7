#include "PortCommands.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "ConsoleWriter.h"
#include "Refusals.h"
#include "app/PortQuery.h"
#include "app/PortRules.h"
#include "portlib/Tessock.h"
#include "res/resource.h"
#include "terminal/Protocol.h"
#include "winfw/Diag.h"
#include "winfw/SystemLibrary.h"
#include "winfw/Text.h"

namespace {

constexpr std::uint32_t kDeviceDescription = 0;  // SPDRP_DEVICEDESC

// The export of the port library beside the program, as the updater binds it.
template <typename Fn>
Fn Bind(const char* name)
{
    HMODULE library = LoadBesideProgram(tessock::kLibraryFileName);
    return library == nullptr ? nullptr : BindExport<Fn>(library, name);
}

// What the updater's own box says when the library is missing.
void NoLibrary()
{
    WriteStderrLine(AnsiToUtf8(LoadResString(IDS_NO_PORT_LIBRARY)));
}

} // namespace

ExitStatus RunPorts()
{
    const auto getPorts = Bind<decltype(&::getPortComAvailable)>("getPortComAvailable");
    if (getPorts == nullptr) {
        NoLibrary();
        return ExitStatus::Failed;
    }
    PortTable table;
    std::int32_t count = 0;
    if (getPorts(table.Rows(), &count, kDeviceDescription) != 1) {
        WriteStderrLine("ports: the port library could not list the COM ports");
        return ExitStatus::Failed;
    }
    for (std::int32_t i = 0; i < count && i < tessock::kMaxPortRows; ++i)
        WriteStdoutLine(Latin1ToUtf8(table.Row(i).propertyText) + "\t" +
                        std::to_string(table.Row(i).portNumber) + "\t" +
                        Latin1ToUtf8(table.Row(i).instanceId));
    // Counted on the list `update --auto` and `--all` take from, in their words.
    std::vector<std::string> entries;
    if (CollectPortTexts(entries) == PortQuery::Listed)
        WriteStderrLine("ports: " + ports::CountText(entries));
    else if (count <= 0)
        WriteStderrLine("ports: no COM port in the port list");
    return ExitStatus::Done;
}

ExitStatus RunUsb(const std::string& portText)
{
    const auto searchDriver = Bind<decltype(&::searchDriverByComBrenix)>("searchDriverByComBrenix");
    const auto searchPosition = Bind<decltype(&::searchPositionByDriver)>("searchPositionByDriver");
    if (searchDriver == nullptr || searchPosition == nullptr) {
        NoLibrary();
        return ExitStatus::Failed;
    }
    const std::string name = proto::PortNameOfText(portText);
    const int number = name.compare(0, 3, "COM") == 0 ? proto::PortNumberOfName(name) : 0;
    if (number <= 0 || number > 255) {
        WriteStderrLine("Nom de port invalide : " + portText);
        return ExitStatus::Failed;
    }
    wchar_t driverKey[tessock::kTextUnits] = {};
    if (searchDriver(static_cast<unsigned char>(number), driverKey) != 0 || driverKey[0] == L'\0') {
        Say({Refusal::Kind::Port, "usb", name, "the port library found no device for this port"});
        return ExitStatus::Failed;
    }
    driverKey[tessock::kTextUnits - 1] = L'\0';
    unsigned char hub = 0;
    unsigned char hubPort = 0;
    if (searchPosition(driverKey, &hub, &hubPort) != 0) {
        Say({Refusal::Kind::Port, "usb", name,
             "the device " + WideToUtf8(driverKey) + " was not found in the USB tree"});
        return ExitStatus::Failed;
    }
    WriteStdoutLine(WideToUtf8(driverKey) + "\t" + std::to_string(hub) + "\t" +
                    std::to_string(hubPort));
    return ExitStatus::Done;
}
