// SPDX-License-Identifier: GPL-3.0-or-later
// How long an operation took, shown as minutes and seconds ("%d:%d", 65 s -> "1:5").
// Measured on the monotonic Clock, so an operation that runs over midnight or
// through a change of the system time still shows its real duration.
#pragma once

#include <cstdint>
#include <string>

#include "device/clock.h"

namespace tarvix {

// "%d:%d" of elapsed / 60 and elapsed mod 60.
[[nodiscard]] std::string FormatElapsed(std::int64_t seconds);

class OperationClock {
 public:
  // Starts at construction; Start() restarts.
  explicit OperationClock(const Clock& clock) : clock_(clock), start_ms_(clock.NowMs()) {}

  void Start() { start_ms_ = clock_.NowMs(); }
  // Whole seconds since the start.
  [[nodiscard]] std::int64_t ElapsedSeconds() const;
  [[nodiscard]] std::string ElapsedText() const { return FormatElapsed(ElapsedSeconds()); }

 private:
  const Clock& clock_;
  std::int64_t start_ms_;
};

}  // namespace tarvix
