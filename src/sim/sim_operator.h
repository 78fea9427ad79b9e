// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated operator of a bulk run at one programmer: some time after each chip
// is done it takes the chip out and, as long again later, puts a fresh one from the
// same box in. A gang has one per programmer, each with its own pace.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "sim/sim_bus.h"
#include "sim/virtual_chip.h"

namespace tarvix::sim {

class SimOperator {
 public:
  // Serves the programmer at `index` of `bus`; `swap_ms` is one whole swap.
  SimOperator(SimBus& bus, std::size_t index, ChipDescription chip, std::int64_t swap_ms);

  // Number of the chip now in the socket (1 for the one there at the start, 0 while
  // the socket is empty).
  [[nodiscard]] int InSocket() const { return state_->in_socket; }
  [[nodiscard]] std::int64_t SwapMs() const { return swap_ms_; }

  // The chip in the socket is finished: the swap starts.
  void ChipDone();

  struct State {
    std::atomic<int> in_socket{1};
    std::atomic<int> inserted{1};
  };

 private:
  SimBus& bus_;
  std::size_t index_;
  ChipDescription chip_;
  std::int64_t swap_ms_;
  std::shared_ptr<State> state_;
};

// The swap time of the operator at programmer `index` of a gang whose operators take
// `base_ms` on average: each hand has its own pace (from 7/8 to 9/8 of it, by turns),
// so the programmers drift apart as they would on a real line.
[[nodiscard]] std::int64_t GangSwapMs(std::int64_t base_ms, std::size_t index);

}  // namespace tarvix::sim
