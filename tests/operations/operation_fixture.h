// SPDX-License-Identifier: GPL-3.0-or-later
// A whole program around one simulated programmer, for scenario tests of the chip
// operations: main state, shipped catalogue and selection, settings in a temporary
// folder, virtual clock, SimBus/SimBackend with a chip in the socket, the link, a
// RecordingHost, the image buffer with load/save, and the OperationContext over all
// of them. Every USB call is recorded (UsbTraffic) so tests can check what went over
// the wire, with which time-out and when.
//
// Typical use:
//   OperationFixture f("W25Q32BV");          // that chip in the socket, first record selected
//   f.Select("W25Q32BV");                    // select a record by model
//   f.LoadImageOfSize(4096);                  // a patterned image file, loaded
//   EXPECT_TRUE(WriteChip(f.ctx, true));
//   EXPECT_EQ(f.ChipMemory(0, 16), f.ImageBytes(0, 16));
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "state/main_state.h"
#include "app/settings.h"
#include "buffer/change_log.h"
#include "buffer/hex_page.h"
#include "buffer/image_buffer.h"
#include "buffer/load_save.h"
#include "catalogue/chip_catalogue.h"
#include "catalogue/chip_selection.h"
#include "device/clock.h"
#include "device/command_packet.h"
#include "device/recording_host.h"
#include "device/usb_backend.h"
#include "device/usb_link.h"
#include "operations/operation_context.h"
#include "sim/sim_backend.h"
#include "sim/sim_bus.h"
#include "sim/virtual_chip.h"
#include "sim/virtual_programmer.h"

namespace tarvix::testing {

// One USB library call as the link made it.
struct UsbTransfer {
  enum class Kind { kRescan, kOpen, kClose, kInterruptWrite, kBulkWrite, kBulkRead };
  Kind kind = Kind::kRescan;
  int endpoint = 0;
  int size = 0;                    // bytes offered or asked for
  int timeout_ms = 0;              // as passed to the library
  int result = 0;                  // the library's answer
  std::vector<std::uint8_t> data;  // bytes written, or bytes received
  std::int64_t at_ms = 0;          // clock when the call was made
};

// A command packet sent on endpoint 2.
struct SentCommand {
  std::uint8_t code = 0;  // bits 0-5 of byte 1
  int timeout_ms = 0;
  bool sent = false;  // the library reported success
  PacketBytes bytes{};
  std::int64_t at_ms = 0;
};

// UsbBackend decorator that records every call before passing on its answer.
class UsbTraffic final : public UsbBackend {
 public:
  UsbTraffic(UsbBackend& inner, const Clock& clock) : inner_(inner), clock_(clock) {}

  void Rescan() override {
    Add(Event(UsbTransfer::Kind::kRescan));
    inner_.Rescan();
  }
  std::vector<UsbDeviceInfo> Devices() override { return inner_.Devices(); }
  UsbHandle Open(std::size_t index) override {
    const UsbHandle h = inner_.Open(index);
    Add(Event(UsbTransfer::Kind::kOpen, h));
    return h;
  }
  int SetConfiguration(UsbHandle handle, int configuration) override {
    return inner_.SetConfiguration(handle, configuration);
  }
  int ClaimInterface(UsbHandle handle, int interface_number) override {
    return inner_.ClaimInterface(handle, interface_number);
  }
  int ReleaseInterface(UsbHandle handle, int interface_number) override {
    return inner_.ReleaseInterface(handle, interface_number);
  }
  int Close(UsbHandle handle) override {
    Add(Event(UsbTransfer::Kind::kClose));
    return inner_.Close(handle);
  }
  int BulkWrite(UsbHandle handle, int endpoint, const std::uint8_t* data, int size,
                int timeout_ms) override {
    const std::int64_t at = clock_.NowMs();
    const int r = inner_.BulkWrite(handle, endpoint, data, size, timeout_ms);
    Add({UsbTransfer::Kind::kBulkWrite, endpoint, size, timeout_ms, r,
         keep_bulk_data_ ? std::vector<std::uint8_t>(data, data + std::max(size, 0))
                         : std::vector<std::uint8_t>{},
         at});
    return r;
  }
  int BulkRead(UsbHandle handle, int endpoint, std::uint8_t* data, int size,
               int timeout_ms) override {
    const std::int64_t at = clock_.NowMs();
    const int r = inner_.BulkRead(handle, endpoint, data, size, timeout_ms);
    std::vector<std::uint8_t> got;
    if (r > 0 && (keep_bulk_data_ || r <= 64)) got.assign(data, data + r);
    Add({UsbTransfer::Kind::kBulkRead, endpoint, size, timeout_ms, r, std::move(got), at});
    return r;
  }
  int InterruptWrite(UsbHandle handle, int endpoint, const std::uint8_t* data, int size,
                     int timeout_ms) override {
    const std::int64_t at = clock_.NowMs();
    const int r = inner_.InterruptWrite(handle, endpoint, data, size, timeout_ms);
    Add({UsbTransfer::Kind::kInterruptWrite, endpoint, size, timeout_ms, r,
         std::vector<std::uint8_t>(data, data + std::max(size, 0)), at});
    return r;
  }
  void SetDeviceChangeHandler(DeviceChangeHandler handler) override {
    inner_.SetDeviceChangeHandler(std::move(handler));
  }

