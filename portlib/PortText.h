// Text helpers of the port library: bounded copies, the 8-bit form of system texts, and
// the port numbers in port names.
#pragma once
#include <cstddef>
#include <string>

// Copies `text` with its terminator into `out` of `capacity` units; writes nothing and
// answers false when it does not fit.
bool CopyBounded(const std::wstring& text, wchar_t* out, std::size_t capacity);
bool CopyBounded(const std::string& text, char* out, std::size_t capacity);

// Every unit below 256 becomes the byte of the same value; any other unit makes the whole
// text empty.
std::string NarrowLatin1(const std::wstring& text);

// The instance ID back to UTF-16, byte for unit.
std::wstring WidenLatin1(const std::string& text);

// The decimal number that starts at `from` in `text` (0 without digits); capped so that
// absurd digit runs cannot overflow.
int DigitsAt(const std::wstring& text, std::size_t from);

// The number of a port from a friendly name: the digits after "(COM"; 0 without it.
int PortNumberOfFriendlyName(const std::wstring& friendlyName);

// The number of a "PortName" value "COM<digits>"; -1 when it does not have that form.
int PortNumberOfPortName(const std::wstring& portName);

// "COM<n>".
std::wstring PortNameOfNumber(int number);

// The text up to its first terminator, at most `capacity` units long.
std::wstring TerminatedText(const wchar_t* text, std::size_t capacity);
