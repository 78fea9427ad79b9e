// The real backend without a programmer attached: it must start, list, refuse bad
// handles and stop its watcher cleanly. Skipped where libusb cannot start at all.
#ifdef TARVIX_HAVE_LIBUSB

#include "device/libusb/libusb_backend.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

namespace tarvix {
namespace {

TEST(LibusbBackend, ListsDevicesInBusThenAddressOrder) {
  LibusbBackend usb;
  if (!usb.Initialised()) GTEST_SKIP() << "libusb cannot start here";
  usb.Rescan();
  const std::vector<UsbDeviceInfo> devices = usb.Devices();
  for (std::size_t i = 1; i < devices.size(); ++i) {
    EXPECT_LE(std::pair(devices[i - 1].bus, devices[i - 1].address),
              std::pair(devices[i].bus, devices[i].address));
  }
  usb.Rescan();  // a second scan replaces the first without leaking references
  EXPECT_EQ(usb.Devices().size(), devices.size());
}

TEST(LibusbBackend, UnknownHandlesAndIndexesFail) {
  LibusbBackend usb;
  if (!usb.Initialised()) GTEST_SKIP() << "libusb cannot start here";
  usb.Rescan();
  EXPECT_EQ(usb.Open(usb.Devices().size()), kNoUsbHandle);
  std::uint8_t buffer[64] = {};
  EXPECT_LT(usb.SetConfiguration(77, 1), 0);
  EXPECT_LT(usb.ClaimInterface(77, 0), 0);
  EXPECT_LT(usb.ReleaseInterface(77, 0), 0);
  EXPECT_LT(usb.BulkRead(77, 0x83, buffer, 64, 10), 0);
  EXPECT_LT(usb.BulkWrite(77, 1, buffer, 64, 10), 0);
  EXPECT_LT(usb.InterruptWrite(77, 2, buffer, 20, 10), 0);
  EXPECT_LT(usb.Close(77), 0);
  EXPECT_LT(usb.Close(kNoUsbHandle), 0);
}

TEST(LibusbBackend, WatchersStartAndStopWithoutSpuriousChanges) {
  for (const auto watch : {LibusbBackend::Watch::kAuto, LibusbBackend::Watch::kPoll}) {
    auto usb = std::make_unique<LibusbBackend>(watch);
    if (!usb->Initialised()) GTEST_SKIP() << "libusb cannot start here";
    std::atomic<int> changes{0};
    usb->SetDeviceChangeHandler([&] { ++changes; });
    usb->SetDeviceChangeHandler([&] { ++changes; });  // replacing keeps one watcher
    usb->Rescan();
    usb.reset();  // must wake and join the watcher, not hang
    EXPECT_EQ(changes.load(), 0) << "nothing was plugged in meanwhile";
  }
}

}  // namespace
}  // namespace tarvix

#endif  // TARVIX_HAVE_LIBUSB
