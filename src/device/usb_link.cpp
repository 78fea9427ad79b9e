// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/usb_link.h"

#include <array>

namespace tarvix {

namespace {
constexpr int kDrainSize = 64;
constexpr int kDrainTimeoutMs = 100;
}  // namespace

UsbLink::UsbLink(UsbBackend& backend, Host& host, MainState& state)
    : backend_(backend), host_(host), state_(state) {}

void UsbLink::SetLinkParameters() {
  vendor_id_ = kProgrammerVendorId;
  product_id_ = kProgrammerProductId;
  interface_number_ = kLinkInterface;
  configuration_ = kLinkConfiguration;
  bulk_out_endpoint_ = kBulkOutEndpoint;
  handle_ = kNoUsbHandle;
  open_ = 0;
}

void UsbLink::BindTo(int bus, int address) {
  bound_bus_ = bus;
  bound_address_ = address;
  bound_ = true;
}

bool UsbLink::Matches(const UsbDeviceInfo& info, std::uint16_t vendor_id,
                      std::uint16_t product_id) const {
  if (info.vendor_id != vendor_id || info.product_id != product_id) return false;
  return !bound_.load() || (info.bus == bound_bus_.load() && info.address == bound_address_.load());
}

bool UsbLink::IsDevicePresent() {
  std::unique_lock<std::mutex> lock;
  if (enumeration_lock_ != nullptr) lock = std::unique_lock<std::mutex>(*enumeration_lock_);
  backend_.Rescan();
  bool found = false;
  // Every device is looked at; the answer is only whether one matched.
  for (const UsbDeviceInfo& info : backend_.Devices())
    if (Matches(info, vendor_id_, product_id_)) found = true;
  // A programmer that re-enumerates for its firmware update is still plugged in.
  host_.SetProgrammerPresent(found || state_.dfu_mode.load() != 0);
  return found;
}

UsbHandle UsbLink::OpenDeviceByIds(std::uint16_t vendor_id, std::uint16_t product_id) {
  std::unique_lock<std::mutex> lock;
  if (enumeration_lock_ != nullptr) lock = std::unique_lock<std::mutex>(*enumeration_lock_);
  backend_.Rescan();
  const std::vector<UsbDeviceInfo> devices = backend_.Devices();
  for (std::size_t i = 0; i < devices.size(); ++i) {
    if (Matches(devices[i], vendor_id, product_id)) return backend_.Open(i);
  }
  return kNoUsbHandle;
}

void UsbLink::ShowUnconnected() {
  // In DFU mode the programmer re-enumerates on purpose; that is not worth a red line.
  if (!state_.dfu_mode.load()) host_.ShowStatus("device is unconnected! ", true, false);
}

bool UsbLink::ConfigureDevice(UsbHandle handle, int configuration, int interface_number) {
  if (handle == kNoUsbHandle) {
    ShowUnconnected();
    return false;
  }
  int result = backend_.SetConfiguration(handle, configuration);
  if (result >= 0) result = backend_.ClaimInterface(handle, interface_number);
  if (result < 0) {
    backend_.Close(handle);
    // A closed handle left in the link would be used by the next transfer.
    UsbHandle expected = handle;
    if (handle_.compare_exchange_strong(expected, kNoUsbHandle)) open_ = 0;
    // Two programs on one programmer would mix their packets; the system refuses the
    // second claim, and the user is told who holds it.
    failure_reason_ = result == kUsbBusy ? std::string_view(kDeviceInUseText) : std::string_view();
    ShowUnconnected();
    if (!failure_reason_.empty() && !state_.dfu_mode.load())
      host_.ShowStatus(failure_reason_, true, false);
    return false;
  }
  failure_reason_ = {};
  const UsbHandle previous = handle_.exchange(handle);
  if (previous != kNoUsbHandle && previous != handle) {
    // A caller that opened a second handle directly must not leak the first.
    backend_.ReleaseInterface(previous, interface_number_);
    backend_.Close(previous);
  }
  open_ = 1;
  std::array<std::uint8_t, kDrainSize> scratch{};
  (void)BulkRead(scratch.data(), kDrainSize, kDrainTimeoutMs);
  return true;
}

bool UsbLink::CloseDevice(UsbHandle handle, int interface_number) {
  if (handle != kNoUsbHandle) {
    backend_.ReleaseInterface(handle, interface_number);
    backend_.Close(handle);
    UsbHandle expected = handle;
    handle_.compare_exchange_strong(expected, kNoUsbHandle);
  }
  open_ = 0;
  return true;
}

bool UsbLink::CloseDevice() {
  return CloseDevice(handle_.load(), interface_number_);
}

bool UsbLink::OpenSequence() {
  // A handle kept without the open flag is closed too, so none is ever leaked.
  if (IsOpen() || Handle() != kNoUsbHandle) CloseDevice();
  SetLinkParameters();
  failure_reason_ = {};
  const UsbHandle handle = OpenDeviceByIds(kProgrammerVendorId, kProgrammerProductId);
  handle_ = handle;
  (void)ConfigureDevice(handle, kLinkConfiguration, kLinkInterface);
  return IsOpen();
}

std::string UsbLink::WithReason(std::string_view box_text) const {
  std::string text(box_text);
  if (!failure_reason_.empty()) text.append("\r\n").append(failure_reason_);
  return text;
}

bool UsbLink::ConnectDevice(bool show_message, std::string_view box_text) {
  failure_reason_ = {};
  if (IsDevicePresent() && OpenSequence()) return true;
  if (show_message)
    host_.MessageBox(WithReason(box_text), "info", BoxIcon::kWarning, BoxButtons::kOk);
  return false;
}

int UsbLink::CheckDeviceOpen() {
  if (!IsDevicePresent()) {
    host_.GrayMenuItem(kChipFillMenuItem);
    host_.ShowStatus("device is unconnected!", true, false);
    host_.MessageBox("device is unconnected!", "info", BoxIcon::kWarning, BoxButtons::kOk);
    return kDeviceRefused;
  }
  if (OpenSequence()) return kDeviceReady;
  host_.GrayMenuItem(kChipFillMenuItem);
  host_.ShowStatus("device open failed!", true, false);
  host_.MessageBox(WithReason("device open failed!"), "info", BoxIcon::kWarning, BoxButtons::kOk);
  return kDeviceRefused;
}

int UsbLink::BulkRead(std::uint8_t* data, int size, int timeout_ms) {
  const UsbHandle handle = handle_.load();
  if (handle == kNoUsbHandle) return -1;
  return backend_.BulkRead(handle, kBulkInEndpoint, data, size,
                           timeout_ms == 0 ? kDefaultTimeoutMs : timeout_ms);
}

int UsbLink::BulkWrite(const std::uint8_t* data, int size, int timeout_ms) {
  const UsbHandle handle = handle_.load();
  if (handle == kNoUsbHandle) return -1;
  return backend_.BulkWrite(handle, bulk_out_endpoint_, data, size, timeout_ms);
}

bool UsbLink::InterruptWrite(int endpoint, const std::uint8_t* data, int size, int timeout_ms) {
  const UsbHandle handle = handle_.load();
  if (handle == kNoUsbHandle) return false;
  return backend_.InterruptWrite(handle, endpoint, data, size,
                                 timeout_ms == 0 ? kDefaultTimeoutMs : timeout_ms) >= 0;
}

}  // namespace tarvix
