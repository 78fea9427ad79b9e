// SPDX-License-Identifier: GPL-3.0-or-later
// The one link to the programmer: finds it on the buses, opens and configures it,
// closes it, and moves bytes over its three pipes (bulk-in 0x83 for every reply,
// bulk-out 1 for image data, interrupt-out 2 for command packets). It also holds
// the device-open check every chip operation runs first.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "device/host.h"
#include "device/usb_backend.h"
#include "state/main_state.h"

namespace tarvix {

inline constexpr std::uint16_t kProgrammerVendorId = 0x0716;
inline constexpr std::uint16_t kProgrammerProductId = 0x5017;
inline constexpr int kLinkConfiguration = 1;
inline constexpr int kLinkInterface = 0;
inline constexpr int kBulkOutEndpoint = 1;
inline constexpr int kBulkInEndpoint = 0x83;
inline constexpr int kCommandEndpoint = 2;
// Used for reads and interrupt writes whose caller passes 0.
inline constexpr int kDefaultTimeoutMs = 500;
// Menu item grayed whenever the programmer is found missing or unopenable.
inline constexpr int kChipFillMenuItem = 32804;

// Results of CheckDeviceOpen.
inline constexpr int kDeviceReady = -1;
inline constexpr int kDeviceRefused = -2;

// Added to the open failure's status and box when the interface is claimed elsewhere
// (another program, or a second copy of this one, is using the programmer).
inline constexpr char kDeviceInUseText[] = "device is in use by another program!";

class UsbLink {
 public:
  // `state` supplies the DFU-mode flag, which silences the configure failure status.
  UsbLink(UsbBackend& backend, Host& host, MainState& state);
  UsbLink(const UsbLink&) = delete;
  UsbLink& operator=(const UsbLink&) = delete;

  // Resets the IDs and numbers to the programmer's, forgets the handle, clears the open flag.
  void SetLinkParameters();

  // A link of a gang serves one programmer: bound to its place on the buses, it looks
  // at and opens that device only, never the first programmer found. Unbound (the
  // single-programmer program), it takes the first, as always.
  void BindTo(int bus, int address);
  [[nodiscard]] bool Bound() const { return bound_.load(); }
  // Links that share one backend list and open devices in turn: the list one link
  // rescans must not change under another's open. Null: this link is the only one.
  void ShareEnumeration(std::mutex* lock) { enumeration_lock_ = lock; }

  // True when any device on any bus has the link's vendor and product ID.
  [[nodiscard]] bool IsDevicePresent();
  // Opens the first matching device, buses in list order then devices in list order.
  [[nodiscard]] UsbHandle OpenDeviceByIds(std::uint16_t vendor_id, std::uint16_t product_id);
  // Sets the configuration and claims the interface. On success the handle becomes the
  // link's, the open flag is set and stale bulk-in data (up to 64 bytes) is drained.
  // On failure the handle is closed and must not be used again.
  [[nodiscard]] bool ConfigureDevice(UsbHandle handle, int configuration, int interface_number);
  // Releases the interface and closes the handle; always true; clears the open flag.
  bool CloseDevice(UsbHandle handle, int interface_number);
  // Closes the link's own handle, if any.
  bool CloseDevice();

  // Close if open, then open and configure afresh. True when the link is open afterwards.
  bool OpenSequence();
  // Opens the programmer if present. On failure with `show_message` set, shows
  // `box_text` in an "info" box with the warning icon.
  [[nodiscard]] bool ConnectDevice(bool show_message,
                                   std::string_view box_text = "device is unconnected!");
  // kDeviceReady (-1) when the link is open afterwards, kDeviceRefused (-2) after
  // reporting why it is not.
  [[nodiscard]] int CheckDeviceOpen();

  // Bulk-in on endpoint 0x83; the backend's result unchanged (bytes or negative).
  [[nodiscard]] int BulkRead(std::uint8_t* data, int size, int timeout_ms);
  // Bulk-out on the link's bulk-out endpoint; bytes accepted or negative.
  [[nodiscard]] int BulkWrite(const std::uint8_t* data, int size, int timeout_ms);
  // True when the backend reported zero or more.
  [[nodiscard]] bool InterruptWrite(int endpoint, const std::uint8_t* data, int size,
                                    int timeout_ms);

  // Why the last open sequence failed, when the library said: kDeviceInUseText, or
  // empty when the cause is unknown (or the last open succeeded).
  [[nodiscard]] std::string_view OpenFailureReason() const { return failure_reason_; }

  [[nodiscard]] bool IsOpen() const { return open_.load() != 0; }
  [[nodiscard]] UsbHandle Handle() const { return handle_.load(); }
  [[nodiscard]] std::uint16_t VendorId() const { return vendor_id_; }
  [[nodiscard]] std::uint16_t ProductId() const { return product_id_; }
  [[nodiscard]] UsbBackend& Backend() { return backend_; }
  [[nodiscard]] Host& ReportingHost() { return host_; }

 private:
  void ShowUnconnected();
  // The device has the IDs and, while bound, the link's place on the buses.
  [[nodiscard]] bool Matches(const UsbDeviceInfo& info, std::uint16_t vendor_id,
                             std::uint16_t product_id) const;
  // The box text with the failure's reason on a line of its own, when known.
  [[nodiscard]] std::string WithReason(std::string_view box_text) const;

  UsbBackend& backend_;
  Host& host_;
  MainState& state_;
  std::atomic<UsbHandle> handle_{kNoUsbHandle};
  // Read by the worker and the window thread (write stream, closing code 9, exit).
  std::atomic<std::uint8_t> open_{0};
  std::uint16_t vendor_id_ = kProgrammerVendorId;
  std::uint16_t product_id_ = kProgrammerProductId;
  int interface_number_ = kLinkInterface;
  int configuration_ = kLinkConfiguration;
  int bulk_out_endpoint_ = kBulkOutEndpoint;
  std::string_view failure_reason_;
  std::atomic<bool> bound_{false};
  std::atomic<int> bound_bus_{0};
  std::atomic<int> bound_address_{0};
  std::mutex* enumeration_lock_ = nullptr;
};

}  // namespace tarvix
