// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated USB: one or more VirtualProgrammers (and, if wanted, other devices)
// in bus order, the clock the simulation spends its time on, scheduled events, and
// the device-change notices of arrivals, departures and re-enumerations.
//
// Nothing here is static: every simulation is one SimBus object.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "device/clock.h"
#include "device/usb_backend.h"
#include "sim/sim_timing.h"
#include "sim/virtual_programmer.h"

namespace tarvix::sim {

class SimBus {
 public:
  explicit SimBus(Clock& clock, Timing timing = Timing::kInstant);
  SimBus(const SimBus&) = delete;
  SimBus& operator=(const SimBus&) = delete;

  [[nodiscard]] Clock& clock() const { return clock_; }
  [[nodiscard]] Timing timing() const { return timing_.load(); }
  void SetTiming(Timing timing) { timing_.store(timing); }

  // Plugs in a new programmer on `bus`, after the devices already on it; raises a
  // device-change notice. The reference stays valid as long as the bus.
  VirtualProgrammer& AddProgrammer(const ProgrammerConfig& config = {}, int bus = 0);
  // A USB device that is no programmer (the host must pass it by).
  void AddForeignDevice(std::uint16_t vendor_id, std::uint16_t product_id, int bus = 0);

  // Programmers in the order they were added.
  [[nodiscard]] std::size_t ProgrammerCount() const;
  [[nodiscard]] VirtualProgrammer& Programmer(std::size_t index = 0);

  // Pulls the programmer's cable: open handles die, a device-change notice follows.
  void Unplug(std::size_t index = 0);
  // Plugs it in again (a power cycle when it was still in): it starts afresh, in its
  // update mode when its firmware is not valid, and raises the notices.
  void Replug(std::size_t index = 0);
  // On the bus and visible to a rescan (false while unplugged or re-enumerating).
  [[nodiscard]] bool IsPresent(std::size_t index = 0) const;

  // Runs `action` at the first USB call made at or after virtual time `at_ms`
  // (chip swaps for bulk mode, an unplug in the middle of an operation...).
  void At(std::int64_t at_ms, std::function<void(SimBus&)> action);

  // One handler for the whole bus, called outside any lock.
  void SetDeviceChangeHandler(UsbBackend::DeviceChangeHandler handler);
  [[nodiscard]] std::uint64_t DeviceChangeCount() const { return notices_.load(); }

 private:
  friend class SimBackend;

  struct Slot {
    int bus = 0;
    int address = 0;
    std::unique_ptr<VirtualProgrammer> programmer;  // none for a foreign device
    std::uint16_t vendor_id = kProgrammerVendorId;
    std::uint16_t product_id = kProgrammerProductId;
    bool attached = true;
    std::optional<std::int64_t> arrives_at_ms;  // re-enumerating: back on the bus then
    std::uint32_t generation = 0;               // changes whenever open handles die
    [[nodiscard]] bool Visible() const { return attached && !arrives_at_ms; }
  };

  // Due arrivals and events; called by the backend before every USB call, unlocked.
  void Poll();
  // Time a transfer of the programmer in `slot` took; sleeps whole milliseconds on the
  // clock, unlocked. Each programmer keeps its own remainder: programmers on one bus
  // transfer side by side, and one's time must not be slept by another.
  void Spend(std::size_t slot, std::int64_t us);
  // Raises the notices counted under the lock; unlocked.
  void FlushNotices();
  // The programmer re-enumerates after code 21 (lock held).
  void Reenumerate(Slot& slot);
  int NextAddress(int bus) const;

  mutable std::mutex mutex_;
  Clock& clock_;
  std::atomic<Timing> timing_;
  std::vector<Slot> slots_;  // append-only: indices stay valid
  std::vector<std::size_t> programmer_slots_;
  std::multimap<std::int64_t, std::function<void(SimBus&)>> events_;
  int pending_notices_ = 0;
  std::atomic<std::uint64_t> notices_{0};

  std::mutex handler_mutex_;
  UsbBackend::DeviceChangeHandler handler_;

  std::mutex debt_mutex_;
  std::map<std::size_t, std::int64_t> debt_us_;  // by slot
};

}  // namespace tarvix::sim