  // Large bulk transfers keep their bytes only when asked (reads of up to 64 bytes,
  // the replies, are always kept).
  void KeepBulkData(bool keep) { keep_bulk_data_ = keep; }

  [[nodiscard]] std::vector<UsbTransfer> Transfers() const {
    std::lock_guard lock(mutex_);
    return transfers_;
  }
  [[nodiscard]] std::vector<UsbTransfer> TransfersOf(UsbTransfer::Kind kind) const {
    std::vector<UsbTransfer> out;
    for (UsbTransfer& t : Transfers())
      if (t.kind == kind) out.push_back(std::move(t));
    return out;
  }
  // Every 20-byte packet sent on endpoint 2, in order.
  [[nodiscard]] std::vector<SentCommand> Commands() const {
    std::vector<SentCommand> out;
    for (const UsbTransfer& t : Transfers()) {
      if (t.kind != UsbTransfer::Kind::kInterruptWrite || t.data.size() != kPacketSize) continue;
      SentCommand c;
      c.code = t.data[1] & 0x3F;
      c.timeout_ms = t.timeout_ms;
      c.sent = t.result >= 0;
      std::copy(t.data.begin(), t.data.end(), c.bytes.begin());
      c.at_ms = t.at_ms;
      out.push_back(c);
    }
    return out;
  }
  [[nodiscard]] std::vector<std::uint8_t> CommandCodes() const {
    std::vector<std::uint8_t> out;
    for (const SentCommand& c : Commands()) out.push_back(c.code);
    return out;
  }
  [[nodiscard]] std::size_t CountCommand(std::uint8_t code) const {
    std::size_t n = 0;
    for (const SentCommand& c : Commands()) n += c.code == code;
    return n;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    transfers_.clear();
  }

 private:
  static UsbTransfer Event(UsbTransfer::Kind kind, int result = 0) {
    UsbTransfer t;
    t.kind = kind;
    t.result = result;
    return t;
  }
  void Add(UsbTransfer t) {
    if (t.at_ms == 0) t.at_ms = clock_.NowMs();
    std::lock_guard lock(mutex_);
    transfers_.push_back(std::move(t));
  }

