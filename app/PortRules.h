// The rules of the main window's port list, as pure functions over its entry texts: how an
// entry is written, when the list counts as changed, and which entry is the reader's.
#pragma once
#include <string>
#include <vector>

struct PortEntry;

namespace ports {

// An entry whose text starts with this (exact case) is the reader's.
constexpr char kReaderPrefix[] = "DORAN Kavron";

// "DESCRIPTION (COMn)".
std::string EntryText(const char* description, int portNumber);
// "Port COMn (COMn)": a port found by opening it when the library lists none.
std::string ProbedEntryText(int portNumber);

// A row count the library reported, kept within the rows it was given (0 to `rows`).
int ClampRowCount(int reported, int rows);

// The entries of two queries of the same ports: descriptions from the first, numbers from
// the second, one entry per row both hold.
std::vector<std::string> EntryTexts(const PortEntry* descriptions, int descriptionCount,
                                    const PortEntry* numbers, int numberCount);

// True when the fresh list must replace the shown one: another number of entries, or a
// shown text the fresh list lacks. The same ports in another order are no change.
bool ListChanged(const std::vector<std::string>& shown, const std::vector<std::string>& fresh);

bool IsReaderEntry(const std::string& text);
// How many entries the list holds and how many are the reader's, in the words `ports` and
// `update --auto` or `--all` both say: "3 ports in the port list, 1 \"DORAN Kavron\" entry".
std::string CountText(const std::vector<std::string>& entries);
// The first reader entry in list order, or -1.
int ReaderEntryIndex(const std::vector<std::string>& entries);

// Whether the reader counts as detected once the operator has opened the list: not with an
// empty list, yes with a reader entry, otherwise as before.
bool DetectedAfterDropDown(const std::vector<std::string>& entries, bool detectedBefore);

// Whether a poll selects the reader's entry again: after a rebuild, and whenever nothing is
// selected while the list holds the reader or the window says it was detected (a rebuild
// by the drop-down leaves no selection). The window never says "detected" beside nothing.
bool PollSearchesReader(bool rebuilt, bool nothingSelected, bool detected,
                        const std::vector<std::string>& entries);

} // namespace ports
