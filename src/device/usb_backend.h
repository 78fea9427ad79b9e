// SPDX-License-Identifier: GPL-3.0-or-later
// The USB library as the link needs it: rescan, the device list in bus order then
// device order, open, configuration, interface claim and release, close, and the
// three transfer kinds. Results follow the old library convention the protocol was
// built on: byte counts (or zero) on success, a negative number on failure or
// time-out. LibusbBackend talks to real programmers, SimBackend to simulated ones.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tarvix {

struct UsbDeviceInfo {
  std::uint16_t vendor_id = 0;
  std::uint16_t product_id = 0;
  int bus = 0;      // position of the bus in the bus list
  int address = 0;  // position or address of the device on its bus
};

// An open device; negative means none.
using UsbHandle = int;
inline constexpr UsbHandle kNoUsbHandle = -1;

// Negative results the link can tell apart, as the old library gave them (minus the
// system's error number), so every backend and the transfer trace speak alike.
inline constexpr int kUsbIoError = -5;        // EIO: the transfer failed on the wire
inline constexpr int kUsbAccessDenied = -13;  // EACCES: no permission to open the device
inline constexpr int kUsbBusy = -16;          // EBUSY: another program holds the interface
inline constexpr int kUsbNoDevice = -19;      // ENODEV: the device has gone
inline constexpr int kUsbInvalid = -22;       // EINVAL: bad handle, endpoint or number
inline constexpr int kUsbTimeout = -110;      // ETIMEDOUT: nothing moved in time

class UsbBackend {
 public:
  virtual ~UsbBackend() = default;

  // Refreshes the bus list (init, find busses, find devices).
  virtual void Rescan() = 0;
  // Every device on every bus, buses in list order and devices in list order.
  [[nodiscard]] virtual std::vector<UsbDeviceInfo> Devices() = 0;
  // Opens the device at `index` of the last Devices() list; kNoUsbHandle on failure.
  [[nodiscard]] virtual UsbHandle Open(std::size_t index) = 0;
  virtual int SetConfiguration(UsbHandle handle, int configuration) = 0;
  virtual int ClaimInterface(UsbHandle handle, int interface_number) = 0;
  virtual int ReleaseInterface(UsbHandle handle, int interface_number) = 0;
  virtual int Close(UsbHandle handle) = 0;
  virtual int BulkWrite(UsbHandle handle, int endpoint, const std::uint8_t* data, int size,
                        int timeout_ms) = 0;
  virtual int BulkRead(UsbHandle handle, int endpoint, std::uint8_t* data, int size,
                       int timeout_ms) = 0;
  virtual int InterruptWrite(UsbHandle handle, int endpoint, const std::uint8_t* data, int size,
                             int timeout_ms) = 0;

  // Called (from any thread) when a programmer arrives or leaves; the window thread
  // turns it into the worker's device-change notice.
  using DeviceChangeHandler = std::function<void()>;
  virtual void SetDeviceChangeHandler(DeviceChangeHandler handler) = 0;
};

}  // namespace tarvix
