#include "FakeScreen.h"

#include <algorithm>

FakeScreen::FakeScreen()
{
    using Self = FakeScreen;
    OsCalls calls = Below();
    // As GetDpiForWindow: 0 for a handle that names no window.
    calls.GetDpiForWindow = Entry([](Self& s, HWND window) { return ::IsWindow(window) ? s.dpi : 0u; });
    calls.SystemParametersInfoA = Entry([](Self& s, UINT action, UINT size, PVOID value, UINT flags) {
        if (action != SPI_GETHIGHCONTRAST)
            return RealOsCalls().SystemParametersInfoA(action, size, value, flags);
        // Windows asks for the structure's size both in the argument and in cbSize.
        auto* contrast = static_cast<HIGHCONTRASTA*>(value);
        if (contrast == nullptr || size != sizeof *contrast || contrast->cbSize != sizeof *contrast)
            return Refuse(ERROR_INVALID_PARAMETER);
        contrast->dwFlags = HCF_AVAILABLE | (s.highContrast ? HCF_HIGHCONTRASTON : 0);
        contrast->lpszDefaultScheme = nullptr;
        return TRUE;
    });
    calls.SetDialogDpiChangeBehavior = Entry([](Self& s, HWND dialog, int mask, int values) {
        if (!::IsWindow(dialog))
            return Refuse(ERROR_INVALID_WINDOW_HANDLE);
        s.dialogDpiCalls.push_back({dialog, mask, values});
        return TRUE;
    });
    calls.AdjustWindowRectExForDpi = [](RECT* rect, DWORD style, BOOL, DWORD, UINT dpi) -> BOOL {
        const int side = ::MulDiv(4, static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI);
        const bool titled = (style & WS_CAPTION) == WS_CAPTION;
        const int caption = titled ? ::MulDiv(30, static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI) : 0;
        rect->left -= side;
        rect->right += side;
        rect->top -= side + caption;
        rect->bottom += side;
        return TRUE;
    };
    Os() = calls;
}

FakeLibraries::FakeLibraries()
{
    using Self = FakeLibraries;
    const OsCalls& real = RealOsCalls();
    OsCalls calls = Below();
    calls.GetModuleHandleA = real.GetModuleHandleA;
    calls.FreeLibrary = real.FreeLibrary;
    calls.SetDllDirectoryA = real.SetDllDirectoryA;
    calls.GetSystemDirectoryA = real.GetSystemDirectoryA;
    calls.SetDefaultDllDirectories = real.SetDefaultDllDirectories;
    // A load that may look in the program's folder fails once the library is gone from it.
    calls.LoadLibraryExA = Entry([](Self& l, LPCSTR name, HANDLE file, DWORD flags) -> HMODULE {
        if (l.libraryMissing && (flags & LOAD_LIBRARY_SEARCH_APPLICATION_DIR) != 0) {
            ::SetLastError(ERROR_MOD_NOT_FOUND);
            return nullptr;
        }
        return RealOsCalls().LoadLibraryExA(name, file, flags);
    });
    calls.GetProcAddress = Entry([](Self& l, HMODULE library, LPCSTR name) {
        return l.exportsMissing ? nullptr : RealOsCalls().GetProcAddress(library, name);
    });
    // As GetModuleFileNameW: the length copied, or `size` with the text cut and
    // ERROR_INSUFFICIENT_BUFFER when it does not fit.
    calls.GetModuleFileNameW = Entry([](Self& l, HMODULE module, LPWSTR buffer, DWORD size) -> DWORD {
        const std::wstring& given = l.programPath;
        if (module != nullptr || given.empty())
            return RealOsCalls().GetModuleFileNameW(module, buffer, size);
        if (size == 0)
            return 0;
        const DWORD copied = static_cast<DWORD>(std::min<std::size_t>(given.size(), size - 1));
        std::copy(given.c_str(), given.c_str() + copied, buffer);
        buffer[copied] = L'\0';
        if (copied < given.size()) {
            ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return size;
        }
        return copied;
    });
    Os() = calls;
}
