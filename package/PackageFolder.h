// The folder an update package is read from: the current directory, or one named at start
// (`OrvaneCli --package DIR`, `Orvane.exe DIR`) and made the current directory, so that
// every reader of the package, and the files the programs leave beside it, find it there.
#pragma once
#include <string>

// Makes `folder` the process's current directory, before any thread or relative path uses
// it. False, with why in `reason`, when it is missing, a file, cannot be listed or cannot
// be entered; the current directory is then left as it was.
bool EnterPackageFolder(const std::string& folder, std::string& reason);

// `path` taken whole against the current directory, for a path named on the line to keep
// its meaning once the package's folder is entered; `path` itself when it cannot be, and
// empty when the whole path has a character the ANSI code page cannot hold (the current
// folder's name).
std::string WholePath(const std::string& path);

// Whether a file of the package is there. A file search would take "*.PDF" in a package list
// for whatever file it matches first: a name with a wildcard names no file.
bool FileExists(const char* path);

// The process's current directory, the package's folder once entered; empty when it cannot
// be read.
std::wstring CurrentDirectoryWide();

// Whether the current directory holds a package: a file, not a folder, "catalogue*.ini".
bool HoldsCatalogue();
