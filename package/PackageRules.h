// The package's rules as plain functions over strings and bytes: option tests, load-list
// order, constraint matching and module naming. No Windows call happens here.
#pragma once
#include <cstddef>
#include <cstdint>

#include "winfw/Strings.h"

namespace pkg {

// The lines of a section as the profile function returns them: `count` bytes of
// NUL-ended lines, in order; empty lines and a last line without its NUL are dropped.
CStringList SectionLines(const char* buffer, std::size_t count);

// A profile value as a signed decimal integer: leading blanks skipped, optional sign,
// digits up to the first other character; anything else reads as 0. Out-of-range values
// saturate rather than wrap.
std::int32_t ParseProfileInt(const CString& text);

enum class OptionVerdict { Pass, PresenceFailed, AbsenceFailed };

// 16-bit section: `high` and `low` are the record's two option bytes.
OptionVerdict TestOptions16(std::int32_t presence, std::int32_t absence, std::uint8_t high,
                            std::uint8_t low);
// 8-bit section: only the low eight bits of the values count.
OptionVerdict TestOptions8(std::int32_t presence, std::int32_t absence, std::uint8_t value);

// A loader file's name begins with exactly these four characters.
bool IsLoaderFile(const CString& line);

struct LoadList {
    CStringList files;     // sending order
    int loaderFileCount = 0;
    bool loaderPresent = false;
};

// Whether a load-list entry names a file of the package folder and nothing else: no folder,
// drive, stream or wildcard, not "." or "..", no trailing dot or blank (Windows drops them),
// no control character, not a device name (with or without an extension), and short enough
// for the announce. A catalogue is data that travels with the package: an entry that is a
// path would send any file the operator can read, or reach out to a server.
bool IsBareFileName(const CString& name);

// Loader files go to the head (so in reverse catalogue order), the rest to the tail.
LoadList BuildLoadList(const CStringList& catalogueLines);

// The part of a constraint entry before its first '*', or the whole entry.
CString ConstraintKey(const CString& entry);

// True when `key` occurs in one of `names`, byte for byte with case. Every name takes part.
bool KeyFoundInAny(const CString& key, const CStringList& names);

// Module name for an upper-case file name, given the upper-case copy of the whole load list.
CString ModuleNameOfUpper(const CString& upperName, const CStringList& upperLoadList);

} // namespace pkg
