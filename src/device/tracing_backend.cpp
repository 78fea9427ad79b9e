// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/tracing_backend.h"

#include <algorithm>
#include <cstdio>

namespace tarvix {

TracingBackend::TracingBackend(UsbBackend& inner, std::ostream& out, const Clock* clock)
    : inner_(inner), clock_(clock), sink_(std::make_shared<Sink>()) {
  sink_->out = &out;
  sink_->clock = clock;
}

TracingBackend::TracingBackend(std::unique_ptr<UsbBackend> inner, std::unique_ptr<std::ostream> out,
                               const Clock* clock)
    : owned_inner_(std::move(inner)),
      inner_(*owned_inner_),
      clock_(clock),
      sink_(std::make_shared<Sink>()) {
  sink_->owned = std::move(out);
  sink_->out = sink_->owned.get();
  sink_->clock = clock;
}

TracingBackend::~TracingBackend() {
  std::lock_guard lock(sink_->mutex);
  sink_->out = nullptr;
  sink_->clock = nullptr;
}

std::string TracingBackend::FormatTransfer(const char* direction, int endpoint, int size,
                                           int timeout_ms, int result, const std::uint8_t* bytes,
                                           int byte_count) {
  char head[128];
  std::snprintf(head, sizeof head, "%-8s ep=0x%02X len=%d timeout=%d result=%d", direction,
                static_cast<unsigned>(endpoint) & 0xFF, size, timeout_ms, result);
  std::string line = head;
  if (bytes != nullptr && byte_count > 0) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    const int shown = std::min<int>(byte_count, static_cast<int>(kMaxPrintedBytes));
    line += " |";
    for (int i = 0; i < shown; ++i) {
      line += ' ';
      line += kHex[bytes[i] >> 4];
      line += kHex[bytes[i] & 15];
    }
    if (shown < byte_count) line += " ... (+" + std::to_string(byte_count - shown) + " more)";
  }
  return line;
}

void TracingBackend::Sink::Write(const std::string& line, std::optional<std::int64_t> started_ms) {
  std::lock_guard lock(mutex);
  if (out == nullptr) return;
  if (clock != nullptr) *out << "t=" << (started_ms ? *started_ms : clock->NowMs()) << ' ';
  *out << line << '\n';
  out->flush();  // a trace is read after crashes and kills too
}

void TracingBackend::Rescan() {
  inner_.Rescan();
  Write("RESCAN");
}

std::vector<UsbDeviceInfo> TracingBackend::Devices() {
  auto devices = inner_.Devices();
  std::string line = "DEVICES " + std::to_string(devices.size());
  for (const UsbDeviceInfo& d : devices) {
    char item[48];
    std::snprintf(item, sizeof item, " %04X:%04X@%d.%d", d.vendor_id, d.product_id, d.bus,
                  d.address);
    line += item;
  }
  Write(line);
  return devices;
}

UsbHandle TracingBackend::Open(std::size_t index) {
  const UsbHandle h = inner_.Open(index);
  Write("OPEN index=" + std::to_string(index) + " handle=" + std::to_string(h));
  return h;
}

int TracingBackend::SetConfiguration(UsbHandle handle, int configuration) {
  const int r = inner_.SetConfiguration(handle, configuration);
  Write("SET-CONFIGURATION handle=" + std::to_string(handle) +
        " value=" + std::to_string(configuration) + " result=" + std::to_string(r));
  return r;
}

int TracingBackend::ClaimInterface(UsbHandle handle, int interface_number) {
  const int r = inner_.ClaimInterface(handle, interface_number);
  Write("CLAIM-INTERFACE handle=" + std::to_string(handle) +
        " interface=" + std::to_string(interface_number) + " result=" + std::to_string(r));
  return r;
}

int TracingBackend::ReleaseInterface(UsbHandle handle, int interface_number) {
  const int r = inner_.ReleaseInterface(handle, interface_number);
  Write("RELEASE-INTERFACE handle=" + std::to_string(handle) +
        " interface=" + std::to_string(interface_number) + " result=" + std::to_string(r));
  return r;
}

int TracingBackend::Close(UsbHandle handle) {
  const int r = inner_.Close(handle);
  Write("CLOSE handle=" + std::to_string(handle) + " result=" + std::to_string(r));
  return r;
}

int TracingBackend::BulkWrite(UsbHandle handle, int endpoint, const std::uint8_t* data, int size,
                              int timeout_ms) {
  const std::int64_t start = Now();
  const int r = inner_.BulkWrite(handle, endpoint, data, size, timeout_ms);
  Write(FormatTransfer("BULK-OUT", endpoint, size, timeout_ms, r, data, size), start);
  return r;
}

int TracingBackend::BulkRead(UsbHandle handle, int endpoint, std::uint8_t* data, int size,
                             int timeout_ms) {
  const std::int64_t start = Now();
  const int r = inner_.BulkRead(handle, endpoint, data, size, timeout_ms);
  Write(FormatTransfer("BULK-IN", endpoint, size, timeout_ms, r, data, r > 0 ? r : 0), start);
  return r;
}

int TracingBackend::InterruptWrite(UsbHandle handle, int endpoint, const std::uint8_t* data,
                                   int size, int timeout_ms) {
  const std::int64_t start = Now();
  const int r = inner_.InterruptWrite(handle, endpoint, data, size, timeout_ms);
  Write(FormatTransfer("INT-OUT", endpoint, size, timeout_ms, r, data, size), start);
  return r;
}

void TracingBackend::SetDeviceChangeHandler(DeviceChangeHandler handler) {
  // The notice itself is traced too, then passed on.
  inner_.SetDeviceChangeHandler([sink = sink_, handler = std::move(handler)] {
    sink->Write("DEVICE-CHANGE", std::nullopt);
    if (handler) handler();
  });
}

}  // namespace tarvix
