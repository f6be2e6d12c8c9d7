// The real file system, for a test that reads a package or writes a journal in folders of
// its own: without it no file call reaches the disk.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "StrictOs.h"

struct RealFiles : OsLayer<RealFiles> {
    RealFiles();

    // Another process holds a move's target for this many MoveFileExA calls, which fail
    // with `heldError`.
    int heldMoves = 0;
    DWORD heldError = ERROR_SHARING_VIOLATION;
    int moves = 0;
    std::vector<std::string> files;  // the paths given to CreateFileA or GetFileAttributesA
};
