// SPDX-License-Identifier: GPL-3.0-or-later
// LibusbBackend and UsbLink over the real libusb-1.0, against programmers emulated at
// the usbfs level: listing and bus order, the open sequence and the version exchange
// as the device sees them, time-outs, partial transfers, refused and contested
// claims, removal, hotplug and the one-second poll.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <tuple>

#include <sys/wait.h>

#include "device/command_packet.h"
#include "device/command_protocol.h"
#include "device/libusb/libusb_backend.h"
#include "device/recording_host.h"
#include "device/usb_link.h"
#include "emulated_usb.h"
#include "firmware/firmware_version.h"
#include "sim/virtual_chip.h"
#include "state/main_state.h"

namespace tarvix::testing {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Polls `done` until it holds or `limit` passes.
bool WaitFor(const std::function<bool()>& done, milliseconds limit) {
  const auto end = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(milliseconds(10));
  }
  return true;
}

std::int64_t MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

// The host side of one program: main state, reporting, the real backend and the link.
struct Program {
  explicit Program(LibusbBackend::Watch watch = LibusbBackend::Watch::kPoll) : usb(watch) {
    link.SetLinkParameters();
    packet.SetMarks();
  }
  MainState state;
  RecordingHost host{&state};
  LibusbBackend usb;
  UsbLink link{usb, host, state};
  CommandPacket packet;
};

// A command packet as the programmer must receive it from a fresh packet.
Bytes PlainPacket(std::uint8_t code) {
  Bytes p(kPacketSize, 0);
  p.front() = kPacketStart;
  p[1] = code;
  p.back() = kPacketEnd;
  return p;
}

std::vector<std::string> RequestNames(const EmulatedProgrammer& device) {
  std::vector<std::string> out;
  for (const UsbfsRequest& r : device.Requests()) out.push_back(r.name);
  return out;
}

std::string FileText(const std::string& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class LibusbOnEmulatedUsb : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(EmulatedUsb::InMockEnvironment()); }
  EmulatedUsb bed;
};

TEST_F(LibusbOnEmulatedUsb, ListsEveryDeviceInBusThenAddressOrder) {
  // libusb itself lists these newest bus first; the link needs bus, then device order.
  bed.AddProgrammer({2, 2, "1"});
  bed.AddProgrammer({1, 9, "2"});
  bed.AddForeignDevice(1, 5, "4", 0x046d, 0xc52b);
  bed.AddProgrammer({1, 4, "3"});
  Program p;
  ASSERT_TRUE(p.usb.Initialised());
  p.usb.Rescan();
  const std::vector<UsbDeviceInfo> devices = p.usb.Devices();
  std::vector<std::tuple<int, int, std::uint16_t, std::uint16_t>> seen;
  for (const UsbDeviceInfo& d : devices)
    seen.emplace_back(d.bus, d.address, d.vendor_id, d.product_id);
  const std::vector<std::tuple<int, int, std::uint16_t, std::uint16_t>> expected{
      {1, 1, 0x1d6b, 0x0002}, {1, 4, 0x0716, 0x5017}, {1, 5, 0x046d, 0xc52b},
      {1, 9, 0x0716, 0x5017}, {2, 1, 0x1d6b, 0x0002}, {2, 2, 0x0716, 0x5017}};
  EXPECT_EQ(seen, expected);
  p.usb.Rescan();  // a second scan replaces the first
  EXPECT_EQ(p.usb.Devices().size(), devices.size());
}

TEST_F(LibusbOnEmulatedUsb, TheLinkOpensTheFirstProgrammerInBusOrder) {
  EmulatedProgrammer& later_bus = bed.AddProgrammer({2, 2, "1"}, {.serial = 222222});
  EmulatedProgrammer& later_address = bed.AddProgrammer({1, 9, "2"}, {.serial = 999999});
  bed.AddForeignDevice(1, 3, "4", 0x0716, 0x5018);  // same vendor, other product
  EmulatedProgrammer& first = bed.AddProgrammer({1, 4, "3"}, {.serial = 144444});
  Program p;
  ASSERT_TRUE(p.link.ConnectDevice(true));
  EXPECT_EQ(ReadProgrammerSerial(p.link, p.packet), std::optional<std::uint32_t>(144444));
  EXPECT_EQ(first.FilesOpened(), 1);
  EXPECT_EQ(later_bus.FilesOpened(), 0);
  EXPECT_EQ(later_address.FilesOpened(), 0);
  EXPECT_TRUE(p.host.BoxTexts().empty());
}

