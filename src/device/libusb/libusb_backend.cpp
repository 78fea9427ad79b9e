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

// A bulk or interrupt transfer's result: the bytes moved, even when the time-out cut
// it short, or the negative libusb error when nothing moved.
int TransferResult(int status, int transferred) {
  if (status == 0) return transferred;
  if (status == LIBUSB_ERROR_TIMEOUT && transferred > 0) return transferred;
  return status < 0 ? status : LIBUSB_ERROR_OTHER;
}

}  // namespace

LibusbBackend::LibusbBackend(Watch watch) : watch_(watch) {
  if (libusb_init(&context_) != 0) context_ = nullptr;
}

LibusbBackend::~LibusbBackend() {
  StopWatcher();
  std::lock_guard lock(mutex_);
  for (auto& [id, handle] : handles_) libusb_close(handle);
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
  handles_[id] = handle;
  return id;
}

libusb_device_handle* LibusbBackend::Find(UsbHandle handle) {
  std::lock_guard lock(mutex_);
  const auto it = handles_.find(handle);
  return it == handles_.end() ? nullptr : it->second;
}

int LibusbBackend::SetConfiguration(UsbHandle handle, int configuration) {
  libusb_device_handle* h = Find(handle);
  if (h == nullptr) return LIBUSB_ERROR_NO_DEVICE;
  // Setting the active configuration again resets the device's state for nothing and
  // fails while a driver holds an interface.
  int current = -1;
  if (libusb_get_configuration(h, &current) == 0 && current == configuration) return 0;
  return libusb_set_configuration(h, configuration);
}

int LibusbBackend::ClaimInterface(UsbHandle handle, int interface_number) {
  libusb_device_handle* h = Find(handle);
  return h == nullptr ? LIBUSB_ERROR_NO_DEVICE : libusb_claim_interface(h, interface_number);
}

int LibusbBackend::ReleaseInterface(UsbHandle handle, int interface_number) {
  libusb_device_handle* h = Find(handle);
  return h == nullptr ? LIBUSB_ERROR_NO_DEVICE : libusb_release_interface(h, interface_number);
}

int LibusbBackend::Close(UsbHandle handle) {
  libusb_device_handle* h = nullptr;
  {
    std::lock_guard lock(mutex_);
    const auto it = handles_.find(handle);
    if (it == handles_.end()) return LIBUSB_ERROR_NO_DEVICE;
    h = it->second;
    handles_.erase(it);
  }
  libusb_close(h);
  return 0;
}

int LibusbBackend::BulkWrite(UsbHandle handle, int endpoint, const std::uint8_t* data, int size,
                             int timeout_ms) {
  libusb_device_handle* h = Find(handle);
  if (h == nullptr) return LIBUSB_ERROR_NO_DEVICE;
  int transferred = 0;
  const int status = libusb_bulk_transfer(h, static_cast<unsigned char>(endpoint & 0x7F),
                                          const_cast<std::uint8_t*>(data), size, &transferred,
                                          static_cast<unsigned>(std::max(timeout_ms, 0)));
  return TransferResult(status, transferred);
}

int LibusbBackend::BulkRead(UsbHandle handle, int endpoint, std::uint8_t* data, int size,
                            int timeout_ms) {
  libusb_device_handle* h = Find(handle);
  if (h == nullptr) return LIBUSB_ERROR_NO_DEVICE;
  int transferred = 0;
  const int status =
      libusb_bulk_transfer(h, static_cast<unsigned char>(endpoint | LIBUSB_ENDPOINT_IN), data, size,
                           &transferred, static_cast<unsigned>(std::max(timeout_ms, 0)));
  return TransferResult(status, transferred);
}

int LibusbBackend::InterruptWrite(UsbHandle handle, int endpoint, const std::uint8_t* data,
                                  int size, int timeout_ms) {
  libusb_device_handle* h = Find(handle);
  if (h == nullptr) return LIBUSB_ERROR_NO_DEVICE;
  int transferred = 0;
  const int status = libusb_interrupt_transfer(h, static_cast<unsigned char>(endpoint & 0x7F),
                                               const_cast<std::uint8_t*>(data), size, &transferred,
                                               static_cast<unsigned>(std::max(timeout_ms, 0)));
  return TransferResult(status, transferred);
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
  watcher_ = std::thread([this] { PollLoop(); });
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

void LibusbBackend::PollLoop() {
  std::set<std::pair<int, int>> last = ProgrammerPositions(context_);
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
