// The texts the main window shows besides its own: the package's read-me and reader type,
// and the program's version and legal notice from its version block.
#pragma once
#include "winfw/Strings.h"

// The read-me as the read-me control shows it: every line of the file ended by "\r\n"; a
// file that ends with a line break shows one empty line more. Empty for a missing file.
CString ReadMeText(const char* path);
// The same over a file's text already read (line breaks as "\n").
CString ReadMeOfContent(const CString& content);

// The first line of a file, without its line break; empty for a missing or empty file.
CString FirstLineOf(const char* path);

// The program's FileVersion with ", " written as "."; "0.0.0.0" when it cannot be read.
CString GetFileVersionText();
// The program's LegalCopyright; a fixed notice when it cannot be read.
CString GetLegalNoticeText();
// A version text as the about box shows it ("1, 2, 0, 3" gives "1.2.0.3").
CString DottedVersion(const CString& version);
