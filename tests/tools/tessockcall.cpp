// tessockcall: calls the exports of a Tessock.dll given by path, as the updater binds them
// (by name, at run time), and prints what they answer.
//   tessockcall DLL list PROPERTY   getPortComAvailable: NUMBER<TAB>TEXT<TAB>INSTANCEID rows
//   tessockcall DLL list2 SIZE      getPortComAvailable2 on an empty text of SIZE bytes
//   tessockcall DLL driver N        searchDriverByComBrenix
//   tessockcall DLL com KEY         searchComByDriverBrenix
//   tessockcall DLL on N | off N    activatePortCom, deactivatePortCom
//   tessockcall DLL smoke           every export with ordinary, empty and absurd arguments;
//                                   exit 0 when each answers its failure or empty result
#include <windows.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "portlib/Tessock.h"

namespace {

struct Library {
    decltype(&::activatePortCom) activate;
    decltype(&::deactivatePortCom) deactivate;
    decltype(&::getPortComAvailable2) list2;
    decltype(&::getPortComAvailable) list;
    decltype(&::searchComByDriverBrenix) comOfDriver;
    decltype(&::searchDriverByComBrenix) driverOfCom;
    decltype(&::searchDriverByPIDBrenix) driverOfProduct;
    decltype(&::searchDriverByPosition) driverAt;
    decltype(&::searchPositionByDriver) positionOf;
    decltype(&::setComByDriverBrenix) setCom;
};

template <typename Fn>
void Bind(HMODULE module, const char* name, Fn& fn, bool& ok)
{
    fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
    if (fn == nullptr) {
        std::fprintf(stderr, "tessockcall: no export %s\n", name);
        ok = false;
    }
}

bool Load(const wchar_t* path, Library& lib)
{
    HMODULE module = ::LoadLibraryW(path);
    if (module == nullptr) {
        std::fprintf(stderr, "tessockcall: cannot load %ls\n", path);
        return false;
    }
    bool ok = true;
    Bind(module, "activatePortCom", lib.activate, ok);
    Bind(module, "deactivatePortCom", lib.deactivate, ok);
    Bind(module, "getPortComAvailable2", lib.list2, ok);
    Bind(module, "getPortComAvailable", lib.list, ok);
    Bind(module, "searchComByDriverBrenix", lib.comOfDriver, ok);
    Bind(module, "searchDriverByComBrenix", lib.driverOfCom, ok);
    Bind(module, "searchDriverByPIDBrenix", lib.driverOfProduct, ok);
    Bind(module, "searchDriverByPosition", lib.driverAt, ok);
    Bind(module, "searchPositionByDriver", lib.positionOf, ok);
    Bind(module, "setComByDriverBrenix", lib.setCom, ok);
    return ok;
}

// A 100-unit buffer holding a mark, to see whether a call wrote into it.
struct Marked {
    wchar_t text[tessock::kTextUnits];
    Marked() { Reset(); }
    void Reset()
    {
        std::wmemset(text, L'#', tessock::kTextUnits);
        text[1] = L'\0';
    }
    bool Untouched() const { return text[0] == L'#' && text[1] == L'\0'; }
    bool Empty() const { return text[0] == L'\0'; }
};

int g_failures = 0;

void Expect(bool ok, const char* call)
{
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", call);
    if (!ok)
        ++g_failures;
}

int List(const Library& lib, std::uint32_t property)
{
    PortTable table;
    std::int32_t count = -1;
    const unsigned char r = lib.list(table.Rows(), &count, property);
    std::printf("%d\t%d\n", r, count);
    for (std::int32_t i = 0; i < count && i < tessock::kMaxPortRows; ++i)
        std::printf("%d\t%s\t%s\n", table.Row(i).portNumber, table.Row(i).propertyText,
                    table.Row(i).instanceId);
    return 0;
}

int Smoke(const Library& lib)
{
    PortTable table;
    PortEntry* const rows = table.Rows();
    std::int32_t count = -1;
    unsigned char r = lib.list(rows, &count, 0);
    Expect((r == 1 && count >= 0 && count <= 50) || (r == 0 && count == -1), "getPortComAvailable(rows, &count, DEVICEDESC)");
    count = -1;
    r = lib.list(rows, &count, 0xFFFFFFFF);
    Expect((r == 1 && count >= 0 && count <= 50) || (r == 0 && count == -1), "getPortComAvailable(rows, &count, 0xFFFFFFFF)");
    Expect(lib.list(nullptr, &count, 0) == 0, "getPortComAvailable(null, &count, 0) == 0");
    Expect(lib.list(rows, nullptr, 0) == 0, "getPortComAvailable(rows, null, 0) == 0");

    std::vector<char> text(4096, '\0');
    Expect(lib.list2(text.data(), 54) == 1 && text[0] == '\0', "getPortComAvailable2(text, 54) == 1, nothing appended");
    Expect(lib.list2(text.data(), 0) == 0 && text[0] == '\0', "getPortComAvailable2(text, 0) == 0");
    Expect(lib.list2(text.data(), -5) == 0 && text[0] == '\0', "getPortComAvailable2(text, -5) == 0");
    Expect(lib.list2(nullptr, 100) == 0, "getPortComAvailable2(null, 100) == 0");
    Expect(lib.list2(text.data(), static_cast<std::int32_t>(text.size())) == 1, "getPortComAvailable2(text, 4096) == 1");

    for (std::int32_t n : {0, -1, 255, INT_MAX, INT_MIN}) {
        const std::string args = "(" + std::to_string(n) + ") == 0";
        Expect(lib.activate(n) == 0, ("activatePortCom" + args).c_str());
        Expect(lib.deactivate(n) == 0, ("deactivatePortCom" + args).c_str());
    }

    Marked out;
    const std::wstring hugeKey(5000, L'k');
    Expect(lib.comOfDriver(L"", out.text) == 0xFF && out.Untouched(), "searchComByDriverBrenix(\"\") == 0xFF");
    Expect(lib.comOfDriver(nullptr, out.text) == 0xFF && out.Untouched(), "searchComByDriverBrenix(null) == 0xFF");
    Expect(lib.comOfDriver(L"{none}\\0000", nullptr) == 0xFF, "searchComByDriverBrenix(key, null) == 0xFF");
    Expect(lib.comOfDriver(L"{none}\\0000", out.text) == 0 && out.Untouched(), "searchComByDriverBrenix(unknown key) == 0, untouched");
    Expect(lib.comOfDriver(hugeKey.c_str(), out.text) == 0 && out.Untouched(), "searchComByDriverBrenix(5000-unit key) == 0, untouched");
    Expect(lib.driverOfCom(0, out.text) == 0 && out.Untouched(), "searchDriverByComBrenix(0) == 0, untouched");
    Expect(lib.driverOfCom(255, out.text) == 0 && out.Untouched(), "searchDriverByComBrenix(255) == 0, untouched");
    Expect(lib.driverOfCom(5, nullptr) == 1, "searchDriverByComBrenix(5, null) == 1");

    for (std::int32_t pid : {0, -1, 0x28, INT_MAX}) {
        out.Reset();
        Expect(lib.driverOfProduct(pid, out.text) == 0 && out.Empty(),
               ("searchDriverByPIDBrenix(" + std::to_string(pid) + ") == 0, empty").c_str());
    }
    Expect(lib.driverOfProduct(0x28, nullptr) == 0, "searchDriverByPIDBrenix(0x28, null) == 0");

    out.Reset();
    Expect(lib.driverAt(0, 0, out.text) == 0xFF && out.Untouched(), "searchDriverByPosition(0, 0) == 0xFF, untouched");
    Expect(lib.driverAt(0, 4, out.text) == 0xFF && out.Untouched(), "searchDriverByPosition(0, 4) == 0xFF, untouched");
    Expect(lib.driverAt(2, 4, nullptr) == 0xFF, "searchDriverByPosition(2, 4, null) == 0xFF");
    Expect(lib.driverAt(2, 4, out.text) == 0 && out.Empty(), "searchDriverByPosition(2, 4) == 0, empty");
    out.Reset();
    Expect(lib.driverAt(255, 255, out.text) == 0 && out.Empty(), "searchDriverByPosition(255, 255) == 0, empty");

    unsigned char hub = 77, port = 77;
    Expect(lib.positionOf(L"", &hub, &port) == 0xFF, "searchPositionByDriver(\"\") == 0xFF");
    Expect(lib.positionOf(nullptr, &hub, &port) == 0xFF, "searchPositionByDriver(null) == 0xFF");
    Expect(lib.positionOf(L"{none}\\0000", nullptr, nullptr) == 0xFF, "searchPositionByDriver(key, null, null) == 0xFF");
    Expect(lib.positionOf(L"{none}\\0000", &hub, &port) == 0xFF && hub == 77 && port == 77,
           "searchPositionByDriver(unknown key) == 0xFF, untouched");
    Expect(lib.positionOf(hugeKey.c_str(), &hub, &port) == 0xFF, "searchPositionByDriver(5000-unit key) == 0xFF");

    Expect(lib.setCom(L"", 7) == 0xFF, "setComByDriverBrenix(\"\", 7) == 0xFF");
    Expect(lib.setCom(nullptr, 7) == 0xFF, "setComByDriverBrenix(null, 7) == 0xFF");
    Expect(lib.setCom(L"{none}\\0000", 0) == 0xFF, "setComByDriverBrenix(key, 0) == 0xFF");
    Expect(lib.setCom(L"{none}\\0000", 7) == 0, "setComByDriverBrenix(unknown key, 7) == 0");
    Expect(lib.setCom(L"{none}\\0000", 255) == 0, "setComByDriverBrenix(unknown key, 255) == 0");
    Expect(lib.setCom(hugeKey.c_str(), 7) == 0, "setComByDriverBrenix(5000-unit key, 7) == 0");

    std::printf("%d failure(s)\n", g_failures);
    return g_failures == 0 ? 0 : 1;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    Library lib;
    if (argc < 3 || !Load(argv[1], lib))
        return 2;
    const std::wstring command = argv[2];
    if (command == L"smoke" && argc == 3)
        return Smoke(lib);
    if ((command == L"on" || command == L"off") && argc == 4) {
        const std::int32_t n = std::wcstol(argv[3], nullptr, 10);
        std::printf("%d\n", command == L"on" ? lib.activate(n) : lib.deactivate(n));
        return 0;
    }
    if (command == L"list" && argc == 4)
        return List(lib, static_cast<std::uint32_t>(std::wcstoul(argv[3], nullptr, 10)));
    if (command == L"list2" && argc == 4) {
        const int size = std::wcstol(argv[3], nullptr, 10);
        std::vector<char> text(static_cast<std::size_t>(size > 0 ? size : 1), '\0');
        const unsigned char r = lib.list2(text.data(), size);
        std::printf("%d\t%s\n", r, text.data());
        return 0;
    }
    if (command == L"driver" && argc == 4) {
        Marked out;
        out.text[0] = L'\0';
        const unsigned char r =
            lib.driverOfCom(static_cast<unsigned char>(std::wcstol(argv[3], nullptr, 10)), out.text);
        std::printf("%d\t%ls\n", r, out.text);
        return 0;
    }
    if (command == L"com" && argc == 4) {
        Marked out;
        out.text[0] = L'\0';
        const unsigned char r = lib.comOfDriver(argv[3], out.text);
        std::printf("%d\t%ls\n", r, out.text);
        return 0;
    }
    std::fputs("usage: tessockcall DLL smoke | on N | off N | list PROPERTY | list2 SIZE | driver N | com KEY\n", stderr);
    return 2;
}
