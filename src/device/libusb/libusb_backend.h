// SPDX-License-Identifier: GPL-3.0-or-later
// The real programmer over libusb-1.0. Devices are listed in bus order, then by
// address on the bus; transfers block with the caller's time-out and answer byte
// counts or a negative error (kUsbTimeout, kUsbBusy...), as the link expects.
// Arrival and departure of a programmer (vendor 0x0716, product 0x5017) reach the
// device-change handler from libusb hotplug, or from a once-a-second poll where
// hotplug is not available.
#pragma once

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "device/usb_backend.h"

struct libusb_context;
struct libusb_device;
struct libusb_device_handle;
struct libusb_transfer;

namespace tarvix {

class LibusbBackend final : public UsbBackend {
 public:
  // kAuto watches with hotplug where libusb offers it; kPoll always polls.
  enum class Watch { kAuto, kPoll };
  explicit LibusbBackend(Watch watch = Watch::kAuto);
  ~LibusbBackend() override;
  LibusbBackend(const LibusbBackend&) = delete;
  LibusbBackend& operator=(const LibusbBackend&) = delete;

  // False when libusb could not start (no USB in a container, for instance); the
  // backend then lists no devices and every call fails.
  [[nodiscard]] bool Initialised() const { return context_ != nullptr; }
  // True when device changes come from hotplug events rather than polling.
  [[nodiscard]] bool HotplugSupported() const;

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
  // The handler runs on the watcher thread (or inside libusb event handling) and
  // must only note the change and return; it must not do USB transfers itself.
  void SetDeviceChangeHandler(DeviceChangeHandler handler) override;

  // Used by the hotplug callback.
  void NotifyDeviceChange();

 private:
  // An open handle and the calls running on it.
  struct OpenHandle {
    libusb_device_handle* handle = nullptr;
    int users = 0;
    bool closing = false;  // closed by the caller; libusb closes it when the last call ends
    std::set<libusb_transfer*> flying;  // transfers submitted and not yet completed
  };
  // The handle for one call, counted as in use until Leave; none when unknown or closed.
  libusb_device_handle* Acquire(UsbHandle handle);
  void Leave(UsbHandle handle);
  class InUse {
   public:
    InUse(LibusbBackend& backend, UsbHandle id)
        : backend_(backend), id_(id), handle_(backend.Acquire(id)) {}
    ~InUse() {
      if (handle_ != nullptr) backend_.Leave(id_);
    }
    InUse(const InUse&) = delete;
    InUse& operator=(const InUse&) = delete;
    explicit operator bool() const { return handle_ != nullptr; }
    [[nodiscard]] libusb_device_handle* get() const { return handle_; }

   private:
    LibusbBackend& backend_;
    UsbHandle id_;
    libusb_device_handle* handle_;
  };
  // One bulk or interrupt transfer, waited for: bytes moved (also when a time-out or
  // a close cut it short), or a negative error.
  int Transfer(UsbHandle handle, unsigned char endpoint, bool interrupt, std::uint8_t* data,
               int size, int timeout_ms);
  void ReleaseDeviceList();
  void StartWatcher();
  void StopWatcher();
  void HotplugLoop();
  // `last`: the programmers attached when watching started (bus, address).
  void PollLoop(std::set<std::pair<int, int>> last);

  libusb_context* context_ = nullptr;
  Watch watch_;
  std::mutex mutex_;                     // device list and open handles
  std::vector<libusb_device*> devices_;  // referenced until the next rescan
  std::vector<UsbDeviceInfo> infos_;
  std::map<UsbHandle, OpenHandle> handles_;
  UsbHandle next_handle_ = 1;

  std::mutex handler_mutex_;
  DeviceChangeHandler handler_;
  std::thread watcher_;
  std::atomic<bool> stop_{false};
  std::mutex stop_mutex_;
  std::condition_variable stop_signal_;
  int hotplug_handle_ = 0;
  bool hotplug_registered_ = false;
};

}  // namespace tarvix
