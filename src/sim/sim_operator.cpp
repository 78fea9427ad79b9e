// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/sim_operator.h"

namespace tarvix::sim {

SimOperator::SimOperator(SimBus& bus, std::size_t index, ChipDescription chip, std::int64_t swap_ms)
    : bus_(bus),
      index_(index),
      chip_(std::move(chip)),
      swap_ms_(swap_ms),
      state_(std::make_shared<State>()) {}

namespace {

// Commands the programmer must have taken with the socket empty before the next chip
// goes in: enough for a whole recognition (a few commands) begun after the removal.
constexpr std::uint64_t kLooksAtEmpty = 24;
constexpr std::int64_t kRetryMs = 50;

// Puts the next chip in at `at_ms`, or later, once the programmer has looked at the
// empty socket: on a virtual clock that other programmers move on, a whole swap could
// otherwise fall between two of its looks, and it would wait on for the removal.
void InsertWhenSeen(SimBus& bus, std::int64_t at_ms, std::size_t index, ChipDescription chip,
                    std::shared_ptr<SimOperator::State> state, std::uint64_t seen_after) {
  bus.At(at_ms, [index, chip = std::move(chip), state = std::move(state),
                 seen_after](SimBus& later) mutable {
    VirtualProgrammer& programmer = later.Programmer(index);
    if (programmer.CommandTotal() < seen_after + kLooksAtEmpty) {
      InsertWhenSeen(later, later.clock().NowMs() + kRetryMs, index, std::move(chip),
                     std::move(state), seen_after);
      return;
    }
    programmer.InsertChip(std::make_unique<VirtualChip>(chip));
    state->in_socket = ++state->inserted;
  });
}

}  // namespace

void SimOperator::ChipDone() {
  auto state = state_;
  const std::int64_t half = swap_ms_ / 2;
  const std::size_t index = index_;
  bus_.At(bus_.clock().NowMs() + half, [state, half, index, chip = chip_](SimBus& bus) {
    VirtualProgrammer& programmer = bus.Programmer(index);
    programmer.RemoveChip();
    state->in_socket = 0;
    // The socket stays empty for a while, however late the removal came.
    InsertWhenSeen(bus, bus.clock().NowMs() + half, index, chip, state, programmer.CommandTotal());
  });
}

std::int64_t GangSwapMs(std::int64_t base_ms, std::size_t index) {
  static constexpr std::int64_t kEighths[] = {8, 9, 7};
  return base_ms * kEighths[index % 3] / 8;
}

}  // namespace tarvix::sim