TEST_F(LibusbOnEmulatedUsb, OpenSequenceClaimsDrainsAndCloseReleases) {
  EmulatedProgrammer& device = bed.AddProgrammer();
  device.programmer().QueueStaleBytes({0xDE, 0xAD, 0xBE, 0xEF, 0x01});
  Program p;
  ASSERT_EQ(p.link.CheckDeviceOpen(), kDeviceReady);
  EXPECT_TRUE(p.link.IsOpen());
  EXPECT_TRUE(p.host.Records().empty());
  // Already in configuration 1, so libusb only claims (taking the interface from any
  // kernel driver); then the stale bytes are read away.
  EXPECT_EQ(RequestNames(device),
            (std::vector<std::string>{"capabilities", "disconnect-claim", "submit"}));
  EXPECT_EQ(device.InterfaceHolder(), 1);
  std::vector<UrbRecord> urbs = device.Urbs();
  ASSERT_EQ(urbs.size(), 1u);
  EXPECT_EQ(urbs[0].endpoint, 0x83);
  EXPECT_EQ(urbs[0].length, 64);
  EXPECT_EQ(urbs[0].data, (Bytes{0xDE, 0xAD, 0xBE, 0xEF, 0x01}));
  EXPECT_EQ(urbs[0].status, 0);

  // The next command's reply is its own, not the stale bytes.
  std::uint8_t version = 0;
  ASSERT_TRUE(SendCommand(p.link, p.packet, command_code::kFirmwareVersion, 100));
  EXPECT_EQ(p.link.BulkRead(&version, 1, 100), 1);
  EXPECT_EQ(version, 0x12);

  // Every open is fresh: the old file is released and closed before the new one.
  device.ClearLog();
  ASSERT_TRUE(p.link.OpenSequence());
  EXPECT_EQ(device.FilesOpened(), 2);
  EXPECT_EQ(device.OpenFiles(), 1);
  const std::vector<UsbfsRequest> requests = device.Requests();
  ASSERT_GE(requests.size(), 3u);
  EXPECT_EQ(requests[0].name, "release");
  EXPECT_EQ(requests[0].client, 1);
  EXPECT_EQ(requests.back().client, 2);
  // With nothing stale, the drain waits its 100 ms and is discarded.
  urbs = device.Urbs();
  ASSERT_EQ(urbs.size(), 1u);
  EXPECT_EQ(urbs[0].status, -ENOENT);
  EXPECT_EQ(urbs[0].actual, 0);

  ASSERT_TRUE(p.link.CloseDevice());
  EXPECT_FALSE(p.link.IsOpen());
  EXPECT_TRUE(WaitFor([&] { return device.OpenFiles() == 0; }, milliseconds(2000)));
  EXPECT_EQ(device.InterfaceHolder(), 0);
}

TEST_F(LibusbOnEmulatedUsb, AnUnconfiguredProgrammerIsSetToConfigurationOne) {
  EmulatedDeviceSetup setup;
  setup.active_configuration = 0;
  EmulatedProgrammer& device = bed.AddProgrammer(setup);
  Program p;
  ASSERT_TRUE(p.link.OpenSequence());
  const std::vector<UsbfsRequest> requests = device.Requests();
  ASSERT_GE(requests.size(), 3u);
  EXPECT_EQ(requests[1].name, "set-configuration");
  EXPECT_EQ(requests[1].value, 1u);
  EXPECT_EQ(requests[1].error, 0);
  EXPECT_EQ(requests[2].name, "disconnect-claim");
  EXPECT_EQ(requests[2].error, 0);
}

