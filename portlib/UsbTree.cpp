#include "UsbTree.h"

#include <windows.h>
#include <winioctl.h>
#include <initguid.h>
#include <usbioctl.h>
#include <usbiodef.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "PortSeam.h"
#include "PortText.h"
#include "Resources.h"
#include "Tessock.h"

namespace {

constexpr USHORT kMakerVendorId = 0x079B;
constexpr int kControllerNames = 10;
// Room for the connection information with 30 pipe entries.
constexpr DWORD kConnectionBytes = 365;
// A name reported longer than this is no name: the request fails.
constexpr ULONG kLargestName = 4096;
// USB allows five tiers of hubs; deeper nesting can only be a faulty answer.
constexpr int kDeepestHub = 8;

static_assert(IOCTL_GET_HCD_DRIVERKEY_NAME == 0x220424 && IOCTL_USB_GET_ROOT_HUB_NAME == 0x220408 &&
                  IOCTL_USB_GET_HUB_CAPABILITIES == 0x22043C &&
                  IOCTL_USB_GET_NODE_INFORMATION == 0x220408 &&
                  IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX == 0x220448 &&
                  IOCTL_USB_GET_NODE_CONNECTION_INFORMATION == 0x22040C &&
                  IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME == 0x220420 &&
                  IOCTL_USB_GET_NODE_CONNECTION_NAME == 0x220414,
              "the hub and host-controller request codes");
static_assert(sizeof(USB_NODE_CONNECTION_INFORMATION_EX) + 30 * sizeof(USB_PIPE_INFO) == 365,
              "the connection buffer holds 30 pipes");

enum class UsbSearchMode : std::int32_t { ByProductId = 0, ByPosition = 1, ByDriverKey = 2 };

// One search: what is sought, and once the walk has found it, what was found.
struct UsbSearch {
    UsbSearchMode mode = UsbSearchMode::ByProductId;
    bool found = false;
    std::int32_t productId = 0;
    unsigned char hub = 0;
    unsigned char port = 0;
    std::wstring driverKey;
};

// The working state of one walk, passed down the recursion: its own copy of the search,
// which it fills in, and the hub numbering. Created per search; nothing else is touched.
struct UsbWalk {
    explicit UsbWalk(const UsbSearch& sought) : search(sought) {}
    UsbWalk(const UsbWalk&) = delete;
    UsbWalk& operator=(const UsbWalk&) = delete;

