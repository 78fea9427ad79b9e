// SPDX-License-Identifier: GPL-3.0-or-later
// Time as the link and the operations see it. Every wait and every USB time-out
// goes through a Clock, so the simulator can run on virtual time: a test that
// makes the host wait 600 one-second reads finishes in microseconds.
#pragma once

#include <atomic>
#include <cstdint>

namespace tarvix {

class Clock {
 public:
  virtual ~Clock() = default;
  // Monotonic milliseconds since an arbitrary origin; elapsed times come from this,
  // never from the time of day (which jumps back at midnight).
  [[nodiscard]] virtual std::int64_t NowMs() const = 0;
  virtual void SleepMs(std::int64_t ms) = 0;
};

// The real monotonic clock.
class SteadyClock final : public Clock {
 public:
  [[nodiscard]] std::int64_t NowMs() const override;
  void SleepMs(std::int64_t ms) override;
};

// Virtual time: sleeps only advance the counter. Used with the simulated programmer.
class VirtualClock final : public Clock {
 public:
  [[nodiscard]] std::int64_t NowMs() const override { return now_ms_.load(); }
  void SleepMs(std::int64_t ms) override {
    if (ms > 0) now_ms_ += ms;
  }
  void Advance(std::int64_t ms) { SleepMs(ms); }

 private:
  std::atomic<std::int64_t> now_ms_{0};
};

}  // namespace tarvix
