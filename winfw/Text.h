// The one converter between the process's ANSI code page, in which the system's texts
// live, and UTF-8, in which consoles and sources speak.
#pragma once
#include <string>

std::string AnsiToUtf8(const std::string& text);
std::string Utf8ToAnsi(const std::string& text);
// A system text in UTF-16 to the ANSI code page; empty when the code page cannot hold it.
std::string WideToAnsi(const std::wstring& text);
// `text` in the ANSI code page, character for character: false when a character has no
// exact form there. Never a best fit: "Łukasz" is not "Lukasz" in code page 1252, and a
// path so changed would name another file.
bool WideToAnsi(const std::wstring& text, std::string& ansi);
// The same in code page `codePage` (an ANSI code page, or 65001 for UTF-8).
bool WideToCodePage(const std::wstring& text, unsigned int codePage, std::string& out);
// For showing only, never for a path: a character the ANSI code page lacks becomes '?'.
std::string WideToAnsiShown(const std::wstring& text);
std::string WideToUtf8(const std::wstring& text);
// 8-bit text that holds one byte per UTF-16 unit below 256 (the port library's).
std::string Latin1ToUtf8(const std::string& text);
// The same texts as the system's wide calls take and give them.
std::wstring Utf8ToWide(const std::string& text);
std::wstring AnsiToWide(const std::string& text);
