// SPDX-License-Identifier: GPL-3.0-or-later
// The scrambled form of "database.dat": a bit step and a substitution of 39
// printable characters. Unscrambling runs in place over the loaded block; the
// database writer ("db pack") applies the exact inverse.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tarvix {

// No chip database is larger: 600 records of lines under 1000 bytes, with their type
// and maker lines, come to about 1 MB; the rest is room for comment lines. A larger
// file is refused before it is read.
inline constexpr std::uint64_t kDatabaseLargest = 4u << 20;

// First unscrambling step for one byte: bits 0-2 and 4-6 swap, bit 3 inverts,
// bit 7 is cleared.
constexpr std::uint8_t UnscrambleBits(std::uint8_t b) {
  return static_cast<std::uint8_t>(((b >> 4) & 0x07) | ((b & 0x07) << 4) | (~b & 0x08));
}
// Its inverse for 7-bit bytes (the bit step is its own inverse on them).
constexpr std::uint8_t ScrambleBits(std::uint8_t p) {
  return UnscrambleBits(p);
}

// Second unscrambling step for one byte: one of the 39 substitution characters
// becomes its partner; every other byte stays.
std::uint8_t Substitute(std::uint8_t b);
// The inverse substitution used by the writer.
std::uint8_t Unsubstitute(std::uint8_t b);

// Both steps over a whole buffer, in place.
void UnscrambleInPlace(std::span<std::uint8_t> bytes);

// Plain text to the stored form. Fails, naming the first line at fault, when the text
// holds a byte the format cannot carry (a non-ASCII byte, or a substitution
// character that is not itself a partner). A line that ends in a line feed alone is
// stored with a carriage return before it: the loader drops the last byte of every
// line, which must be that carriage return and not the line's last character.
struct ScrambleResult {
  std::vector<std::uint8_t> bytes;
  std::string error;  // empty on success
};
ScrambleResult Scramble(std::span<const std::uint8_t> plain);

// Stored form to plain text.
std::vector<std::uint8_t> Unscramble(std::span<const std::uint8_t> stored);

// Why `stored` is not a chip database, or "" when it is one: every stored byte is one
// the writer produces, the text is printable with its line ends, and it lists at
// least one chip. Anything else (a plain text, a binary image) would unscramble into
// garbage.
[[nodiscard]] std::string DatabaseProblem(std::span<const std::uint8_t> stored);

}  // namespace tarvix