TEST_F(LibusbOnEmulatedUsb, VersionExchangeByteForByte) {
  EmulatedProgrammer& device = bed.AddProgrammer({}, {.serial = 123456, .firmware_version = 0x12});
  Program p;
  const FirmwareVersionResult result = ShowFirmwareVersion(p.link, p.packet, p.host, p.state);
  ASSERT_TRUE(result.ok);
  EXPECT_EQ(p.host.BoxTexts(),
            std::vector<std::string>{
                "\r\nfirmware SN:123456\r\nfirmware version:VRNT_Tarvix FirmWare V2.2     "});

  std::vector<UrbRecord> urbs = device.Urbs();
  ASSERT_EQ(urbs.size(), 5u);  // the drain, then two commands and their replies
  EXPECT_EQ(urbs[0].endpoint, 0x83);
  EXPECT_EQ(urbs[0].status, -ENOENT);
  const UrbRecord& version_command = urbs[1];
  EXPECT_EQ(version_command.type, 1);  // interrupt
  EXPECT_EQ(version_command.endpoint, 0x02);
  EXPECT_EQ(version_command.data, PlainPacket(18));
  EXPECT_EQ(version_command.status, 0);
  EXPECT_EQ(urbs[2].type, 3);  // bulk
  EXPECT_EQ(urbs[2].endpoint, 0x83);
  EXPECT_EQ(urbs[2].length, 1);
  EXPECT_EQ(urbs[2].data, Bytes{0x12});
  EXPECT_EQ(urbs[3].endpoint, 0x02);
  EXPECT_EQ(urbs[3].data, PlainPacket(22));
  EXPECT_EQ(urbs[4].endpoint, 0x83);
  EXPECT_EQ(urbs[4].length, 7);
  EXPECT_EQ(urbs[4].data, (Bytes{'T', 'V', 'X', 0x01, 0x01, 0xE2, 0x40}));
  EXPECT_EQ(device.programmer().CommandCount(18), 1u);
  EXPECT_EQ(device.programmer().CommandCount(22), 1u);
}

TEST_F(LibusbOnEmulatedUsb, ATransferTheDeviceNeverCompletesTimesOut) {
  EmulatedProgrammer& device = bed.AddProgrammer();
  Program p;
  ASSERT_TRUE(p.link.OpenSequence());
  device.ClearLog();

  std::uint8_t byte = 0;
  auto start = Clock::now();
  EXPECT_EQ(p.link.BulkRead(&byte, 1, 200), kUsbTimeout);
  EXPECT_GE(MsSince(start), 200);
  std::vector<UrbRecord> urbs = device.Urbs();
  ASSERT_EQ(urbs.size(), 1u);
  EXPECT_EQ(urbs[0].status, -ENOENT);  // libusb discarded it at its time-out
  EXPECT_EQ(RequestNames(device), (std::vector<std::string>{"submit", "discard"}));

  // A time-out of 0 asks the library for 500 ms.
  start = Clock::now();
  EXPECT_EQ(p.link.BulkRead(&byte, 1, 0), kUsbTimeout);
  EXPECT_GE(MsSince(start), 500);

  // A command the device does not take fails the same way, and the link goes on.
  device.programmer().TimeOutNextTransfer(sim::Pipe::kInterruptOut);
  start = Clock::now();
  EXPECT_FALSE(SendCommand(p.link, p.packet, command_code::kFirmwareVersion, 150));
  EXPECT_GE(MsSince(start), 150);
  EXPECT_TRUE(ReadProgrammerSerial(p.link, p.packet).has_value());
}

