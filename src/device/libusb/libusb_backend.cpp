// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/libusb/libusb_backend.h"

#include <libusb.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <utility>

namespace tarvix {

namespace {

constexpr std::uint16_t kWatchedVendor = 0x0716;
constexpr std::uint16_t kWatchedProduct = 0x5017;
constexpr auto kPollInterval = std::chrono::seconds(1);

int LIBUSB_CALL OnHotplug(libusb_context*, libusb_device*, libusb_hotplug_event, void* user) {
  static_cast<LibusbBackend*>(user)->NotifyDeviceChange();
  return 0;  // stay registered
}

// Positions of the attached programmers, to see a change between two polls.
std::set<std::pair<int, int>> ProgrammerPositions(libusb_context* context) {
  std::set<std::pair<int, int>> found;
  libusb_device** list = nullptr;
  const ssize_t count = libusb_get_device_list(context, &list);
  for (ssize_t i = 0; i < count; ++i) {
    libusb_device_descriptor d{};
    if (libusb_get_device_descriptor(list[i], &d) == 0 && d.idVendor == kWatchedVendor &&
        d.idProduct == kWatchedProduct)
      found.emplace(libusb_get_bus_number(list[i]), libusb_get_device_address(list[i]));
  }
  if (count >= 0) libusb_free_device_list(list, 1);
  return found;
}

// libusb's error codes in the convention every backend answers with.
int LinkError(int status) {
  switch (status) {
    case LIBUSB_ERROR_ACCESS:
      return kUsbAccessDenied;
    case LIBUSB_ERROR_BUSY:
      return kUsbBusy;
    case LIBUSB_ERROR_NO_DEVICE:
      return kUsbNoDevice;
    case LIBUSB_ERROR_INVALID_PARAM:
    case LIBUSB_ERROR_NOT_FOUND:
      return kUsbInvalid;
    case LIBUSB_ERROR_TIMEOUT:
      return kUsbTimeout;
    default:
      return kUsbIoError;
  }
}

// A call's result: zero or more as it came, a negative libusb error mapped.
int Result(int status) {
  return status >= 0 ? status : LinkError(status);
}

}  // namespace

LibusbBackend::LibusbBackend(Watch watch) : watch_(watch) {
  if (libusb_init(&context_) != 0) context_ = nullptr;
}

LibusbBackend::~LibusbBackend() {
  StopWatcher();
  std::lock_guard lock(mutex_);
  for (auto& [id, open] : handles_) libusb_close(open.handle);
  handles_.clear();
  ReleaseDeviceList();
  if (context_ != nullptr) libusb_exit(context_);
}

bool LibusbBackend::HotplugSupported() const {
  return context_ != nullptr && libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG) != 0;
}

void LibusbBackend::ReleaseDeviceList() {
  for (libusb_device* d : devices_) libusb_unref_device(d);
  devices_.clear();
  infos_.clear();
}

void LibusbBackend::Rescan() {
  std::lock_guard lock(mutex_);
  ReleaseDeviceList();
  if (context_ == nullptr) return;
  libusb_device** list = nullptr;
  const ssize_t count = libusb_get_device_list(context_, &list);
  if (count < 0) return;
  struct Entry {
    libusb_device* device;
    UsbDeviceInfo info;
  };
  std::vector<Entry> entries;
  for (ssize_t i = 0; i < count; ++i) {
    libusb_device_descriptor d{};
    if (libusb_get_device_descriptor(list[i], &d) != 0) continue;
    entries.push_back({libusb_ref_device(list[i]),
                       {d.idVendor, d.idProduct, libusb_get_bus_number(list[i]),
                        libusb_get_device_address(list[i])}});
  }
  libusb_free_device_list(list, 1);
  // libusb lists devices in no promised order; the link relies on bus, then device order.
  std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    return std::pair(a.info.bus, a.info.address) < std::pair(b.info.bus, b.info.address);
  });
  for (const Entry& e : entries) {
    devices_.push_back(e.device);
    infos_.push_back(e.info);
  }
}

std::vector<UsbDeviceInfo> LibusbBackend::Devices() {
  std::lock_guard lock(mutex_);
  return infos_;
}

UsbHandle LibusbBackend::Open(std::size_t index) {
  std::lock_guard lock(mutex_);
  if (index >= devices_.size()) return kNoUsbHandle;
  libusb_device_handle* handle = nullptr;
  if (libusb_open(devices_[index], &handle) != 0 || handle == nullptr) return kNoUsbHandle;
  // Where a kernel driver holds the interface, let the claim take it over and give it back.
  (void)libusb_set_auto_detach_kernel_driver(handle, 1);
  const UsbHandle id = next_handle_++;
  handles_[id].handle = handle;
  return id;
}

