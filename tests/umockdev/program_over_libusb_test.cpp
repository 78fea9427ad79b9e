// SPDX-License-Identifier: GPL-3.0-or-later
// The whole program on the real USB path: start-up with no programmer, then the
// system's device-change notices (libusb hotplug) as a programmer is plugged in and
// pulled out, each turned into a recognition by the worker.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "app/program.h"
#include "device/clock.h"
#include "device/libusb/libusb_backend.h"
#include "device/recording_host.h"
#include "emulated_usb.h"
#include "operations/operation_fixture.h"
#include "sim/virtual_chip.h"

namespace tarvix::testing {
namespace {

using namespace std::chrono_literals;

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

TEST(ProgramOverLibusb, DeviceChangeNoticesFromHotplugRunRecognition) {
  ASSERT_TRUE(EmulatedUsb::InMockEnvironment());
  ScratchFolder dir;
  std::filesystem::copy_file(TARVIX_DATABASE_DAT, dir.path / "database.dat");
  ChipCatalogue catalogue;
  catalogue.Load(TARVIX_DATABASE_DAT, [](std::string_view, std::string_view) {});
  std::uint32_t flash = 0;
  for (std::uint32_t i = 0; i < catalogue.Count(); ++i)
    if (catalogue.Record(i).model == "W25Q32BV") flash = i;

  EmulatedUsb bed;
  LibusbBackend usb(LibusbBackend::Watch::kAuto);
  ASSERT_TRUE(usb.HotplugSupported());
  VirtualClock clock;
  RecordingHost host;
  ProgramOptions options;
  options.base = dir.path;
  auto program = std::make_unique<Program>(options, usb, clock, host);
  program->StartUp();
  ASSERT_TRUE(program->TheWorker().WaitForIdle(20s));
  EXPECT_EQ(host.LastStatus().text, "device is unconnected");
  EXPECT_EQ(program->TheWorker().Runs(), 1u);

  // Plugged in: the notice makes the worker recognise the chip in the socket.
  EmulatedProgrammer& device = bed.AddProgrammer();
  device.programmer().InsertChip(sim::VirtualChip::FromRecord(catalogue.Record(flash)));
  ASSERT_TRUE(WaitUntil([&] { return program->TheWorker().Runs() >= 2; }, 10s));
  ASSERT_TRUE(program->TheWorker().WaitForIdle(20s));
  EXPECT_GE(device.programmer().CommandCount(7), 1u);
  const ChipRecord* current = program->Selection().CurrentRecord();
  ASSERT_NE(current, nullptr);
  EXPECT_EQ(current->main_id, catalogue.Record(flash).main_id);
  EXPECT_EQ(program->State().link_event.load(), 0);
  EXPECT_EQ(program->State().command_code.load(), 255);
  // The worker ended the run with code 9 on the open link.
  EXPECT_GE(device.programmer().CommandCount(9), 1u);

  // Pulled out: one more recognition, which finds no programmer.
  const std::uint64_t runs = program->TheWorker().Runs();
  bed.Unplug(device);
  ASSERT_TRUE(WaitUntil([&] { return program->TheWorker().Runs() > runs; }, 10s));
  ASSERT_TRUE(program->TheWorker().WaitForIdle(20s));
  EXPECT_EQ(host.LastStatus().text, "device is unconnected");
  program.reset();
}

}  // namespace
}  // namespace tarvix::testing
