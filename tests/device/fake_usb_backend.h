// SPDX-License-Identifier: GPL-3.0-or-later
// A scripted UsbBackend for link and protocol tests: a fixed device list, per-device
// configuration answers, queued bulk-in replies and a log of every call.
#pragma once

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "device/usb_backend.h"

namespace tarvix::testing {

struct FakeDevice {
  UsbDeviceInfo info;
  bool opens = true;
  int set_configuration_result = 0;
  int claim_result = 0;
};

struct FakeCall {
  FakeCall(std::string n, UsbHandle h = kNoUsbHandle, int e = 0, int s = 0, int t = 0,
           std::vector<std::uint8_t> d = {})
      : name(std::move(n)), handle(h), endpoint(e), size(s), timeout_ms(t), data(std::move(d)) {}

  std::string name;  // "open", "config", "claim", "release", "close", "bulk_read", ...
  UsbHandle handle = kNoUsbHandle;
  int endpoint = 0;  // also the configuration or interface number
  int size = 0;
  int timeout_ms = 0;
  std::vector<std::uint8_t> data;  // bytes written, or bytes returned by a read
  int device = -1;                 // device index for "open"
};

class FakeUsbBackend : public UsbBackend {
 public:
  std::vector<FakeDevice> devices;
  std::vector<FakeCall> calls;
  // Bulk-in replies, one per read; an empty queue times out (-110).
  std::deque<std::vector<std::uint8_t>> replies;
  int interrupt_result = 0;  // what InterruptWrite answers; 0 = success
  // Called with every interrupt-out frame, to queue the device's answer.
  std::function<void(FakeUsbBackend&, const std::vector<std::uint8_t>&)> on_command;
  int rescans = 0;

  void AddProgrammer(int bus, int address) { devices.push_back({{0x0716, 0x5017, bus, address}}); }
  void AddOther(int bus, int address) { devices.push_back({{0x1234, 0x5678, bus, address}}); }

  // Which device a handle belongs to, or -1.
  int DeviceOf(UsbHandle handle) const {
    const auto it = handles_.find(handle);
    return it == handles_.end() ? -1 : it->second;
  }
  std::vector<FakeCall> CallsNamed(const std::string& name) const {
    std::vector<FakeCall> out;
    for (const FakeCall& c : calls)
      if (c.name == name) out.push_back(c);
    return out;
  }
  std::vector<std::string> CallNames() const {
    std::vector<std::string> out;
    for (const FakeCall& c : calls) out.push_back(c.name);
    return out;
  }

  void Rescan() override { ++rescans; }
  std::vector<UsbDeviceInfo> Devices() override {
    std::vector<UsbDeviceInfo> out;
    for (const FakeDevice& d : devices) out.push_back(d.info);
    return out;
  }
  UsbHandle Open(std::size_t index) override {
    FakeCall call{"open"};
    call.device = static_cast<int>(index);
    calls.push_back(call);
    if (index >= devices.size() || !devices[index].opens) return kNoUsbHandle;
    const UsbHandle h = next_handle_++;
    handles_[h] = static_cast<int>(index);
    return h;
  }
  int SetConfiguration(UsbHandle handle, int configuration) override {
    calls.push_back({"config", handle, configuration});
    return devices.at(DeviceOf(handle)).set_configuration_result;
  }
  int ClaimInterface(UsbHandle handle, int interface_number) override {
    calls.push_back({"claim", handle, interface_number});
    return devices.at(DeviceOf(handle)).claim_result;
  }
  int ReleaseInterface(UsbHandle handle, int interface_number) override {
    calls.push_back({"release", handle, interface_number});
    return 0;
  }
  int Close(UsbHandle handle) override {
    calls.push_back({"close", handle});
    handles_.erase(handle);
    return 0;
  }
  int BulkWrite(UsbHandle handle, int endpoint, const std::uint8_t* data, int size,
                int timeout_ms) override {
    calls.push_back({"bulk_write", handle, endpoint, size, timeout_ms, {data, data + size}});
    return size;
  }
  int BulkRead(UsbHandle handle, int endpoint, std::uint8_t* data, int size,
               int timeout_ms) override {
    FakeCall call{"bulk_read", handle, endpoint, size, timeout_ms};
    int result = -110;
    if (!replies.empty()) {
      std::vector<std::uint8_t> reply = std::move(replies.front());
      replies.pop_front();
      result = std::min<int>(size, static_cast<int>(reply.size()));
      std::copy_n(reply.begin(), result, data);
      call.data.assign(reply.begin(), reply.begin() + result);
    }
    calls.push_back(call);
    return result;
  }
  int InterruptWrite(UsbHandle handle, int endpoint, const std::uint8_t* data, int size,
                     int timeout_ms) override {
    std::vector<std::uint8_t> bytes(data, data + size);
    calls.push_back({"interrupt_write", handle, endpoint, size, timeout_ms, bytes});
    if (interrupt_result >= 0 && on_command) on_command(*this, bytes);
    return interrupt_result;
  }
  void SetDeviceChangeHandler(DeviceChangeHandler) override {}

 private:
  UsbHandle next_handle_ = 10;
  std::map<UsbHandle, int> handles_;
};

}  // namespace tarvix::testing
