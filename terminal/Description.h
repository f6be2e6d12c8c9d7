// The record the reader gives about itself, and its decoding from the description frame.
// Pure: no Windows dependency.
#pragma once
#include <cstdint>
#include <string>

#include "Protocol.h"

// The 97-byte record the reader gives about itself.
struct TerminalDescription {
    std::uint8_t header[8];
    char modelCode[3];
    std::uint8_t reserved1[8];
    std::uint8_t reserved2[4];
    std::uint8_t reserved3[4];
    std::uint8_t generalOptions[2]; // high byte first
    std::uint8_t readerOptions[2];  // high byte first
    std::uint8_t modemOptions;
    std::uint8_t reserved4[2];
    std::uint8_t displayOptions;
    std::uint8_t reserved5[4];
    std::uint8_t extensionOptions;
    std::uint8_t reserved6;
    std::uint8_t reserved7[12];
    std::uint8_t reserved8[4];
    std::uint8_t reserved9[4];
    std::uint8_t reserved10[8];
    std::uint8_t reserved11[4];
    std::uint8_t reserved12[4];
    std::uint8_t reserved13[20];
};
static_assert(sizeof(TerminalDescription) == proto::kDescriptionSize, "record layout");

enum class DescriptionFrameVerdict { Ok, BadCrc, Empty };

// The record of a 128-byte description frame: the bytes after the length byte, as many as
// it announces (at most the frame's 124), the rest zero. The record is written only when
// the frame's CRC holds and its first byte is not zero.
DescriptionFrameVerdict DescriptionOfFrame(
    const std::uint8_t (&frame)[proto::kDescriptionFrameSize], TerminalDescription* description);

// The model code as text a console or a report can show: what is not printable becomes '?'.
std::string ModelCodeText(const TerminalDescription& description);

// The whole record, and its hardware option bytes (27 to 39), as lowercase hex for a report.
std::string DescriptionHex(const TerminalDescription& description);
std::string OptionBytesHex(const TerminalDescription& description);
