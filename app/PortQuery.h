// The machine's COM ports as the main window lists them: asked of the port library
// Tessock.dll (loaded by name, from the program's directory or the system's only), or
// found by opening COM1 to COM49 when the library lists none.
#pragma once
#include <string>
#include <vector>

enum class PortQuery {
    Listed,       // `texts` holds the entries (possibly none)
    NoLibrary,    // the library cannot be loaded
    NoExport,     // it has no getPortComAvailable
    QueryFailed,  // one of the two queries answered false
    Unexpected,   // anything else went wrong (memory)
};

// Rows and text buffers are the caller's, sized as the library expects, and freed on
// every path; a library that reports more rows than it was given is held to those rows.
PortQuery CollectPortTexts(std::vector<std::string>& texts);
