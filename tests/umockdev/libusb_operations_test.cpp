// SPDX-License-Identifier: GPL-3.0-or-later
// Whole chip operations as the program runs them on a real programmer: the write,
// read and verify of a small SPI FLASH and of a 24-series EEPROM through UsbLink,
// LibusbBackend and libusb to the emulated device, and the programmer pulled out in
// the middle of a write.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

#include "app/settings.h"
#include "buffer/change_log.h"
#include "buffer/hex_page.h"
#include "buffer/image_buffer.h"
#include "buffer/load_save.h"
#include "catalogue/chip_catalogue.h"
#include "catalogue/chip_selection.h"
#include "device/clock.h"
#include "device/command_packet.h"
#include "device/libusb/libusb_backend.h"
#include "device/recording_host.h"
#include "device/usb_link.h"
#include "emulated_usb.h"
#include "operations/operation_context.h"
#include "operations/operation_fixture.h"
#include "operations/pre_check.h"
#include "operations/read.h"
#include "operations/verify.h"
#include "operations/write.h"
#include "sim/virtual_chip.h"
#include "state/main_state.h"

namespace tarvix::testing {
namespace {

std::uint8_t OtherPattern(std::uint64_t offset) {
  return static_cast<std::uint8_t>(0x5A ^ (offset * 13 + (offset >> 9)));
}

Bytes FileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The program around one emulated programmer: what OperationFixture builds around the
// simulator, with the real libusb backend in its place. The host's own waits pass on
// a virtual clock; USB time-outs are libusb's, in real time.
class ChipOperationsOverLibusb : public ::testing::Test {
 protected:
  ChipOperationsOverLibusb()
      : device(bed.AddProgrammer()),
        change_log(scratch.path / kChangeLogName),
        selection(catalogue, packet, state),
        settings(scratch.path / "kest2.dll"),
        traffic(usb, clock),
        host(&state),
        link(traffic, host, state),
        image(state),
        hex(image, state, host),
        files(image, hex, change_log, host),
        ctx{state, link, packet, host, settings, clock, catalogue, selection, image, files} {
    state.paths = Paths::FromBase(scratch.path);
    catalogue.Load(TARVIX_DATABASE_DAT, [](std::string_view, std::string_view) {});
    settings.Load();
    selection.AddListener([this](ChipSelection::Change change) {
      if (change == ChipSelection::Change::kCurrentChip) image.OnChipChanged();
    });
    selection.Initialise();
    ctx.hex = &hex;
    if (settings.IsOn(SettingItem::kAutoRecognize)) settings.Toggle(SettingItem::kAutoRecognize);
    link.SetLinkParameters();
  }

  void SetUp() override { ASSERT_TRUE(EmulatedUsb::InMockEnvironment()); }

  // Selects `model` and puts a fresh chip of it in the socket; its capacity in bytes.
  std::uint64_t UseChip(std::string_view model) {
    std::int32_t index = -1;
    for (std::uint32_t i = 0; i < catalogue.Count(); ++i)
      if (catalogue.Record(i).model == model) index = static_cast<std::int32_t>(i);
    EXPECT_GE(index, 0) << model;
    if (index < 0) return 0;
    selection.SelectRecord(index);
    device.programmer().InsertChip(
        sim::VirtualChip::FromRecord(catalogue.Record(static_cast<std::uint32_t>(index))));
    return state.chip_capacity.load();
  }
  [[nodiscard]] Bytes ChipBytes(std::uint64_t count) {
    return device.programmer().chip()->ReadRange(0, static_cast<std::size_t>(count));
  }
  [[nodiscard]] Bytes ImageBytes(std::uint64_t count) const {
    Bytes out(static_cast<std::size_t>(count));
    const std::int64_t n = image.ReadWorking(0, out);
    out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return out;
  }
  std::filesystem::path WriteImage(const std::string& name, std::uint64_t size,
                                   std::uint8_t (*byte_at)(std::uint64_t)) {
    const std::filesystem::path path = scratch.path / name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (std::uint64_t i = 0; i < size; ++i) out.put(static_cast<char>(byte_at(i)));
    return path;
  }
  // The bytes of every bulk OUT transfer the device took, in order.
  [[nodiscard]] Bytes BulkOutAtTheDevice() const {
    Bytes out;
    for (const UrbRecord& u : device.Urbs())
      if (u.endpoint == 0x01) out.insert(out.end(), u.data.begin(), u.data.begin() + u.actual);
    return out;
  }
  [[nodiscard]] bool StatusShown(const std::string& text) const {
    for (const std::string& s : host.StatusTexts())
      if (s == text) return true;
    return false;
  }

