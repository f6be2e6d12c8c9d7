// The reader models the updater knows, by the three-character code of their description.
#pragma once
#include <cstddef>

struct TerminalDescription;

struct ReaderModel {
    char code[4];        // NUL-terminated, as the package file names use it
    unsigned stepTextId; // the string-table text shown while the reader is examined
};

constexpr std::size_t kKnownModelCount = 8;
extern const ReaderModel kKnownModels[kKnownModelCount];

// The model whose code matches bytes 8 to 10 of the record, in table order; null if none.
const ReaderModel* FindReaderModel(const TerminalDescription& description);

// Whether two descriptions name the same model with the same hardware options (bytes 27
// to 39): how a reader found again is told from another device.
bool SameModelAndOptions(const TerminalDescription& a, const TerminalDescription& b);
