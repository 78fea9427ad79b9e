// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/sim_bus.h"

#include <algorithm>

namespace tarvix::sim {

using Lock = std::lock_guard<std::mutex>;

SimBus::SimBus(Clock& clock, Timing timing) : clock_(clock), timing_(timing) {}

int SimBus::NextAddress(int bus) const {
  int address = 0;
  for (const Slot& s : slots_)
    if (s.bus == bus) address = std::max(address, s.address);
  return address + 1;
}

VirtualProgrammer& SimBus::AddProgrammer(const ProgrammerConfig& config, int bus) {
  VirtualProgrammer* added;
  {
    Lock lock(mutex_);
    Slot slot;
    slot.bus = bus;
    slot.address = NextAddress(bus);
    slot.programmer.reset(new VirtualProgrammer(mutex_, config));
    added = slot.programmer.get();
    programmer_slots_.push_back(slots_.size());
    slots_.push_back(std::move(slot));
    ++pending_notices_;
  }
  FlushNotices();
  return *added;
}

void SimBus::AddForeignDevice(std::uint16_t vendor_id, std::uint16_t product_id, int bus) {
  {
    Lock lock(mutex_);
    Slot slot;
    slot.bus = bus;
    slot.address = NextAddress(bus);
    slot.vendor_id = vendor_id;
    slot.product_id = product_id;
    slots_.push_back(std::move(slot));
  }
}

std::size_t SimBus::ProgrammerCount() const {
  Lock lock(mutex_);
  return programmer_slots_.size();
}

VirtualProgrammer& SimBus::Programmer(std::size_t index) {
  Lock lock(mutex_);
  return *slots_.at(programmer_slots_.at(index)).programmer;
}

void SimBus::Unplug(std::size_t index) {
  {
    Lock lock(mutex_);
    Slot& slot = slots_.at(programmer_slots_.at(index));
    if (!slot.attached) return;
    slot.attached = false;
    slot.arrives_at_ms.reset();
    ++slot.generation;
    ++pending_notices_;
  }
  FlushNotices();
}

void SimBus::Replug(std::size_t index) {
  {
    Lock lock(mutex_);
    Slot& slot = slots_.at(programmer_slots_.at(index));
    if (slot.attached) ++pending_notices_;  // a power cycle: it leaves first
    slot.attached = true;
    slot.arrives_at_ms.reset();
    ++slot.generation;
    // A loader with no valid firmware to start stays in its update mode.
    slot.programmer->PowerUp(!slot.programmer->firmware_valid_);
    ++pending_notices_;
  }
  FlushNotices();
}

bool SimBus::IsPresent(std::size_t index) const {
  Lock lock(mutex_);
  return slots_.at(programmer_slots_.at(index)).Visible();
}

void SimBus::At(std::int64_t at_ms, std::function<void(SimBus&)> action) {
  Lock lock(mutex_);
  events_.emplace(at_ms, std::move(action));
}

void SimBus::SetDeviceChangeHandler(UsbBackend::DeviceChangeHandler handler) {
  Lock lock(handler_mutex_);
  handler_ = std::move(handler);
}

void SimBus::Poll() {
  std::vector<std::function<void(SimBus&)>> due;
  {
    Lock lock(mutex_);
    const std::int64_t now = clock_.NowMs();
    for (Slot& slot : slots_) {
      if (slot.arrives_at_ms && *slot.arrives_at_ms <= now) {
        slot.arrives_at_ms.reset();
        ++pending_notices_;
      }
    }
    while (!events_.empty() && events_.begin()->first <= now) {
      due.push_back(std::move(events_.begin()->second));
      events_.erase(events_.begin());
    }
  }
  FlushNotices();
  for (auto& action : due) action(*this);
}

void SimBus::Spend(std::size_t slot, std::int64_t us) {
  if (us <= 0) return;
  std::int64_t ms;
  {
    Lock lock(debt_mutex_);
    std::int64_t& debt = debt_us_[slot];
    debt += us;
    ms = debt / 1000;
    debt -= ms * 1000;
  }
  clock_.SleepMs(ms);
}

void SimBus::FlushNotices() {
  int count;
  {
    Lock lock(mutex_);
    count = pending_notices_;
    pending_notices_ = 0;
  }
  if (count == 0) return;
  notices_ += static_cast<std::uint64_t>(count);
  UsbBackend::DeviceChangeHandler handler;
  {
    Lock lock(handler_mutex_);
    handler = handler_;
  }
  if (handler)
    for (int i = 0; i < count; ++i) handler();
}

void SimBus::Reenumerate(Slot& slot) {
  // Off the bus (open handles die), then back as the update loader.
  ++slot.generation;
  slot.programmer->PowerUp(true);
  ++pending_notices_;
  if (slot.programmer->fail_reenumeration_) {
    slot.attached = false;
    return;
  }
  if (timing() == Timing::kRealistic) {
    slot.arrives_at_ms = clock_.NowMs() + kReenumerationMs;
  } else {
    ++pending_notices_;
  }
}

}  // namespace tarvix::sim
