// SPDX-License-Identifier: GPL-3.0-or-later
// UsbBackend over a SimBus: what the link sees instead of libusb when the program
// runs on the simulated programmer. Time-outs and transfer times pass on the bus's
// clock, so on a VirtualClock a read that waits 5000 ms returns at once with the
// clock 5000 ms further on.
#pragma once

#include <map>
#include <vector>

#include "device/usb_backend.h"
#include "sim/sim_bus.h"

namespace tarvix::sim {

// A time-out of 0 means "no limit" to the USB library; the simulation stops waiting
// for a reply that never comes after this long (virtual) time.
inline constexpr int kUnlimitedWaitMs = 3'600'000;

class SimBackend final : public UsbBackend {
 public:
  explicit SimBackend(SimBus& bus) : bus_(bus) {}

  void Rescan() override;
  [[nodiscard]] std::vector<UsbDeviceInfo> Devices() override;
  [[nodiscard]] UsbHandle Open(std::size_t index) override;
  int SetConfiguration(UsbHandle handle, int configuration) override;
  int ClaimInterface(UsbHandle handle, int interface_number) override;
  int ReleaseInterface(UsbHandle handle, int interface_number) override;
  int Close(UsbHandle handle) override;
  int BulkWrite(UsbHandle handle, int endpoint, const std::uint8_t* data, int size,
                int timeout_ms) override;
  int BulkRead(UsbHandle handle, int endpoint, std::uint8_t* data, int size,
               int timeout_ms) override;
  int InterruptWrite(UsbHandle handle, int endpoint, const std::uint8_t* data, int size,
                     int timeout_ms) override;
  void SetDeviceChangeHandler(DeviceChangeHandler handler) override;

  [[nodiscard]] SimBus& bus() { return bus_; }

 private:
  struct Listed {
    std::size_t slot = 0;
    std::uint32_t generation = 0;
    UsbDeviceInfo info;
  };
  struct OpenDevice {
    std::size_t slot = 0;
    std::uint32_t generation = 0;
  };
  enum class Kind { kInterruptWrite, kBulkWrite, kBulkRead };

  int Transfer(Kind kind, UsbHandle handle, int endpoint, std::uint8_t* data, int size,
               int timeout_ms);
  // The open device behind `handle`, or the negative result for a dead or unknown one
  // (lock held).
  SimBus::Slot* Find(UsbHandle handle, int* error);

  SimBus& bus_;
  std::vector<Listed> listed_;
  std::map<UsbHandle, OpenDevice> open_;
  UsbHandle next_handle_ = 1;
};

}  // namespace tarvix::sim