  UsbBackend& inner_;
  const Clock& clock_;
  bool keep_bulk_data_ = false;
  mutable std::mutex mutex_;
  std::vector<UsbTransfer> transfers_;
};

// A folder of its own under the system's temporary folder, removed with its contents.
struct ScratchFolder {
  ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tarvix-op-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path = pattern;
  }
  ~ScratchFolder() {
    std::error_code ec;
    if (!path.empty()) std::filesystem::remove_all(path, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  std::filesystem::path path;
};

// The byte a patterned image holds at `offset`: never constant over a page, and
// different from 0xFF at offset 0.
[[nodiscard]] inline std::uint8_t PatternByte(std::uint64_t offset) {
  return static_cast<std::uint8_t>((offset * 7 + 3 + (offset >> 8)) & 0xFF);
}

class OperationFixture {
 public:
  // `socket_model`: a catalogue model put into the simulated socket ("" leaves it
  // empty). The programmer is plugged in; the first catalogue record is selected, as
  // after start-up; every setting is on.
  explicit OperationFixture(std::string_view socket_model = "W25Q32BV",
                            const sim::ProgrammerConfig& programmer_config = {})
      : change_log(scratch.path / kChangeLogName),
        selection(catalogue, packet, state),
        settings(scratch.path / "kest2.dll"),
        bus(clock),
        programmer(bus.AddProgrammer(programmer_config)),
        sim_backend(bus),
        traffic(sim_backend, clock),
        host(&state),
        link(traffic, host, state),
        image(state),
        hex(image, state, host),
        files(image, hex, change_log, host),
        ctx{state, link, packet, host, settings, clock, catalogue, selection, image, files} {
    state.paths = Paths::FromBase(scratch.path);
    catalogue_messages_ = 0;
    catalogue.Load(TARVIX_DATABASE_DAT,
                   [this](std::string_view, std::string_view) { ++catalogue_messages_; });
    settings.Load();
    selection.AddListener([this](ChipSelection::Change change) {
      if (change == ChipSelection::Change::kCurrentChip) image.OnChipChanged();
    });
    selection.Initialise();
    ctx.hex = &hex;
    if (!socket_model.empty()) PutChip(socket_model);
  }

  OperationFixture(const OperationFixture&) = delete;
  OperationFixture& operator=(const OperationFixture&) = delete;

  // ---- catalogue and selection ---------------------------------------------------
  // Index of the first record with this model, or -1.
  [[nodiscard]] std::int32_t RecordIndex(std::string_view model) const {
    for (std::uint32_t i = 0; i < catalogue.Count(); ++i)
      if (catalogue.Record(i).model == model) return static_cast<std::int32_t>(i);
    return -1;
  }
  [[nodiscard]] const ChipRecord& Record(std::string_view model) const {
    return catalogue.Record(static_cast<std::uint32_t>(RecordIndex(model)));
  }
  // Selects the first record with this model as the user would; false when unknown.
  bool Select(std::string_view model) {
    const std::int32_t index = RecordIndex(model);
    if (index < 0) return false;
    selection.SelectRecord(index);
    return state.selected_chip_index.load() == index;
  }
  [[nodiscard]] std::string SelectedModel() const {
    const ChipRecord* r = selection.CurrentRecord();
    return r ? r->model : std::string();
  }

  // ---- the socket ----------------------------------------------------------------
  // Puts a fresh (erased) chip of this catalogue model into the socket.
  sim::VirtualChip* PutChip(std::string_view model) {
    const std::int32_t index = RecordIndex(model);
    if (index < 0) return nullptr;
    programmer.InsertChip(sim::VirtualChip::FromRecord(Record(model)));
    return programmer.chip();
  }
  // Puts a chip made to a description (odd IDs, sizes no record has).
  sim::VirtualChip* PutChip(const sim::ChipDescription& description) {
    programmer.InsertChip(std::make_unique<sim::VirtualChip>(description));
    return programmer.chip();
  }
  void EmptySocket() { programmer.RemoveChip(); }
  [[nodiscard]] sim::VirtualChip* Chip() { return programmer.chip(); }
  // The chip's bytes; 0xFF past its end or with an empty socket.
  [[nodiscard]] std::vector<std::uint8_t> ChipMemory(std::uint64_t address, std::size_t count) {
    sim::VirtualChip* c = programmer.chip();
    if (c == nullptr) return std::vector<std::uint8_t>(count, 0xFF);
    return c->ReadRange(address, count);
  }
  void FillChip(std::uint64_t address, const std::vector<std::uint8_t>& bytes) {
    if (sim::VirtualChip* c = programmer.chip()) c->Load(address, bytes.data(), bytes.size());
  }

  // ---- images --------------------------------------------------------------------
  // Writes a file of `size` bytes into the scratch folder; PatternByte unless
  // `byte_at` says otherwise.
  std::filesystem::path WriteImageFile(
      const std::string& name, std::uint64_t size,
      const std::function<std::uint8_t(std::uint64_t)>& byte_at = PatternByte) {
    const std::filesystem::path p = scratch.path / name;
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    std::vector<char> block(1 << 16);
    for (std::uint64_t done = 0; done < size;) {
      const std::size_t n =
          static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), size - done));
      for (std::size_t i = 0; i < n; ++i) block[i] = static_cast<char>(byte_at(done + i));
      out.write(block.data(), static_cast<std::streamsize>(n));
      done += n;
    }
    return p;
  }
  std::filesystem::path WriteImageFile(const std::string& name,
                                       const std::vector<std::uint8_t>& bytes) {
    const std::filesystem::path p = scratch.path / name;
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return p;
  }
  // Loads a file as a drop would (not refused as a system file); true when loaded.
  bool LoadImage(const std::filesystem::path& path) { return files.Load(path, false); }
  // Writes "image.bin" of `size` patterned bytes and loads it.
  bool LoadImageOfSize(std::uint64_t size) { return LoadImage(WriteImageFile("image.bin", size)); }
  // Bytes of the working copy (short at its end).
  [[nodiscard]] std::vector<std::uint8_t> ImageBytes(std::uint64_t offset,
                                                     std::size_t count) const {
    std::vector<std::uint8_t> out(count);
    const std::int64_t n = image.ReadWorking(offset, out);
    out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return out;
  }

  // ---- settings --------------------------------------------------------------------
  void SetSetting(SettingItem item, bool on) {
    if (settings.IsOn(item) != on) settings.Toggle(item);
  }
  void SetAutoRecognize(bool on) { SetSetting(SettingItem::kAutoRecognize, on); }

  // ---- results ---------------------------------------------------------------------
  [[nodiscard]] std::string LastStatusText() const { return host.LastStatus().text; }
  [[nodiscard]] int CatalogueMessages() const { return catalogue_messages_; }

  // Members in construction order; tests use them directly.
  ScratchFolder scratch;
  MainState state;
  ChipCatalogue catalogue;
  CommandPacket packet;
  ChangeLog change_log;
  ChipSelection selection;
  Settings settings;
  VirtualClock clock;
  sim::SimBus bus;
  sim::VirtualProgrammer& programmer;
  sim::SimBackend sim_backend;
  UsbTraffic traffic;
  RecordingHost host;
  UsbLink link;
  ImageBuffer image;
  HexPage hex;
  FileLoadSave files;
  OperationContext ctx;

 private:
  int catalogue_messages_ = 0;
};

}  // namespace tarvix::testing