libusb_device_handle* LibusbBackend::Acquire(UsbHandle handle) {
  std::lock_guard lock(mutex_);
  const auto it = handles_.find(handle);
  if (it == handles_.end() || it->second.closing) return nullptr;
  ++it->second.users;
  return it->second.handle;
}

void LibusbBackend::Leave(UsbHandle handle) {
  libusb_device_handle* last = nullptr;
  {
    std::lock_guard lock(mutex_);
    const auto it = handles_.find(handle);
    if (it == handles_.end()) return;
    if (--it->second.users == 0 && it->second.closing) {
      last = it->second.handle;
      handles_.erase(it);
    }
  }
  if (last != nullptr) libusb_close(last);
}

int LibusbBackend::SetConfiguration(UsbHandle handle, int configuration) {
  const InUse h(*this, handle);
  if (!h) return kUsbNoDevice;
  // Setting the active configuration again resets the device's state for nothing and
  // fails while a driver holds an interface.
  int current = -1;
  if (libusb_get_configuration(h.get(), &current) == 0 && current == configuration) return 0;
  return Result(libusb_set_configuration(h.get(), configuration));
}

int LibusbBackend::ClaimInterface(UsbHandle handle, int interface_number) {
  const InUse h(*this, handle);
  return h ? Result(libusb_claim_interface(h.get(), interface_number)) : kUsbNoDevice;
}

int LibusbBackend::ReleaseInterface(UsbHandle handle, int interface_number) {
  const InUse h(*this, handle);
  return h ? Result(libusb_release_interface(h.get(), interface_number)) : kUsbNoDevice;
}

int LibusbBackend::Close(UsbHandle handle) {
  libusb_device_handle* h = nullptr;
  {
    std::lock_guard lock(mutex_);
    const auto it = handles_.find(handle);
    if (it == handles_.end() || it->second.closing) return kUsbNoDevice;
    // A call still running on another thread (the window closing the link during a
    // read) keeps the handle until it returns; its transfers are cancelled so it
    // returns now. Closing the handle under libusb's feet instead would leave the
    // transfer with the device and free the handle while it is in use.
    if (it->second.users > 0) {
      it->second.closing = true;
      for (libusb_transfer* t : it->second.flying) (void)libusb_cancel_transfer(t);
      return 0;
    }
    h = it->second.handle;
    handles_.erase(it);
  }
  libusb_close(h);
  return 0;
}

namespace {
void LIBUSB_CALL OnTransferDone(libusb_transfer* transfer) {
  *static_cast<int*>(transfer->user_data) = 1;
}
}  // namespace

int LibusbBackend::Transfer(UsbHandle handle, unsigned char endpoint, bool interrupt,
                            std::uint8_t* data, int size, int timeout_ms) {
  const InUse h(*this, handle);
  if (!h) return kUsbNoDevice;
  libusb_transfer* t = libusb_alloc_transfer(0);
  if (t == nullptr) return kUsbIoError;
  int completed = 0;
  const auto timeout = static_cast<unsigned>(std::max(timeout_ms, 0));
  if (interrupt) {
    libusb_fill_interrupt_transfer(t, h.get(), endpoint, data, size, OnTransferDone, &completed,
                                   timeout);
  } else {
    libusb_fill_bulk_transfer(t, h.get(), endpoint, data, size, OnTransferDone, &completed,
                              timeout);
  }
  {
    std::lock_guard lock(mutex_);
    OpenHandle& open = handles_.at(handle);
    if (open.closing) {
      libusb_free_transfer(t);
      return kUsbNoDevice;
    }
    const int status = libusb_submit_transfer(t);
    if (status < 0) {
      libusb_free_transfer(t);
      return LinkError(status);
    }
    open.flying.insert(t);
  }
  while (completed == 0) {
    const int status = libusb_handle_events_completed(context_, &completed);
    // As libusb's own blocking calls do: a failing event loop cancels the transfer,
    // which then completes as cancelled.
    if (status < 0 && status != LIBUSB_ERROR_INTERRUPTED) (void)libusb_cancel_transfer(t);
  }
  {
    std::lock_guard lock(mutex_);
    handles_.at(handle).flying.erase(t);
  }
  const int moved = t->actual_length;
  int result = 0;
  switch (t->status) {
    case LIBUSB_TRANSFER_COMPLETED:
      result = moved;
      break;
    case LIBUSB_TRANSFER_TIMED_OUT:
      // What moved before the time-out counts, as with the old library.
      result = moved > 0 ? moved : kUsbTimeout;
      break;
    case LIBUSB_TRANSFER_CANCELLED:
      // Cancelled by Close: the handle is gone for this caller.
      result = moved > 0 ? moved : kUsbNoDevice;
      break;
    case LIBUSB_TRANSFER_NO_DEVICE:
      result = kUsbNoDevice;
      break;
    default:  // stall, overflow, error on the wire
      result = kUsbIoError;
      break;
  }
  libusb_free_transfer(t);
  return result;
}

