// PngImage from a "PNG" resource of the program: the one Windows part of the picture.
#include "PngImage.h"

#include <windows.h>

#include "winfw/Dialog.h"

bool PngImage::LoadFromResource(int id)
{
    Clear();
    HMODULE module = ResourceInstance();
    HRSRC resource = ::FindResourceA(module, MAKEINTRESOURCEA(id), "PNG");
    if (resource == nullptr)
        return false;
    const DWORD size = ::SizeofResource(module, resource);
    HGLOBAL loaded = ::LoadResource(module, resource);
    const void* data = loaded != nullptr ? ::LockResource(loaded) : nullptr;
    if (data == nullptr || size == 0)
        return false;
    return LoadFromMemory(static_cast<const std::uint8_t*>(data), size);
}