    UsbSearch search;
    int hubCounter = 0;
};

HANDLE OpenForRequests(const std::wstring& path)
{
    return Sys().CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
}

bool Request(HANDLE device, DWORD code, void* buffer, DWORD size)
{
    DWORD returned = 0;
    return Sys().DeviceIoControl(device, code, buffer, size, buffer, size, &returned, nullptr) !=
           FALSE;
}

// A name request made twice: the bare structure (`header` bytes of it before the name,
// `bare` bytes in all) tells the length, then a buffer of that length gets the name.
// `prepare` fills the request's input fields in a buffer.
template <typename Prepare>
bool RequestName(HANDLE device, DWORD code, std::size_t header, std::size_t bare,
                 Prepare prepare, std::wstring& name)
{
    std::vector<BYTE> probe(bare, 0);
    prepare(probe.data());
    if (!Request(device, code, probe.data(), static_cast<DWORD>(probe.size())))
        return false;
    ULONG length = 0;
    std::memcpy(&length, probe.data() + header - sizeof(ULONG), sizeof length);
    if (length <= bare || length > kLargestName)
        return false;
    // A spare terminator after the reported length: the name is always terminated.
    std::vector<BYTE> full(length + sizeof(wchar_t), 0);
    prepare(full.data());
    if (!Request(device, code, full.data(), length))
        return false;
    const std::size_t units = (length - header) / sizeof(wchar_t);
    name = TerminatedText(reinterpret_cast<const wchar_t*>(full.data() + header), units);
    return !name.empty();
}

bool HcdName(HANDLE controller, DWORD code, std::wstring& name)
{
    return RequestName(controller, code, offsetof(USB_HCD_DRIVERKEY_NAME, DriverKeyName),
                       sizeof(USB_HCD_DRIVERKEY_NAME), [](BYTE*) {}, name);
}

bool PortDriverKey(HANDLE hub, ULONG port, std::wstring& key)
{
    return RequestName(
        hub, IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME,
        offsetof(USB_NODE_CONNECTION_DRIVERKEY_NAME, DriverKeyName),
        sizeof(USB_NODE_CONNECTION_DRIVERKEY_NAME),
        [port](BYTE* b) { reinterpret_cast<USB_NODE_CONNECTION_DRIVERKEY_NAME*>(b)->ConnectionIndex = port; },
        key);
}

bool PortHubName(HANDLE hub, ULONG port, std::wstring& name)
{
    return RequestName(
        hub, IOCTL_USB_GET_NODE_CONNECTION_NAME, offsetof(USB_NODE_CONNECTION_NAME, NodeName),
        sizeof(USB_NODE_CONNECTION_NAME),
        [port](BYTE* b) { reinterpret_cast<USB_NODE_CONNECTION_NAME*>(b)->ConnectionIndex = port; },
        name);
}

struct PortConnection {
    USB_DEVICE_DESCRIPTOR descriptor;
    bool isHub;
    bool connected;
};

// One connection request; both forms share the fields the search reads.
template <typename Information>
bool RequestConnection(HANDLE hub, DWORD code, ULONG port, std::vector<BYTE>& buffer,
                       PortConnection& out)
{
    std::fill(buffer.begin(), buffer.end(), 0);
    auto* info = reinterpret_cast<Information*>(buffer.data());
    info->ConnectionIndex = port;
    if (!Request(hub, code, buffer.data(), kConnectionBytes))
        return false;
    out = {info->DeviceDescriptor, info->DeviceIsHub != FALSE,
           info->ConnectionStatus != NoDeviceConnected};
    return true;
}

// The extended request first; the older one's fields when it fails.
bool ReadConnection(HANDLE hub, ULONG port, std::vector<BYTE>& buffer, PortConnection& out)
{
    return RequestConnection<USB_NODE_CONNECTION_INFORMATION_EX>(
               hub, IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX, port, buffer, out) ||
           RequestConnection<USB_NODE_CONNECTION_INFORMATION>(
               hub, IOCTL_USB_GET_NODE_CONNECTION_INFORMATION, port, buffer, out);
}

void MatchDevice(UsbSearch& search, const USB_DEVICE_DESCRIPTOR& descriptor,
                 const std::wstring& key, int hubNumber, ULONG port)
{
    if (descriptor.idVendor != kMakerVendorId || key.empty() || search.found)
        return;
    switch (search.mode) {
    case UsbSearchMode::ByProductId:
        if (descriptor.idProduct == search.productId) {
            search.found = true;
            search.driverKey = key;
        }
        break;
    case UsbSearchMode::ByPosition:
        if (search.hub == hubNumber && search.port == port) {
            search.found = true;
            search.driverKey = key;
        }
        break;
    case UsbSearchMode::ByDriverKey:
        if (key == search.driverKey) {
            search.found = true;
            search.hub = static_cast<unsigned char>(hubNumber & 0xFF);
            search.port = static_cast<unsigned char>(port & 0xFF);
        }
        break;
    }
}

void WalkHub(UsbWalk& walk, const std::wstring& name, int depth);

void WalkHubPorts(UsbWalk& walk, HANDLE hub, int hubNumber, unsigned portCount, int depth)
{
    std::vector<BYTE> buffer(kConnectionBytes + sizeof(USB_PIPE_INFO), 0);
    for (ULONG port = 1; port <= portCount; ++port) {
        PortConnection connection = {};
        if (!ReadConnection(hub, port, buffer, connection))
            continue;
        std::wstring key;
        if (connection.connected && !PortDriverKey(hub, port, key))
            key.clear();
        if (connection.isHub) {
            std::wstring child;
            if (PortHubName(hub, port, child))
                WalkHub(walk, child, depth + 1);
            continue;
        }
        MatchDevice(walk.search, connection.descriptor, key, hubNumber, port);
    }
}

void WalkHub(UsbWalk& walk, const std::wstring& name, int depth)
{
    if (depth > kDeepestHub)
        return;
    const int hubNumber = ++walk.hubCounter;
    FileHandle hub(OpenForRequests(L"\\\\.\\" + name));
    if (!hub.IsOpen())
        return;
    USB_HUB_CAPABILITIES capabilities = {};
    Request(hub.Get(), IOCTL_USB_GET_HUB_CAPABILITIES, &capabilities, sizeof capabilities);
    USB_NODE_INFORMATION node = {};
    if (!Request(hub.Get(), IOCTL_USB_GET_NODE_INFORMATION, &node, sizeof node))
        return;
    WalkHubPorts(walk, hub.Get(), hubNumber, node.u.HubInformation.HubDescriptor.bNumberOfPorts,
                 depth);
}

void WalkHostController(UsbWalk& walk, HANDLE controller)
{
    std::wstring driverKey;
    std::wstring rootHub;
    if (!HcdName(controller, IOCTL_GET_HCD_DRIVERKEY_NAME, driverKey) ||
        !HcdName(controller, IOCTL_USB_GET_ROOT_HUB_NAME, rootHub))
        return;
    ++walk.hubCounter;
    WalkHub(walk, rootHub, 0);
}

void WalkControllerInterfaces(UsbWalk& walk)
{
    DeviceList list(Sys().SetupDiGetClassDevsW(&GUID_DEVINTERFACE_USB_HOST_CONTROLLER, nullptr,
                                               nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!list.IsOpen())
        return;
    SP_DEVICE_INTERFACE_DATA item = {};
    item.cbSize = sizeof item;
    for (DWORD index = 0; Sys().SetupDiEnumDeviceInterfaces(list.Get(), nullptr,
                                                            &GUID_DEVINTERFACE_USB_HOST_CONTROLLER,
                                                            index, &item);
         ++index) {
        DWORD required = 0;
        Sys().SetupDiGetDeviceInterfaceDetailW(list.Get(), &item, nullptr, 0, &required, nullptr);
        if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) || required > kLargestName)
            continue;
        std::vector<BYTE> buffer(required + sizeof(wchar_t), 0);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (!Sys().SetupDiGetDeviceInterfaceDetailW(list.Get(), &item, detail, required, nullptr,
                                                    nullptr))
            continue;
        const std::size_t units =
            (required - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(wchar_t);
        FileHandle controller(OpenForRequests(TerminatedText(detail->DevicePath, units)));
        if (controller.IsOpen())
            WalkHostController(walk, controller.Get());
    }
}

// Every controller by its HCD name, then every one by its interface: a controller reached
// both ways is walked twice, and the hub numbers go on counting. Returns the search as the
// walk filled it in.
UsbSearch WalkUsbTree(const UsbSearch& sought)
{
    UsbWalk walk(sought);
    for (int i = 0; i < kControllerNames; ++i) {
        FileHandle controller(OpenForRequests(L"\\\\.\\HCD" + std::to_wstring(i)));
        if (controller.IsOpen())
            WalkHostController(walk, controller.Get());
    }
    WalkControllerInterfaces(walk);
    return walk.search;
}

// The library's searches take turns: overlapping calls from the exports walk the hubs one
// after the other, each with its own search.
class SearchTurns {
public:
    static SearchTurns& Instance()
    {
        static SearchTurns turns;
        return turns;
    }
    SearchTurns(const SearchTurns&) = delete;
    SearchTurns& operator=(const SearchTurns&) = delete;