int LibusbBackend::BulkWrite(UsbHandle handle, int endpoint, const std::uint8_t* data, int size,
                             int timeout_ms) {
  return Transfer(handle, static_cast<unsigned char>(endpoint & 0x7F), false,
                  const_cast<std::uint8_t*>(data), size, timeout_ms);
}

int LibusbBackend::BulkRead(UsbHandle handle, int endpoint, std::uint8_t* data, int size,
                            int timeout_ms) {
  return Transfer(handle, static_cast<unsigned char>(endpoint | LIBUSB_ENDPOINT_IN), false, data,
                  size, timeout_ms);
}

int LibusbBackend::InterruptWrite(UsbHandle handle, int endpoint, const std::uint8_t* data,
                                  int size, int timeout_ms) {
  return Transfer(handle, static_cast<unsigned char>(endpoint & 0x7F), true,
                  const_cast<std::uint8_t*>(data), size, timeout_ms);
}

void LibusbBackend::SetDeviceChangeHandler(DeviceChangeHandler handler) {
  const bool wanted = static_cast<bool>(handler);
  {
    std::lock_guard lock(handler_mutex_);
    handler_ = std::move(handler);
  }
  // The watcher starts with the first handler and runs until destruction.
  if (wanted && context_ != nullptr && !watcher_.joinable()) StartWatcher();
}

void LibusbBackend::NotifyDeviceChange() {
  DeviceChangeHandler handler;
  {
    std::lock_guard lock(handler_mutex_);
    handler = handler_;
  }
  if (handler) handler();
}

void LibusbBackend::StartWatcher() {
  stop_ = false;
  if (watch_ == Watch::kAuto && HotplugSupported()) {
    libusb_hotplug_callback_handle handle = 0;
    const int status = libusb_hotplug_register_callback(
        context_,
        static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED |
                                          LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
        static_cast<libusb_hotplug_flag>(0), kWatchedVendor, kWatchedProduct,
        LIBUSB_HOTPLUG_MATCH_ANY, OnHotplug, this, &handle);
    if (status == LIBUSB_SUCCESS) {
      hotplug_handle_ = handle;
      hotplug_registered_ = true;
      watcher_ = std::thread([this] { HotplugLoop(); });
      return;
    }
  }
  // What is attached now counts as already there; taken here, not on the new thread,
  // so an arrival right after this call is never mistaken for it.
  watcher_ = std::thread([this, first = ProgrammerPositions(context_)] { PollLoop(first); });
}

void LibusbBackend::StopWatcher() {
  if (!watcher_.joinable()) return;
  {
    std::lock_guard lock(stop_mutex_);
    stop_ = true;
  }
  stop_signal_.notify_all();
  if (hotplug_registered_) {
    // Deregistering wakes the event loop; the interrupt covers a loop between waits.
    libusb_hotplug_deregister_callback(context_, hotplug_handle_);
    hotplug_registered_ = false;
  }
  libusb_interrupt_event_handler(context_);
  watcher_.join();
}

void LibusbBackend::HotplugLoop() {
  while (!stop_) {
    timeval tv{0, 250000};
    libusb_handle_events_timeout_completed(context_, &tv, nullptr);
  }
}

void LibusbBackend::PollLoop(std::set<std::pair<int, int>> last) {
  std::unique_lock lock(stop_mutex_);
  while (!stop_signal_.wait_for(lock, kPollInterval, [this] { return stop_.load(); })) {
    lock.unlock();
    std::set<std::pair<int, int>> now = ProgrammerPositions(context_);
    if (now != last) {
      last = std::move(now);
      NotifyDeviceChange();
    }
    lock.lock();
  }
}

}  // namespace tarvix