  // Write, then read and verify what another image left on the chip. `padded`: the
  // family is written whole, blank bytes after the image.
  void WriteReadVerify(std::string_view model, std::uint64_t image_size, bool padded) {
    const std::uint64_t capacity = UseChip(model);
    ASSERT_GT(capacity, 0u);
    ASSERT_TRUE(files.Load(WriteImage("image.bin", image_size, PatternByte), false));
    const Bytes written = ImageBytes(image_size);
    device.ClearLog();

    host.QueueConfirm(true);
    state.command_code = 1;
    ASSERT_TRUE(WriteChip(ctx, true));
    const std::uint64_t total = padded ? capacity : image_size;
    EXPECT_TRUE(StatusShown(WriteSucceedText(total, 0))) << host.StatusTexts().back();
    // Byte for byte at the device, in chunks of at most 4096 bytes.
    Bytes expected = written;
    expected.resize(total, 0xFF);
    EXPECT_EQ(BulkOutAtTheDevice(), expected);
    for (const UrbRecord& u : device.Urbs()) {
      if (u.endpoint == 0x01) {
        EXPECT_LE(u.length, kWriteChunkSize);
      }
    }
    EXPECT_EQ(ChipBytes(expected.size()), expected);

    // Something else on the chip; the read brings exactly that.
    Bytes other(static_cast<std::size_t>(capacity));
    for (std::uint64_t i = 0; i < capacity; ++i) other[i] = OtherPattern(i);
    device.programmer().chip()->Load(0, other.data(), other.size());
    state.command_code = 13;
    ASSERT_TRUE(ReadChip(ctx));
    EXPECT_TRUE(image.CurrentIsChipData());
    EXPECT_EQ(ImageBytes(capacity + 16), other);
    EXPECT_TRUE(StatusShown(ReadSucceedText(0)));

    state.command_code = 8;
    EXPECT_TRUE(VerifyChip(ctx, true));
    EXPECT_TRUE(StatusShown(VerifySucceedText(0)));

    // One byte changed on the chip is found.
    const std::uint8_t changed = static_cast<std::uint8_t>(~other[capacity / 2]);
    device.programmer().chip()->Load(capacity / 2, &changed, 1);
    host.QueueAnswer(BoxAnswer::kCancel);
    EXPECT_FALSE(VerifyChip(ctx, true));
    EXPECT_EQ(host.BoxTexts().back(),
              VerifyMismatchText(capacity / 2, other[capacity / 2], changed));
  }

  ScratchFolder scratch;
  EmulatedUsb bed;
  EmulatedProgrammer& device;
  MainState state;
  ChipCatalogue catalogue;
  CommandPacket packet;
  ChangeLog change_log;
  ChipSelection selection;
  Settings settings;
  VirtualClock clock;
  LibusbBackend usb{LibusbBackend::Watch::kPoll};
  UsbTraffic traffic;
  RecordingHost host;
  UsbLink link;
  ImageBuffer image;
  HexPage hex;
  FileLoadSave files;
  OperationContext ctx;
};

TEST_F(ChipOperationsOverLibusb, SpiFlashWriteReadAndVerify) {
  WriteReadVerify("W25X05", 40000, false);  // SPI FLASH gets the image only
}

TEST_F(ChipOperationsOverLibusb, EepromWriteReadAndVerify) {
  WriteReadVerify("AT24C64", 5000, true);  // blank bytes up to its 8 KiB
}

TEST_F(ChipOperationsOverLibusb, ProgrammerPulledOutMidWriteEndsInTheWritesMessage) {
  const std::uint64_t capacity = UseChip("W25X05");
  const std::filesystem::path source = WriteImage("image.bin", capacity, PatternByte);
  ASSERT_TRUE(files.Load(source, false));
  const Bytes before = ImageBytes(capacity);
  const Bytes source_before = FileBytes(source);
  device.ClearLog();
  device.UnplugAfterBulkOutBytes(10000);

  host.QueueConfirm(true);
  state.command_code = 1;
  EXPECT_FALSE(WriteChip(ctx, true));
  EXPECT_EQ(host.LastStatus().text, kDeviceConnectError);
  EXPECT_TRUE(host.LastStatus().red);
  EXPECT_EQ(state.busy_writing.load(), 0);
  // The device took its 10000 bytes and no more.
  EXPECT_EQ(BulkOutAtTheDevice(), Bytes(before.begin(), before.begin() + 10000));
  // The working copy and its source are as they were.
  EXPECT_TRUE(image.Loaded());
  EXPECT_EQ(ImageBytes(capacity + 16), before);
  EXPECT_EQ(FileBytes(source), source_before);

  // The next operation finds no programmer, once libusb has heard it leave.
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (link.IsDevicePresent() && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  host.ClearRecords();
  EXPECT_EQ(link.CheckDeviceOpen(), kDeviceRefused);
  EXPECT_EQ(host.BoxTexts(), std::vector<std::string>{"device is unconnected!"});
}

}  // namespace
}  // namespace tarvix::testing
