// Diagnostic texts and lines shared by the port channel, the loader commands and the
// download.
#pragma once
#include <windows.h>

namespace linktext {
constexpr char kCannotWrite[] = "Impossible d'ecrire sur le port";
constexpr char kCannotRead[] = "Impossible de lire sur le port";
constexpr char kNoData[] = "Aucune donnee lue sur la liaison";
constexpr char kAckKo[] = "Trame recue, acquittement KO";

// The line that follows a failed system call's own line: the error the system gave.
void LogSystemError(DWORD error);
} // namespace linktext
