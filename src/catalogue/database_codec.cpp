// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/database_codec.h"

#include <array>
#include <utility>

namespace tarvix {
namespace {

// The substitution of the stored format: character -> partner. Part of the file
// format; changing it makes every existing database unreadable.
constexpr std::pair<char, char> kSubstitution[39] = {
    {'!', 'a'}, {'"', 'b'}, {'%', 'p'}, {'&', 'c'}, {'\'', 't'}, {',', 'K'}, {'<', '2'},
    {'=', 'm'}, {'>', 'o'}, {'?', 'n'}, {'[', 'f'}, {'\\', '5'}, {']', 'S'}, {'^', 'q'},
    {'`', 'U'}, {'{', '7'}, {'|', 'J'}, {'}', 'g'}, {'~', '6'},  {'a', 'B'}, {'b', 's'},
    {'c', 'l'}, {'d', 'T'}, {'e', 'k'}, {'f', 'Z'}, {'g', '4'},  {'h', 'e'}, {'i', 'C'},
    {'j', 'd'}, {'k', 'G'}, {'l', 'F'}, {'m', 'R'}, {'n', 'i'},  {'o', 'E'}, {'p', 'I'},
    {'q', 'r'}, {'r', 'h'}, {'s', '3'}, {'t', 'j'},
};

struct Tables {
  std::array<std::uint8_t, 256> forward{};
  std::array<std::uint8_t, 256> inverse{};
  std::array<bool, 256> unrepresentable{};  // a source that no partner maps back to
};

constexpr Tables MakeTables() {
  Tables t;
  for (int i = 0; i < 256; ++i) {
    t.forward[i] = static_cast<std::uint8_t>(i);
    t.inverse[i] = static_cast<std::uint8_t>(i);
  }
  for (const auto& [from, to] : kSubstitution) {
    t.forward[static_cast<std::uint8_t>(from)] = static_cast<std::uint8_t>(to);
    t.inverse[static_cast<std::uint8_t>(to)] = static_cast<std::uint8_t>(from);
  }
  for (const auto& [from, to] : kSubstitution) {
    bool is_partner = false;
    for (const auto& pair : kSubstitution) is_partner = is_partner || pair.second == from;
    if (!is_partner) t.unrepresentable[static_cast<std::uint8_t>(from)] = true;
  }
  return t;
}

constexpr Tables kTables = MakeTables();

}  // namespace

std::uint8_t Substitute(std::uint8_t b) {
  return kTables.forward[b];
}
std::uint8_t Unsubstitute(std::uint8_t b) {
  return kTables.inverse[b];
}

void UnscrambleInPlace(std::span<std::uint8_t> bytes) {
  for (auto& b : bytes) b = UnscrambleBits(b);
  for (auto& b : bytes) b = Substitute(b);
}

std::vector<std::uint8_t> Unscramble(std::span<const std::uint8_t> stored) {
  std::vector<std::uint8_t> plain(stored.begin(), stored.end());
  UnscrambleInPlace(plain);
  return plain;
}

ScrambleResult Scramble(std::span<const std::uint8_t> plain) {
  ScrambleResult result;
  result.bytes.reserve(plain.size());
  std::size_t line = 1;
  std::uint8_t previous = 0;
  for (const std::uint8_t p : plain) {
    if (p == '\n' && previous != '\r') result.bytes.push_back(ScrambleBits(Unsubstitute('\r')));
    previous = p;
    if (p >= 0x80 || kTables.unrepresentable[p]) {
      result.bytes.clear();
      result.error =
          "line " + std::to_string(line) + ": the character '" +
          (p >= 0x80 ? std::string("\\x") + "0123456789ABCDEF"[p >> 4] + "0123456789ABCDEF"[p & 15]
                     : std::string(1, static_cast<char>(p))) +
          "' cannot be stored in database.dat";
      return result;
    }
    result.bytes.push_back(ScrambleBits(Unsubstitute(p)));
    if (p == '\n') ++line;
  }
  return result;
}

std::string DatabaseProblem(std::span<const std::uint8_t> stored) {
  constexpr char kNot[] = "not a chip database: ";
  // The writer stores 7-bit bytes only; the bit step would hide an eighth bit.
  for (std::size_t i = 0; i < stored.size(); ++i) {
    if (stored[i] >= 0x80)
      return kNot + std::string("byte ") + std::to_string(i) + " cannot be in one";
  }
  const std::vector<std::uint8_t> text = Unscramble(stored);
  bool chip_line = false;
  bool line_start = true;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::uint8_t c = text[i];
    if ((c < 0x20 || c > 0x7E) && c != '\r' && c != '\n' && c != '\t')
      return kNot + std::string("byte ") + std::to_string(i) + " cannot be in one";
    chip_line = chip_line || (line_start && c == '@');
    line_start = c == '\n';
  }
  if (!chip_line) return kNot + std::string("it lists no chip");
  return {};
}

}  // namespace tarvix
