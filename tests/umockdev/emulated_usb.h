// SPDX-License-Identifier: GPL-3.0-or-later
// USB programmers emulated below libusb: a umockdev testbed holds each device's sysfs
// entry (IDs, bus and device numbers, descriptors with the three endpoints) and its
// usbfs node under /dev/bus/usb, and an ioctl handler answers the usbdevfs requests
// libusb makes (capabilities, configuration, interface claim and release, URB submit,
// reap and discard). Every transfer is handed to a VirtualProgrammer, the same
// simulated firmware that answers SimBackend, so the real LibusbBackend runs
// unchanged against it.
//
// The process must run under umockdev-wrapper (the preload library redirects /sys,
// /dev and the uevent socket into the testbed). The handler runs on umockdev's own
// thread, so a test thread may block in libusb while the device answers.
//
// Device behaviour follows the kernel's usbfs: a bulk OUT transfer the device does not
// take stays pending until libusb's time-out discards it (bytes taken so far count);
// an IN transfer with nothing to deliver stays pending the same way; an interface
// held through another open file is refused busy; a removed device kills its pending
// transfers with ESHUTDOWN and then answers ENODEV.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/virtual_programmer.h"

namespace tarvix::sim {
class SimBus;
}

namespace tarvix::testing {

using Bytes = std::vector<std::uint8_t>;

// A transfer as the device saw it, after it ended (completed, discarded or killed).
struct UrbRecord {
  int type = 0;      // USBDEVFS_URB_TYPE_*
  int endpoint = 0;  // with the direction bit
  int length = 0;    // bytes offered or asked for
  int actual = 0;    // bytes moved
  int status = 0;    // 0, or the negative errno the URB ended with
  Bytes data;        // OUT: the bytes offered; IN: the bytes delivered
  int client = 0;    // which open file submitted it (1, 2, ... in order of opening)
};

// A request at the device node, in order, for tests of a call sequence.
struct UsbfsRequest {
  std::string name;    // "capabilities", "set-configuration", "claim", "disconnect-claim",
                       // "release", "submit", "discard", "connect-driver", "other"
  unsigned value = 0;  // configuration or interface number; endpoint for submit
  int error = 0;       // errno answered, 0 on success
  int client = 0;
};

struct EmulatedDeviceSetup {
  int bus = 1;
  int address = 2;
  std::string port = "1";  // sysfs name is "<bus>-<port>"
  std::uint16_t vendor_id = 0x0716;
  std::uint16_t product_id = 0x5017;
  // Active configuration as sysfs shows it; 0 leaves the device unconfigured, so
  // libusb has to set configuration 1 itself.
  int active_configuration = 1;
};

class EmulatedUsb;

// One programmer on the emulated bus.
class EmulatedProgrammer {
 public:
  ~EmulatedProgrammer();
  EmulatedProgrammer(const EmulatedProgrammer&) = delete;
  EmulatedProgrammer& operator=(const EmulatedProgrammer&) = delete;

  // The simulated firmware behind the node: chips, identity, fault knobs.
  [[nodiscard]] sim::VirtualProgrammer& programmer();
  [[nodiscard]] const EmulatedDeviceSetup& setup() const { return setup_; }
  [[nodiscard]] std::string SysPath() const;
  [[nodiscard]] std::string DevNode() const;

  // What reached the device since the last ClearLog.
  [[nodiscard]] std::vector<UrbRecord> Urbs() const;
  [[nodiscard]] std::vector<UsbfsRequest> Requests() const;
  void ClearLog();
  // Files open on the node right now, and ever opened.
  [[nodiscard]] int OpenFiles() const;
  [[nodiscard]] int FilesOpened() const;
  // The open file holding interface 0, 0 when none.
  [[nodiscard]] int InterfaceHolder() const;

  // Pulls the cable once `bytes` more bytes of bulk OUT data have reached the device;
  // the transfer that crosses the mark is cut there.
  void UnplugAfterBulkOutBytes(std::uint64_t bytes);

 private:
  friend class EmulatedUsb;
  struct State;
  EmulatedProgrammer(EmulatedUsb& usb, const EmulatedDeviceSetup& setup,
                     const sim::ProgrammerConfig& config);
  // Takes the entry out of the testbed after the handler pulled the cable.
  void LeaveBed();

  EmulatedUsb& usb_;
  EmulatedDeviceSetup setup_;
  std::unique_ptr<State> state_;
};

class EmulatedUsb {
 public:
  // An empty testbed with the root hub of bus 1 (libusb wants a usbfs folder with a
  // device in it to start).
  EmulatedUsb();
  ~EmulatedUsb();
  EmulatedUsb(const EmulatedUsb&) = delete;
  EmulatedUsb& operator=(const EmulatedUsb&) = delete;

  // True when this process runs under umockdev-wrapper.
  [[nodiscard]] static bool InMockEnvironment();

  // Plugs in a programmer: sysfs entry, device node, handler, and an "add" uevent.
  EmulatedProgrammer& AddProgrammer(const EmulatedDeviceSetup& setup = {},
                                    const sim::ProgrammerConfig& config = {});
  // A USB device that is no programmer (vendor and product given); it answers nothing.
  void AddForeignDevice(int bus, int address, const std::string& port, std::uint16_t vendor_id,
                        std::uint16_t product_id);
  // Removes the programmer from the bus: "remove" uevent, sysfs entry and node gone,
  // pending transfers killed, every later request answered ENODEV.
  void Unplug(EmulatedProgrammer& device);
  // Puts an unplugged programmer back (a fresh power-up), with an "add" uevent.
  void Replug(EmulatedProgrammer& device);

  [[nodiscard]] std::string RootDir() const;

 private:
  friend class EmulatedProgrammer;
  struct Bed;
  void AddRootHub(int bus);
  void Describe(const EmulatedDeviceSetup& setup, const Bytes& descriptors);
  void RemoveFromBed(EmulatedProgrammer& device);

  std::unique_ptr<Bed> bed_;
  std::vector<std::unique_ptr<EmulatedProgrammer>> programmers_;
};

// The descriptors sysfs shows for a programmer: device descriptor, then configuration 1
// with interface 0 and its endpoints 1 (bulk OUT), 2 (interrupt OUT) and 0x83 (bulk IN).
[[nodiscard]] Bytes ProgrammerDescriptors(std::uint16_t vendor_id, std::uint16_t product_id);

}  // namespace tarvix::testing
