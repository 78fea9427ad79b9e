// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/sim_backend.h"

#include <algorithm>

namespace tarvix::sim {

using Lock = std::lock_guard<std::mutex>;

void SimBackend::Rescan() {
  bus_.Poll();
  Lock lock(bus_.mutex_);
  listed_.clear();
  for (std::size_t i = 0; i < bus_.slots_.size(); ++i) {
    const SimBus::Slot& s = bus_.slots_[i];
    if (!s.Visible()) continue;
    listed_.push_back({i, s.generation, {s.vendor_id, s.product_id, s.bus, s.address}});
  }
  std::stable_sort(listed_.begin(), listed_.end(), [](const Listed& a, const Listed& b) {
    return a.info.bus != b.info.bus ? a.info.bus < b.info.bus : a.info.address < b.info.address;
  });
}

std::vector<UsbDeviceInfo> SimBackend::Devices() {
  Lock lock(bus_.mutex_);
  std::vector<UsbDeviceInfo> out;
  out.reserve(listed_.size());
  for (const Listed& l : listed_) out.push_back(l.info);
  return out;
}

UsbHandle SimBackend::Open(std::size_t index) {
  bus_.Poll();
  Lock lock(bus_.mutex_);
  if (index >= listed_.size()) return kNoUsbHandle;
  const Listed& l = listed_[index];
  const SimBus::Slot& s = bus_.slots_[l.slot];
  // The list is the one of the last rescan; a device gone since cannot be opened.
  if (!s.Visible() || s.generation != l.generation) return kNoUsbHandle;
  if (s.programmer && s.programmer->refuse_open_) return kNoUsbHandle;
  const UsbHandle handle = next_handle_++;
  open_[handle] = {l.slot, l.generation};
  return handle;
}

SimBus::Slot* SimBackend::Find(UsbHandle handle, int* error) {
  const auto it = open_.find(handle);
  if (it == open_.end()) {
    *error = kResultInvalid;
    return nullptr;
  }
  SimBus::Slot& s = bus_.slots_[it->second.slot];
  if (!s.Visible() || s.generation != it->second.generation) {
    *error = kResultNoDevice;
    return nullptr;
  }
  return &s;
}

int SimBackend::SetConfiguration(UsbHandle handle, int configuration) {
  bus_.Poll();
  Lock lock(bus_.mutex_);
  int error = 0;
  SimBus::Slot* s = Find(handle, &error);
  if (!s) return error;
  if (s->programmer && s->programmer->refuse_configuration_) return kResultIoError;
  return configuration == 1 ? 0 : kResultInvalid;
}

int SimBackend::ClaimInterface(UsbHandle handle, int interface_number) {
  Lock lock(bus_.mutex_);
  int error = 0;
  SimBus::Slot* s = Find(handle, &error);
  if (!s) return error;
  if (s->programmer && s->programmer->refuse_interface_) return kResultIoError;
  return interface_number == 0 ? 0 : kResultInvalid;
}

int SimBackend::ReleaseInterface(UsbHandle handle, int interface_number) {
  Lock lock(bus_.mutex_);
  int error = 0;
  if (!Find(handle, &error)) return error;
  return interface_number == 0 ? 0 : kResultInvalid;
}

int SimBackend::Close(UsbHandle handle) {
  Lock lock(bus_.mutex_);
  return open_.erase(handle) == 1 ? 0 : kResultInvalid;
}

int SimBackend::BulkWrite(UsbHandle handle, int endpoint, const std::uint8_t* data, int size,
                          int timeout_ms) {
  return Transfer(Kind::kBulkWrite, handle, endpoint, const_cast<std::uint8_t*>(data), size,
                  timeout_ms);
}

int SimBackend::BulkRead(UsbHandle handle, int endpoint, std::uint8_t* data, int size,
                         int timeout_ms) {
  return Transfer(Kind::kBulkRead, handle, endpoint, data, size, timeout_ms);
}

int SimBackend::InterruptWrite(UsbHandle handle, int endpoint, const std::uint8_t* data, int size,
                               int timeout_ms) {
  return Transfer(Kind::kInterruptWrite, handle, endpoint, const_cast<std::uint8_t*>(data), size,
                  timeout_ms);
}

int SimBackend::Transfer(Kind kind, UsbHandle handle, int endpoint, std::uint8_t* data, int size,
                         int timeout_ms) {
  bus_.Poll();
  if (timeout_ms <= 0) timeout_ms = kUnlimitedWaitMs;
  VirtualProgrammer::Outcome out;
  std::size_t slot = 0;
  {
    Lock lock(bus_.mutex_);
    int error = 0;
    SimBus::Slot* s = Find(handle, &error);
    if (!s) return error;
    slot = open_.at(handle).slot;
    if (!s->programmer || data == nullptr) {
      // A device that is not ours never answers.
      out = {kResultTimeout, std::int64_t{timeout_ms} * 1000};
    } else {
      const VirtualProgrammer::Now now{bus_.clock_.NowMs(), bus_.timing() == Timing::kRealistic};
      VirtualProgrammer& p = *s->programmer;
      switch (kind) {
        case Kind::kInterruptWrite:
          out = p.OnInterruptWrite(endpoint, data, size, timeout_ms, now);
          if (p.TakeReenumerationRequest()) bus_.Reenumerate(*s);
          break;
        case Kind::kBulkWrite:
          out = p.OnBulkWrite(endpoint, data, size, timeout_ms, now);
          break;
        case Kind::kBulkRead:
          out = p.OnBulkRead(endpoint, data, size, timeout_ms, now);
          break;
      }
    }
  }
  bus_.Spend(slot, out.cost_us);
  bus_.FlushNotices();
  return out.result;
}

void SimBackend::SetDeviceChangeHandler(DeviceChangeHandler handler) {
  bus_.SetDeviceChangeHandler(std::move(handler));
}

}  // namespace tarvix::sim