    UsbSearch Search(const UsbSearch& sought)
    {
        Locked lock(m_lock);
        return WalkUsbTree(sought);
    }

private:
    class Locked {
    public:
        explicit Locked(SRWLOCK& lock) : m_lock(lock) { ::AcquireSRWLockExclusive(&m_lock); }
        ~Locked() { ::ReleaseSRWLockExclusive(&m_lock); }
        Locked(const Locked&) = delete;
        Locked& operator=(const Locked&) = delete;

    private:
        SRWLOCK& m_lock;
    };

    SearchTurns() = default;

    SRWLOCK m_lock = SRWLOCK_INIT;
};

} // namespace

unsigned char FindUsbDriverByProductId(std::int32_t productId, wchar_t* driverKey)
{
    if (driverKey != nullptr)
        driverKey[0] = L'\0';
    UsbSearch sought;
    sought.productId = productId;
    sought.mode = UsbSearchMode::ByProductId;
    const UsbSearch result = SearchTurns::Instance().Search(sought);
    if (driverKey != nullptr)
        CopyBounded(result.driverKey, driverKey, tessock::kTextUnits);
    return 0;
}

unsigned char FindUsbDriverByPosition(unsigned char hub, unsigned char port, wchar_t* driverKey)
{
    if (hub == 0 || port == 0 || driverKey == nullptr)
        return 0xFF;
    driverKey[0] = L'\0';
    UsbSearch sought;
    sought.hub = hub;
    sought.port = port;
    sought.mode = UsbSearchMode::ByPosition;
    const UsbSearch result = SearchTurns::Instance().Search(sought);
    CopyBounded(result.driverKey, driverKey, tessock::kTextUnits);
    return 0;
}

unsigned char FindUsbPositionOfDriver(const wchar_t* driverKey, unsigned char* hub,
                                      unsigned char* port)
{
    if (driverKey == nullptr || driverKey[0] == L'\0' || hub == nullptr || port == nullptr)
        return 0xFF;
    UsbSearch sought;
    sought.driverKey = TerminatedText(driverKey, tessock::kTextUnits);
    // A key longer than the 100-unit buffers names no device.
    if (sought.driverKey.size() >= tessock::kTextUnits)
        return 0xFF;
    sought.mode = UsbSearchMode::ByDriverKey;
    const UsbSearch result = SearchTurns::Instance().Search(sought);
    if (!result.found)
        return 0xFF;
    *hub = result.hub;
    *port = result.port;
    return 0;
}
