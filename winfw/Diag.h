// Diagnostic lines on the debugger output, and message boxes, both through the OS seam.
#pragma once
#include <windows.h>
#include <cstddef>
#include <string>

#ifndef OV_PRINTF_FORMAT
#define OV_PRINTF_FORMAT(fmt, args) __attribute__((format(__MINGW_PRINTF_FORMAT, fmt, args)))
#endif

// One line composed in a 255-byte buffer (longer text is cut), written without terminator.
void LogLine(const char* fmt, ...) OV_PRINTF_FORMAT(1, 2);

// The same, composed in a buffer of the given size (the USB lookup lines use 100 bytes).
void LogLineSized(std::size_t bufferSize, const char* fmt, ...) OV_PRINTF_FORMAT(2, 3);

// A message box captioned with the executable's base name; a window's own boxes name it
// as owner, so that it cannot be used while the box is up.
int ShowMessage(const std::string& text, UINT type, HWND owner = nullptr);

// A string of the program's string table; empty when the id is missing.
std::string LoadResString(UINT id);
