// The ten exports of Tessock.dll. No exception leaves the library: a failure inside an
// operation (memory exhausted) becomes the export's failure result.
#include <windows.h>
#include <setupapi.h>

#include "DriverSearch.h"
#include "PortList.h"
#include "Tessock.h"
#include "UsbTree.h"

namespace {

template <typename Operation>
unsigned char Guarded(unsigned char failure, Operation operation)
{
    try {
        return operation();
    } catch (...) {
        return failure;
    }
}

} // namespace

extern "C" {

unsigned char __cdecl activatePortCom(std::int32_t portNumber)
{
    return Guarded(0, [&] { return SetPortDeviceState(portNumber, true); });
}

unsigned char __cdecl deactivatePortCom(std::int32_t portNumber)
{
    return Guarded(0, [&] { return SetPortDeviceState(portNumber, false); });
}

unsigned char __cdecl getPortComAvailable2(char* out, std::int32_t size)
{
    return Guarded(0, [&] { return AppendPortTexts(out, size); });
}

unsigned char __cdecl getPortComAvailable(PortEntry* entries, std::int32_t* count,
                                          std::uint32_t property)
{
    // The rows stop at the 50 every caller allocates.
    return Guarded(0, [&] { return ListPorts(entries, tessock::kMaxPortRows, count, property); });
}

unsigned char __cdecl searchComByDriverBrenix(const wchar_t* driverKey, wchar_t* portName)
{
    return Guarded(1, [&] { return FindComOfDriver(driverKey, portName); });
}

unsigned char __cdecl searchDriverByComBrenix(unsigned char portNumber, wchar_t* driverKey)
{
    return Guarded(1, [&] { return FindDriverOfCom(portNumber, driverKey); });
}

unsigned char __cdecl searchDriverByPIDBrenix(std::int32_t productId, wchar_t* driverKey)
{
    return Guarded(0, [&] { return FindUsbDriverByProductId(productId, driverKey); });
}

unsigned char __cdecl searchDriverByPosition(unsigned char hub, unsigned char port,
                                             wchar_t* driverKey)
{
    return Guarded(0xFF, [&] { return FindUsbDriverByPosition(hub, port, driverKey); });
}

unsigned char __cdecl searchPositionByDriver(const wchar_t* driverKey, unsigned char* hub,
                                             unsigned char* port)
{
    return Guarded(0xFF, [&] { return FindUsbPositionOfDriver(driverKey, hub, port); });
}

unsigned char __cdecl setComByDriverBrenix(const wchar_t* driverKey, unsigned char newPort)
{
    return Guarded(1, [&] { return MoveDriverToCom(driverKey, newPort); });
}

} // extern "C"