TEST_F(LibusbOnEmulatedUsb, PartialTransfersCountWhatMoved) {
  EmulatedProgrammer& device = bed.AddProgrammer();
  sim::ChipDescription flash;
  flash.model = "TEST-FLASH";
  flash.family = ChipFamily::kSpiFlash;
  flash.capacity = 64 * 1024;
  flash.main_id = 0xEF3010;
  flash.page_size = 256;
  flash.sector_size = 4096;
  device.programmer().InsertChip(std::make_unique<sim::VirtualChip>(flash));
  Program p;
  ChipParameters params;
  params.operation_type_high = static_cast<std::uint8_t>(ChipFamily::kSpiFlash);
  params.capacity = 64 * 1024;
  params.page_size_code = SizeCode(256);
  params.sector_size_code = SizeCode(4096);
  p.packet.ApplyChipParameters(params);
  p.packet.SetMarks();
  ASSERT_TRUE(p.link.OpenSequence());
  ASSERT_TRUE(SendCommand(p.link, p.packet, command_code::kBeginWrite, 100));
  device.ClearLog();

  // The device takes 1000 bytes of a 4096-byte chunk and NAKs the rest: libusb's
  // time-out ends the transfer, and the old library's answer is the bytes taken.
  Bytes chunk(4096);
  for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<std::uint8_t>(i * 7 + 1);
  device.programmer().AcceptPartialBulkWrites(1000);
  const auto start = Clock::now();
  EXPECT_EQ(p.link.BulkWrite(chunk.data(), 4096, 300), 1000);
  EXPECT_GE(MsSince(start), 300);
  // The caller sends the rest; the chip holds the chunk once, in order.
  EXPECT_EQ(p.link.BulkWrite(chunk.data() + 1000, 3096, 300), 3096);
  const std::vector<UrbRecord> urbs = device.Urbs();
  ASSERT_EQ(urbs.size(), 2u);
  EXPECT_EQ(urbs[0].actual, 1000);
  EXPECT_EQ(urbs[0].status, -ENOENT);
  EXPECT_EQ(urbs[1].actual, 3096);
  EXPECT_EQ(urbs[1].status, 0);
  EXPECT_EQ(device.programmer().chip()->ReadRange(0, 4096), chunk);

  // A short reply ends an IN transfer early with what there was.
  ASSERT_TRUE(SendCommand(p.link, p.packet, command_code::kProgrammerIdentity, 100));
  Bytes reply(64);
  EXPECT_EQ(p.link.BulkRead(reply.data(), 64, 200), 7);
}

TEST_F(LibusbOnEmulatedUsb, ARefusedInterfaceClaimClosesTheDevice) {
  EmulatedProgrammer& device = bed.AddProgrammer();
  device.programmer().RefuseInterface(true);
  Program p;
  EXPECT_EQ(p.link.CheckDeviceOpen(), kDeviceRefused);
  EXPECT_FALSE(p.link.IsOpen());
  EXPECT_EQ(p.link.Handle(), kNoUsbHandle);
  EXPECT_EQ(p.host.StatusTexts(),
            (std::vector<std::string>{"device is unconnected! ", "device open failed!"}));
  EXPECT_EQ(p.host.BoxTexts(), std::vector<std::string>{"device open failed!"});
  const std::vector<UsbfsRequest> requests = device.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].name, "disconnect-claim");
  EXPECT_EQ(requests[1].error, EIO);
  // The handle of the refusing device is closed at once and nothing was sent to it.
  EXPECT_TRUE(WaitFor([&] { return device.OpenFiles() == 0; }, milliseconds(2000)));
  EXPECT_TRUE(device.Urbs().empty());

  device.programmer().RefuseInterface(false);
  EXPECT_EQ(p.link.CheckDeviceOpen(), kDeviceReady);
}

TEST_F(LibusbOnEmulatedUsb, AnInterfaceHeldByAnotherHandleIsRefusedAsInUse) {
  EmulatedProgrammer& device = bed.AddProgrammer();
  Program holder;
  ASSERT_TRUE(holder.link.OpenSequence());
  Program second;
  EXPECT_EQ(second.link.CheckDeviceOpen(), kDeviceRefused);
  EXPECT_EQ(second.host.StatusTexts(),
            (std::vector<std::string>{"device is unconnected! ", kDeviceInUseText,
                                      "device open failed!"}));
  EXPECT_EQ(second.host.BoxTexts(),
            std::vector<std::string>{std::string("device open failed!\r\n") + kDeviceInUseText});
  EXPECT_EQ(device.InterfaceHolder(), 1);
  bool refused_busy = false;
  for (const UsbfsRequest& r : device.Requests())
    refused_busy |= r.client == 2 && r.name == "disconnect-claim" && r.error == EBUSY;
  EXPECT_TRUE(refused_busy);

  // The holder is undisturbed; once it lets go, the second one gets the programmer.
  EXPECT_TRUE(ReadProgrammerSerial(holder.link, holder.packet).has_value());
  ASSERT_TRUE(holder.link.CloseDevice());
  EXPECT_EQ(second.link.CheckDeviceOpen(), kDeviceReady);
  EXPECT_TRUE(second.link.OpenFailureReason().empty());
}

