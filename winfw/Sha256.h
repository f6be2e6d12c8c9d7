// SHA-256 through the system's own cryptography (bcrypt.dll of System32, bound at run time):
// what a report names as the bytes that were sent.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// The SHA-256 of `size` bytes as 64 lowercase hex digits; false, `hex` untouched, when the
// system's provider cannot be reached or refuses.
bool Sha256Hex(const std::uint8_t* data, std::size_t size, std::string* hex);
