// SPDX-License-Identifier: GPL-3.0-or-later
// The boxes' keystroke checks and number parsing (Fill file data, Move To, View Data,
// Write from a file address, Fill chip data, Find): any text, any caret.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "buffer/buffer_tools.h"
#include "buffer/find_datas.h"
#include "buffer/write_from_address.h"
#include "device/recording_host.h"
#include "fuzz_input.h"
#include "operations/chip_fill.h"

namespace {

// A number as the C library reads it; nothing when it does not fit 64 bits.
std::optional<std::uint64_t> Strtoull(std::string_view text, int base) {
  const std::string copy(text);
  errno = 0;
  char* end = nullptr;
  const unsigned long long v = std::strtoull(copy.c_str(), &end, base);
  if (errno == ERANGE || end != copy.c_str() + copy.size()) return std::nullopt;
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvix;
  tarvix::fuzz::FuzzInput in(data, size);
  const std::uint8_t choice = in.Byte();
  const std::uint8_t caret_byte = in.Byte();
  const std::size_t digits = in.Byte() % 24;
  const std::string_view text = in.Rest();
  const std::size_t caret = caret_byte % (text.size() + 1);  // an edit control's caret
  RecordingHost host;

  for (const BoxCheck check : {BoxCheck::kHex, BoxCheck::kMoveToHex, BoxCheck::kDecimal}) {
    const KeystrokeResult k = CheckKeystroke(text, caret, check, host);
    FUZZ_CHECK(k.caret <= k.text.size() && k.text.size() <= text.size());
    if (k.message.empty()) FUZZ_CHECK(k.text == text);
  }
  if (const auto hex = ParseHexBox(text, digits)) {
    FUZZ_CHECK(!text.empty() && text.size() <= digits && text.find_first_of("+- ") == text.npos);
    const auto expected = Strtoull(text, 16);
    FUZZ_CHECK(expected && *expected == *hex);
  }
  if (const auto dec = ParseDecimalBox(text, digits)) {
    FUZZ_CHECK(!text.empty() && text.size() <= digits && text.find_first_of("+- ") == text.npos);
    const auto expected = Strtoull(text, 10);
    FUZZ_CHECK(expected && *expected == *dec);
  }
  const std::size_t cut = std::min<std::size_t>(choice % 8, text.size());
  const std::size_t cut2 = std::min<std::size_t>(cut + 10, text.size());
  (void)ValidateFillRequest(text.substr(0, cut), text.substr(cut, cut2 - cut), text.substr(cut2));
  if (const auto offset = ParseStartOffset(text)) {
    const std::size_t first = text.find_first_not_of(" \t");
    const std::string_view digits_only =
        text.substr(first, text.find_last_not_of(" \t") - first + 1);
    FUZZ_CHECK(digits_only.find_first_not_of("0123456789") == text.npos);
    FUZZ_CHECK(Strtoull(digits_only, 10) == std::optional<std::uint64_t>(*offset));
  }

  const FillField field = static_cast<FillField>(choice % 4);
  const FillFieldEdit edit = CheckFillFieldEdit(field, text, caret);
  FUZZ_CHECK(edit.caret <= edit.text.size() && edit.text.size() <= FillFieldLimit(field));
  FUZZ_CHECK(edit.rejected || edit.text.size() == std::min(text.size(), FillFieldLimit(field)));

  const FindAim aim = PrepareFindPattern(text, (choice & 0x10) != 0);
  if (aim.message.empty()) {
    FUZZ_CHECK(aim.pattern.size() % 2 == 0 && !aim.pattern.empty());
    const std::vector<std::uint8_t> bytes = PatternBytes(aim.pattern);
    FUZZ_CHECK(bytes.size() * 2 == aim.pattern.size());
    if ((choice & 0x10) == 0) FUZZ_CHECK(std::string(bytes.begin(), bytes.end()) == text);
  }
  return 0;
}