// A second process (the command-line tool) on a programmer this process is using.
TEST_F(LibusbOnEmulatedUsb, AnotherProcessCannotTakeAProgrammerInUse) {
  EmulatedProgrammer& device = bed.AddProgrammer({}, {.serial = 123456});
  Program holder;
  ASSERT_TRUE(holder.link.OpenSequence());
  const std::string out = bed.RootDir() + "/cli.out";
  const std::string err = bed.RootDir() + "/cli.err";
  // The child inherits the preload and the testbed from this process's environment.
  const std::string command = std::string(TARVIX_CLI) + " --database " + TARVIX_DATABASE_DAT +
                              " version >" + out + " 2>" + err + " </dev/null";
  int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_NE(FileText(err).find(kDeviceInUseText), std::string::npos) << FileText(err);
  EXPECT_EQ(FileText(out), "");
  // Nothing of the second process reached the device's pipes.
  for (const UrbRecord& u : device.Urbs()) EXPECT_EQ(u.client, 1);
  EXPECT_EQ(device.programmer().CommandCount(18), 0u);

  ASSERT_TRUE(holder.link.CloseDevice());
  status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << FileText(err);
  EXPECT_NE(FileText(out).find("firmware SN:123456"), std::string::npos) << FileText(out);
}

TEST_F(LibusbOnEmulatedUsb, AnUnpluggedProgrammerFailsUntilItIsBackAndReopened) {
  EmulatedProgrammer& device = bed.AddProgrammer();
  Program p;
  ASSERT_TRUE(p.link.OpenSequence());
  bed.Unplug(device);
  std::uint8_t byte = 0;
  EXPECT_FALSE(SendCommand(p.link, p.packet, command_code::kFirmwareVersion, 100));
  EXPECT_EQ(p.link.BulkRead(&byte, 1, 100), kUsbNoDevice);
  EXPECT_FALSE(p.link.IsDevicePresent());
  EXPECT_FALSE(p.link.OpenSequence());

  bed.Replug(device);
  EXPECT_TRUE(WaitFor([&] { return p.link.IsDevicePresent(); }, milliseconds(3000)));
  ASSERT_TRUE(p.link.OpenSequence());
  EXPECT_TRUE(ReadProgrammerSerial(p.link, p.packet).has_value());
}

TEST_F(LibusbOnEmulatedUsb, ClosingDuringATransferCancelsItAtTheDevice) {
  EmulatedProgrammer& device = bed.AddProgrammer();
  Program p;
  ASSERT_TRUE(p.link.OpenSequence());
  device.ClearLog();
  // The window closes the link while the worker waits for a reply (closing during a read).
  auto read = std::make_shared<std::promise<int>>();
  std::future<int> result = read->get_future();
  std::thread([&p, read] {
    std::uint8_t byte = 0;
    read->set_value(p.link.BulkRead(&byte, 1, 5000));
  }).detach();
  ASSERT_TRUE(WaitFor([&] { return !device.Requests().empty(); }, milliseconds(2000)));
  const auto start = Clock::now();
  ASSERT_TRUE(p.link.CloseDevice());
  if (result.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    ADD_FAILURE() << "the transfer never returned after the handle was closed";
    std::fflush(nullptr);
    std::_Exit(1);
  }
  // It ends at once, not at its time-out, and says the device is gone for it.
  EXPECT_LT(MsSince(start), 2500);
  EXPECT_EQ(result.get(), kUsbNoDevice);
  // The device saw the transfer discarded, and only then the file closed.
  EXPECT_EQ(RequestNames(device),
            (std::vector<std::string>{"submit", "release", "connect-driver", "discard"}));
  const std::vector<UrbRecord> urbs = device.Urbs();
  ASSERT_EQ(urbs.size(), 1u);
  EXPECT_EQ(urbs[0].status, -ENOENT);
  EXPECT_TRUE(WaitFor([&] { return device.OpenFiles() == 0; }, milliseconds(2000)));
  // The closed handle is gone for every later call.
  std::uint8_t byte = 0;
  EXPECT_EQ(p.usb.BulkRead(1, 0x83, &byte, 1, 10), kUsbNoDevice);
  EXPECT_LT(p.usb.Close(1), 0);
}

