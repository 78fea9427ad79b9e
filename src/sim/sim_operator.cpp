#include "sim/sim_operator.h"

namespace tarvix::sim {

SimOperator::SimOperator(SimBus& bus, std::size_t index, ChipDescription chip,
                         std::int64_t swap_ms)
    : bus_(bus),
      index_(index),
      chip_(std::move(chip)),
      swap_ms_(swap_ms),
      state_(std::make_shared<State>()) {}

void SimOperator::ChipDone() {
  auto state = state_;
  const std::int64_t half = swap_ms_ / 2;
  const std::size_t index = index_;
  bus_.At(bus_.clock().NowMs() + half, [state, half, index, chip = chip_](SimBus& bus) {
    bus.Programmer(index).RemoveChip();
    state->in_socket = 0;
    // The socket stays empty for a while, however late the removal came.
    bus.At(bus.clock().NowMs() + half, [state, index, chip](SimBus& later) {
      later.Programmer(index).InsertChip(std::make_unique<VirtualChip>(chip));
      state->in_socket = ++state->inserted;
    });
  });
}

std::int64_t GangSwapMs(std::int64_t base_ms, std::size_t index) {
  static constexpr std::int64_t kEighths[] = {8, 9, 7};
  return base_ms * kEighths[index % 3] / 8;
}

}  // namespace tarvix::sim
