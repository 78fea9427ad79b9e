// SPDX-License-Identifier: GPL-3.0-or-later
// A UsbBackend wrapper that breaks transfers on purpose, in front of any backend (the
// simulator or a real programmer): short reads, failed writes, writes that claim more
// than they delivered, and time-outs, each from the N-th transfer on.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "device/clock.h"
#include "device/usb_backend.h"

namespace tarvix {

struct TransferFault {
  enum class Kind : std::uint8_t {
    kShortRead,   // a read asks the device for at most `max_bytes`
    kFail,        // the transfer is not passed on and returns `result`
    kLyingWrite,  // passes on `max_bytes` (0: nothing) but reports every byte taken
    kTimeOut,     // not passed on; waits its time-out on the clock, returns -110
  };
  enum Target : unsigned {
    kBulkRead = 1,
    kBulkWrite = 2,
    kInterruptWrite = 4,
    kWrites = kBulkWrite | kInterruptWrite,
    kAnyTransfer = 7,
  };
  Kind kind = Kind::kFail;
  unsigned targets = kAnyTransfer;
  std::uint64_t after = 0;  // transfers (of any kind) that pass before it starts
  int times = -1;           // matching transfers it hits; negative: all of them
  int max_bytes = 0;
  int result = -5;
};

class FaultInjectingBackend final : public UsbBackend {
 public:
  static constexpr int kTimeoutResult = -110;

  // `inner` (and `clock`, used to wait out injected time-outs) must outlive the wrapper.
  explicit FaultInjectingBackend(UsbBackend& inner, Clock* clock = nullptr)
      : inner_(inner), clock_(clock) {}

  void AddFault(const TransferFault& fault);
  void ShortReadsAfter(std::uint64_t after, int max_bytes, int times = -1);
  void FailWritesAfter(std::uint64_t after, int times = -1);
  void LyingWritesAfter(std::uint64_t after, int delivered_bytes = 0, int times = -1);
  void TimeOutAfter(std::uint64_t after, int times = -1);
  void ClearFaults();
  // Transfers seen so far, passed on or not.
  [[nodiscard]] std::uint64_t TransferCount() const { return transfers_.load(); }

  void Rescan() override { inner_.Rescan(); }
  [[nodiscard]] std::vector<UsbDeviceInfo> Devices() override { return inner_.Devices(); }
  [[nodiscard]] UsbHandle Open(std::size_t index) override { return inner_.Open(index); }
  int SetConfiguration(UsbHandle handle, int configuration) override {
    return inner_.SetConfiguration(handle, configuration);
  }
  int ClaimInterface(UsbHandle handle, int interface_number) override {
    return inner_.ClaimInterface(handle, interface_number);
  }
  int ReleaseInterface(UsbHandle handle, int interface_number) override {
    return inner_.ReleaseInterface(handle, interface_number);
  }
  int Close(UsbHandle handle) override { return inner_.Close(handle); }
  int BulkWrite(UsbHandle handle, int endpoint, const std::uint8_t* data, int size,
                int timeout_ms) override;
  int BulkRead(UsbHandle handle, int endpoint, std::uint8_t* data, int size,
               int timeout_ms) override;
  int InterruptWrite(UsbHandle handle, int endpoint, const std::uint8_t* data, int size,
                     int timeout_ms) override;
  void SetDeviceChangeHandler(DeviceChangeHandler handler) override {
    inner_.SetDeviceChangeHandler(std::move(handler));
  }

 private:
  // The fault that hits this transfer, if any (counts the transfer).
  std::optional<TransferFault> Take(unsigned target);
  int WaitOut(int timeout_ms);

  UsbBackend& inner_;
  Clock* clock_;
  std::mutex mutex_;
  std::vector<TransferFault> faults_;
  std::atomic<std::uint64_t> transfers_{0};
};

}  // namespace tarvix
