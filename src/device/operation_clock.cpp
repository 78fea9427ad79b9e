// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/operation_clock.h"

#include <algorithm>

namespace tarvix {

std::string FormatElapsed(std::int64_t seconds) {
  seconds = std::max<std::int64_t>(seconds, 0);
  return std::to_string(seconds / 60) + ":" + std::to_string(seconds % 60);
}

std::int64_t OperationClock::ElapsedSeconds() const {
  return std::max<std::int64_t>(clock_.NowMs() - start_ms_, 0) / 1000;
}

}  // namespace tarvix