TEST_F(LibusbOnEmulatedUsb, UnknownHandlesAndIndexesFail) {
  bed.AddProgrammer();
  Program p;
  p.usb.Rescan();
  ASSERT_EQ(p.usb.Devices().size(), 2u);
  EXPECT_EQ(p.usb.Open(2), kNoUsbHandle);
  std::uint8_t buffer[64] = {};
  EXPECT_EQ(p.usb.SetConfiguration(77, 1), kUsbNoDevice);
  EXPECT_EQ(p.usb.ClaimInterface(77, 0), kUsbNoDevice);
  EXPECT_EQ(p.usb.ReleaseInterface(77, 0), kUsbNoDevice);
  EXPECT_EQ(p.usb.BulkRead(77, 0x83, buffer, 64, 10), kUsbNoDevice);
  EXPECT_EQ(p.usb.BulkWrite(77, 1, buffer, 64, 10), kUsbNoDevice);
  EXPECT_EQ(p.usb.InterruptWrite(77, 2, buffer, 20, 10), kUsbNoDevice);
  EXPECT_LT(p.usb.Close(kNoUsbHandle), 0);
  const UsbHandle h = p.usb.Open(1);
  ASSERT_NE(h, kNoUsbHandle);
  EXPECT_EQ(p.usb.Close(h), 0);
  EXPECT_LT(p.usb.Close(h), 0);
  EXPECT_EQ(p.usb.BulkRead(h, 0x83, buffer, 64, 10), kUsbNoDevice);
}

// Arrival and departure of a programmer reach the device-change handler; other
// devices and the start of watching do not.
void ExpectArrivalAndDeparture(EmulatedUsb& bed, LibusbBackend::Watch watch, milliseconds limit) {
  Program p(watch);
  std::atomic<int> changes{0};
  p.usb.SetDeviceChangeHandler([&] { ++changes; });
  bed.AddForeignDevice(1, 7, "5", 0x046d, 0xc52b);
  EmulatedProgrammer& device = bed.AddProgrammer();
  ASSERT_TRUE(WaitFor([&] { return changes.load() >= 1; }, limit)) << "no arrival";
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_EQ(changes.load(), 1);
  EXPECT_TRUE(p.link.IsDevicePresent());
  bed.Unplug(device);
  ASSERT_TRUE(WaitFor([&] { return changes.load() >= 2; }, limit)) << "no departure";
  EXPECT_FALSE(p.link.IsDevicePresent());
}

TEST_F(LibusbOnEmulatedUsb, HotplugReportsArrivalAndDeparture) {
  {
    Program p(LibusbBackend::Watch::kAuto);
    ASSERT_TRUE(p.usb.HotplugSupported());
  }
  ExpectArrivalAndDeparture(bed, LibusbBackend::Watch::kAuto, milliseconds(3000));
}

TEST_F(LibusbOnEmulatedUsb, TheOneSecondPollSeesArrivalAndDeparture) {
  ExpectArrivalAndDeparture(bed, LibusbBackend::Watch::kPoll, milliseconds(3000));
}

TEST_F(LibusbOnEmulatedUsb, WatchingAProgrammerAlreadyThereReportsNothing) {
  bed.AddProgrammer();
  for (const auto watch : {LibusbBackend::Watch::kAuto, LibusbBackend::Watch::kPoll}) {
    auto p = std::make_unique<Program>(watch);
    std::atomic<int> changes{0};
    p->usb.SetDeviceChangeHandler([&] { ++changes; });
    p->usb.SetDeviceChangeHandler([&] { ++changes; });  // replacing keeps one watcher
    ASSERT_TRUE(p->link.OpenSequence());
    std::this_thread::sleep_for(milliseconds(1300));  // past one poll
    p.reset();                                        // must wake and join the watcher, not hang
    EXPECT_EQ(changes.load(), 0);
  }
}

}  // namespace
}  // namespace tarvix::testing
