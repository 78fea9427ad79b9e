// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers the fuzz targets share: the input taken apart into small numbers and
// texts, and a check that stops the run as a crash when an invariant breaks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace tarvix::fuzz {

// A broken invariant is a finding like a crash: libFuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (false)

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size)
      : rest_(reinterpret_cast<const char*>(data), size) {}

  [[nodiscard]] bool Empty() const { return rest_.empty(); }
  [[nodiscard]] std::string_view Rest() const { return rest_; }

  // One byte, 0 when none is left.
  std::uint8_t Byte() {
    if (rest_.empty()) return 0;
    const auto b = static_cast<std::uint8_t>(rest_.front());
    rest_.remove_prefix(1);
    return b;
  }
  // A number from up to eight bytes, most significant first.
  std::uint64_t Number(int bytes) {
    std::uint64_t n = 0;
    for (int i = 0; i < bytes; ++i) n = n << 8 | Byte();
    return n;
  }
  // The text up to the next `separator` (taken too), or all that is left.
  std::string_view Text(char separator = '\0') {
    const std::size_t end = rest_.find(separator);
    const std::string_view text = rest_.substr(0, end);
    rest_.remove_prefix(end == std::string_view::npos ? rest_.size() : end + 1);
    return text;
  }

 private:
  std::string_view rest_;
};

}  // namespace tarvix::fuzz
