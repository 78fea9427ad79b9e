// SPDX-License-Identifier: GPL-3.0-or-later
// A UsbBackend wrapper that writes one line per USB call to a text stream, for
// --trace and for reading what a test sent. Transfer lines look like
//
//   t=1234 INT-OUT  ep=0x02 len=20 timeout=100 result=20 | A5 07 00 00 ...
//   t=1234 BULK-IN  ep=0x83 len=64 timeout=10 result=-110
//
// (the "t=" part, the clock's time when the call started, only when a clock is given): direction,
// endpoint, length asked, time-out in ms, the library's result, then the bytes in hex: those
// offered for a write, those received for a read. Payloads of up to 64 bytes are printed whole;
// longer ones show their first 64 bytes and how many more followed. Opens, closes,
// configuration and rescans get a line of their own.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>

#include "device/clock.h"
#include "device/usb_backend.h"

namespace tarvix {

class TracingBackend final : public UsbBackend {
 public:
  static constexpr std::size_t kMaxPrintedBytes = 64;

  // Both `inner` and `out` must outlive the wrapper.
  TracingBackend(UsbBackend& inner, std::ostream& out, const Clock* clock = nullptr);
  // Takes ownership of both.
  TracingBackend(std::unique_ptr<UsbBackend> inner, std::unique_ptr<std::ostream> out,
                 const Clock* clock = nullptr);
  ~TracingBackend() override;
  TracingBackend(const TracingBackend&) = delete;
  TracingBackend& operator=(const TracingBackend&) = delete;

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

  // The transfer line as written (without the time prefix); exposed for tests.
  [[nodiscard]] static std::string FormatTransfer(const char* direction, int endpoint, int size,
                                                  int timeout_ms, int result,
                                                  const std::uint8_t* bytes, int byte_count);

 private:
  // Where lines go. Shared with the device-change handler handed to the inner
  // backend, which may outlive this wrapper; it writes nothing once the wrapper is gone.
  struct Sink {
    std::mutex mutex;
    std::unique_ptr<std::ostream> owned;
    std::ostream* out = nullptr;
    const Clock* clock = nullptr;
    void Write(const std::string& line, std::optional<std::int64_t> started_ms);
  };

  [[nodiscard]] std::int64_t Now() const { return clock_ != nullptr ? clock_->NowMs() : 0; }
  // Transfers are stamped with the time they started; other lines with the time now.
  void Write(const std::string& line, std::int64_t started_ms) { sink_->Write(line, started_ms); }
  void Write(const std::string& line) { sink_->Write(line, std::nullopt); }

  std::unique_ptr<UsbBackend> owned_inner_;
  UsbBackend& inner_;
  const Clock* clock_;
  std::shared_ptr<Sink> sink_;
};

}  // namespace tarvix
