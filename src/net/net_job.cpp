// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/net_job.h"

#include <algorithm>

namespace tarvix {

namespace {
constexpr int kWaitSliceMs = 50;
}  // namespace

ExchangeControl::ExchangeControl(std::chrono::milliseconds timeout, const std::atomic<bool>* cancel,
                                 StepSink sink)
    : deadline_(std::chrono::steady_clock::now() + timeout),
      cancel_(cancel),
      sink_(std::move(sink)) {}

std::chrono::milliseconds ExchangeControl::Remaining() const {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline_ - std::chrono::steady_clock::now());
  return std::max(left, std::chrono::milliseconds{0});
}

int ExchangeControl::WaitSliceMs() const {
  return static_cast<int>(std::min<std::int64_t>(Remaining().count(), kWaitSliceMs));
}

void ExchangeControl::Step(std::string_view step) {
  if (sink_) sink_(step);
}

}  // namespace tarvix
