// SPDX-License-Identifier: GPL-3.0-or-later
#include "emulated_usb.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>

#include "device/clock.h"
#include "sim/sim_backend.h"
#include "sim/sim_bus.h"

namespace tarvix::testing {

namespace {

constexpr std::uint32_t kCapabilities =
    USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
    USBDEVFS_CAP_BULK_SCATTER_GATHER | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;

constexpr int kBulkOut = 0x01;
constexpr int kInterruptOut = 0x02;
constexpr int kBulkIn = 0x83;
// How long the firmware model may wait for a reply on one offer of an IN transfer;
// an IN transfer it cannot fill yet stays pending and is offered again.
constexpr int kOfferWaitMs = 1;

// Real time for the firmware model, but its own waits take none: the handler runs on
// umockdev's thread and must never sleep there. Delayed replies become due in real
// time, as they would on the wire.
class DeviceClock final : public Clock {
 public:
  [[nodiscard]] std::int64_t NowMs() const override {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start_)
        .count();
  }
  void SleepMs(std::int64_t) override {}

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

unsigned long Request(unsigned long value) {
  return value & 0xFFFFFFFFUL;
}

std::string Hex(const Bytes& bytes) {
  std::string out;
  char two[3];
  for (std::uint8_t b : bytes) {
    std::snprintf(two, sizeof two, "%02X", b);
    out += two;
  }
  return out;
}

void Put16(Bytes& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v & 0xFF));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

Bytes DeviceDescriptor(std::uint16_t vendor, std::uint16_t product, std::uint8_t device_class) {
  Bytes d{18, 1};
  Put16(d, 0x0200);  // USB 2.0
  d.insert(d.end(), {device_class, 0, device_class == 9 ? std::uint8_t{1} : std::uint8_t{0}, 64});
  Put16(d, vendor);
  Put16(d, product);
  Put16(d, 0x0100);
  d.insert(d.end(), {1, 2, 3, 1});
  return d;
}

Bytes RootHubDescriptors() {
  Bytes d = DeviceDescriptor(0x1d6b, 0x0002, 9);
  // clang-format off
  const Bytes config{
      9, 2, 25, 0, 1, 1, 0, 0xE0, 0,  // configuration 1
      9, 4, 0, 0, 1, 9, 0, 0, 0,      // hub interface
      7, 5, 0x81, 3, 4, 0, 12};       // status change endpoint
  // clang-format on
  d.insert(d.end(), config.begin(), config.end());
  return d;
}

std::string Number3(int n) {
  char text[8];
  std::snprintf(text, sizeof text, "%03d", n);
  return text;
}

// The umockdev-record form of one USB device.
std::string DeviceRecord(const std::string& syspath, int bus, int address, std::uint16_t vendor,
                         std::uint16_t product, int configuration, const Bytes& descriptors) {
  const int minor = (bus - 1) * 128 + (address - 1);
  char ids[32];
  std::snprintf(ids, sizeof ids, "%x/%x/100", vendor, product);
  char vendor_text[8];
  char product_text[8];
  std::snprintf(vendor_text, sizeof vendor_text, "%04x", vendor);
  std::snprintf(product_text, sizeof product_text, "%04x", product);
  std::string r;
  r += "P: " + syspath.substr(4) + "\n";  // without "/sys"
  r += "N: bus/usb/" + Number3(bus) + "/" + Number3(address) + "\n";
  r += "E: SUBSYSTEM=usb\n";
  r += "E: DEVTYPE=usb_device\n";
  r += "E: DEVNAME=/dev/bus/usb/" + Number3(bus) + "/" + Number3(address) + "\n";
  r += "E: BUSNUM=" + Number3(bus) + "\n";
  r += "E: DEVNUM=" + Number3(address) + "\n";
  r += "E: PRODUCT=" + std::string(ids) + "\n";
  r += "E: MAJOR=189\n";
  r += "E: MINOR=" + std::to_string(minor) + "\n";
  r += "A: busnum=" + std::to_string(bus) + "\n";
  r += "A: devnum=" + std::to_string(address) + "\n";
  r += "A: idVendor=" + std::string(vendor_text) + "\n";
  r += "A: idProduct=" + std::string(product_text) + "\n";
  r += "A: speed=480\n";
  r += "A: bNumConfigurations=1\n";
  r += "A: bConfigurationValue=" +
       (configuration > 0 ? std::to_string(configuration) : std::string()) + "\n";
  r += "A: dev=189:" + std::to_string(minor) + "\n";
  r += "H: descriptors=" + Hex(descriptors) + "\n";
  r += "\n";
  return r;
}

std::string HubPath(int bus) {
  return "/sys/devices/pci0000:00/0000:00:14.0/usb" + std::to_string(bus);
}

std::string DevicePath(int bus, const std::string& port) {
  return HubPath(bus) + "/" + std::to_string(bus) + "-" + port;
}

}  // namespace

Bytes ProgrammerDescriptors(std::uint16_t vendor_id, std::uint16_t product_id) {
  Bytes d = DeviceDescriptor(vendor_id, product_id, 0);
  // clang-format off
  const Bytes config{
      9, 2, 39, 0, 1, 1, 0, 0x80, 50,        // configuration 1 of 39 bytes, 100 mA
      9, 4, 0, 0, 3, 0xFF, 0, 0, 0,          // interface 0: three endpoints, vendor class
      7, 5, kBulkOut, 2, 0x00, 0x02, 0,      // bulk OUT, 512-byte packets
      7, 5, kInterruptOut, 3, 64, 0, 1,      // interrupt OUT, 64 bytes every frame
      7, 5, kBulkIn, 2, 0x00, 0x02, 0};      // bulk IN, 512-byte packets
  // clang-format on
  d.insert(d.end(), config.begin(), config.end());
  return d;
}

// ---------------------------------------------------------------------------------
// The device side of one programmer: its usbfs clients and their URBs.

struct EmulatedProgrammer::State {
  DeviceClock clock;
  sim::SimBus bus{clock};
  sim::SimBackend backend{bus};
  sim::VirtualProgrammer* programmer = nullptr;
  UMockdevIoctlBase* handler = nullptr;

  struct Urb {
    UMockdevIoctlData* data = nullptr;    // the URB struct, ours (one reference)
    UMockdevIoctlData* buffer = nullptr;  // its buffer, owned by `data`
    usbdevfs_urb* urb() const { return reinterpret_cast<usbdevfs_urb*>(data->data); }
    Bytes offered;
  };
  struct Client {
    int id = 0;
    UsbHandle sim = kNoUsbHandle;
    bool dead = false;  // opened before an unplug: the node it opened is gone
    std::deque<Urb> pending;
    std::deque<Urb> done;  // ended, waiting to be reaped
  };

  mutable std::mutex mutex;
  std::map<UMockdevIoctlClient*, Client> clients;
  bool present = true;
  int files_opened = 0;
  int holder = 0;  // client holding interface 0
  int configuration = 1;
  std::optional<std::uint64_t> unplug_after;
  bool unplug_requested = false;
  std::vector<UrbRecord> urbs;
  std::vector<UsbfsRequest> requests;

  static void OnClientConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user);
  static gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user);

  // Forgets the files that were closed; closing releases what a file held, as in the
  // kernel. (umockdev 0.17 signals no close, so the connections are looked at.)
  void Prune() {
    for (auto it = clients.begin(); it != clients.end();) {
      if (umockdev_ioctl_client_get_connected(it->first)) {
        ++it;
        continue;
      }
      if (holder == it->second.id) holder = 0;
      if (it->second.sim != kNoUsbHandle) (void)backend.Close(it->second.sim);
      Drop(it->second.pending);
      Drop(it->second.done);
      g_object_unref(it->first);
      it = clients.erase(it);
    }
  }

  ~State() {
    for (auto& [object, client] : clients) {
      Drop(client.pending);
      Drop(client.done);
      g_object_unref(object);
    }
    if (handler != nullptr) g_object_unref(handler);
  }

  static void Drop(std::deque<Urb>& urbs) {
    for (Urb& u : urbs) g_object_unref(u.data);
    urbs.clear();
  }

  void Log(const char* name, unsigned value, int error, int client) {
    requests.push_back({name, value, error, client});
  }

  // The URB ends now with this status; the client reaps it next.
  void End(Client& c, Urb u, int status, int actual) {
    usbdevfs_urb* urb = u.urb();
    urb->status = status;
    urb->actual_length = actual;
    UrbRecord r;
    r.type = urb->type;
    r.endpoint = urb->endpoint;
    r.length = urb->buffer_length;
    r.actual = actual;
    r.status = status;
    r.client = c.id;
    if ((urb->endpoint & 0x80) != 0) {
      if (u.buffer != nullptr && actual > 0) r.data.assign(u.buffer->data, u.buffer->data + actual);
    } else {
      r.data = u.offered;
    }
    urbs.push_back(std::move(r));
    c.done.push_back(u);
  }

  // Offers an IN URB to the firmware model; true when it ended.
  bool OfferIn(Client& c, Urb& u) {
    usbdevfs_urb* urb = u.urb();
    std::uint8_t* buffer = u.buffer != nullptr ? u.buffer->data : nullptr;
    Bytes scratch;
    if (buffer == nullptr) {
      scratch.resize(1);
      buffer = scratch.data();
    }
    const int r = backend.BulkRead(c.sim, urb->endpoint, buffer, urb->buffer_length, kOfferWaitMs);
    if (r == sim::kResultTimeout) return false;
    if (r >= 0) {
      End(c, u, 0, r);
    } else if (r == sim::kResultNoDevice) {
      End(c, u, -ESHUTDOWN, 0);
    } else {
      End(c, u, -EPROTO, 0);
    }
    return true;
  }

  // Pending IN URBs of every client get another chance (a command may have queued a
  // reply, or a delayed one may be due).
  void OfferPendingIn() {
    for (auto& [object, c] : clients) {
      if (c.dead) continue;
      for (auto it = c.pending.begin(); it != c.pending.end();) {
        if ((it->urb()->endpoint & 0x80) != 0 && OfferIn(c, *it)) {
          it = c.pending.erase(it);
        } else {
          ++it;
        }
      }
    }
  }

  // Kills every URB in flight (cable pulled); every client opened so far is dead.
  void KillAll() {
    present = false;
    holder = 0;
    for (auto& [object, c] : clients) {
      while (!c.pending.empty()) {
        Urb u = c.pending.front();
        c.pending.pop_front();
        End(c, u, -ESHUTDOWN, u.urb()->actual_length);
      }
      c.dead = true;
    }
    bus.Unplug(0);
  }

  // Returns the errno for a submit that is refused outright, 0 when accepted.
  int Submit(Client& c, Urb u) {
    usbdevfs_urb* urb = u.urb();
    const int endpoint = urb->endpoint;
    const bool bulk = urb->type == USBDEVFS_URB_TYPE_BULK;
    const bool interrupt = urb->type == USBDEVFS_URB_TYPE_INTERRUPT;
    if (endpoint != kBulkOut && endpoint != kInterruptOut && endpoint != kBulkIn) return ENOENT;
    if ((endpoint == kInterruptOut && !interrupt) || (endpoint != kInterruptOut && !bulk))
      return EINVAL;
    // usbfs claims the interface for a file that uses it unclaimed, if it is free.
    if (holder != 0 && holder != c.id) return EBUSY;
    holder = c.id;
    urb->actual_length = 0;
    urb->status = -EINPROGRESS;
    if (u.buffer != nullptr && (endpoint & 0x80) == 0)
      u.offered.assign(u.buffer->data, u.buffer->data + urb->buffer_length);

    if (endpoint == kBulkIn) {
      if (!OfferIn(c, u)) c.pending.push_back(u);
      return 0;
    }

    int length = urb->buffer_length;
    bool cut = false;
    if (endpoint == kBulkOut && unplug_after) {
      if (static_cast<std::uint64_t>(length) >= *unplug_after) {
        length = static_cast<int>(*unplug_after);
        cut = true;
      }
      *unplug_after -= static_cast<std::uint64_t>(length);
    }
    const std::uint8_t* data = u.offered.empty() ? nullptr : u.offered.data();
    static const std::uint8_t kNothing = 0;
    if (data == nullptr) data = &kNothing;
    int r = 0;
    if (length > 0 || !cut) {
      r = endpoint == kInterruptOut
              ? backend.InterruptWrite(c.sim, endpoint, data, length, kOfferWaitMs)
              : backend.BulkWrite(c.sim, endpoint, data, length, kOfferWaitMs);
    }
    if (cut) {
      urb->actual_length = std::max(r, 0);
      c.pending.push_back(u);
      unplug_after.reset();
      unplug_requested = true;
      KillAll();
      return 0;
    }
    if (r == urb->buffer_length) {
      End(c, u, 0, r);
      OfferPendingIn();
    } else if (r >= 0 || r == sim::kResultTimeout) {
      // The device took part (or nothing) and NAKs the rest: the transfer waits for
      // libusb's time-out, which discards it with what moved so far.
      urb->actual_length = std::max(r, 0);
      c.pending.push_back(u);
      if (r > 0) OfferPendingIn();
    } else if (r == sim::kResultNoDevice) {
      End(c, u, -ESHUTDOWN, 0);
    } else {
      End(c, u, -EPROTO, 0);
    }
    return 0;
  }
};

// GObject signal handlers; the state is the user data.
void EmulatedProgrammer::State::OnClientConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client,
                                                  gpointer user) {
  auto* s = static_cast<EmulatedProgrammer::State*>(user);
  std::lock_guard lock(s->mutex);
  EmulatedProgrammer::State::Client c;
  c.id = ++s->files_opened;
  c.dead = !s->present;
  if (!c.dead) {
    s->backend.Rescan();
    c.sim = s->backend.Open(0);
  }
  s->Prune();
  s->clients.emplace(static_cast<UMockdevIoctlClient*>(g_object_ref(client)), std::move(c));
}

EmulatedProgrammer::EmulatedProgrammer(EmulatedUsb& usb, const EmulatedDeviceSetup& setup,
                                       const sim::ProgrammerConfig& config)
    : usb_(usb), setup_(setup), state_(std::make_unique<State>()) {
  state_->programmer = &state_->bus.AddProgrammer(config);
  state_->configuration = setup.active_configuration;
  state_->handler = umockdev_ioctl_base_new();
  g_signal_connect(state_->handler, "handle-ioctl", G_CALLBACK(State::OnIoctl), this);
  g_signal_connect(state_->handler, "client-connected", G_CALLBACK(State::OnClientConnected),
                   state_.get());
}

EmulatedProgrammer::~EmulatedProgrammer() = default;

sim::VirtualProgrammer& EmulatedProgrammer::programmer() {
  return *state_->programmer;
}

std::string EmulatedProgrammer::SysPath() const {
  return DevicePath(setup_.bus, setup_.port);
}

std::string EmulatedProgrammer::DevNode() const {
  return "/dev/bus/usb/" + Number3(setup_.bus) + "/" + Number3(setup_.address);
}

std::vector<UrbRecord> EmulatedProgrammer::Urbs() const {
  std::lock_guard lock(state_->mutex);
  return state_->urbs;
}

std::vector<UsbfsRequest> EmulatedProgrammer::Requests() const {
  std::lock_guard lock(state_->mutex);
  return state_->requests;
}

void EmulatedProgrammer::ClearLog() {
  std::lock_guard lock(state_->mutex);
  state_->urbs.clear();
  state_->requests.clear();
}

int EmulatedProgrammer::OpenFiles() const {
  std::lock_guard lock(state_->mutex);
  state_->Prune();
  return static_cast<int>(state_->clients.size());
}

int EmulatedProgrammer::FilesOpened() const {
  std::lock_guard lock(state_->mutex);
  return state_->files_opened;
}

int EmulatedProgrammer::InterfaceHolder() const {
  std::lock_guard lock(state_->mutex);
  state_->Prune();
  return state_->holder;
}

void EmulatedProgrammer::LeaveBed() {
  usb_.RemoveFromBed(*this);
}

void EmulatedProgrammer::UnplugAfterBulkOutBytes(std::uint64_t bytes) {
  std::lock_guard lock(state_->mutex);
  state_->unplug_after = bytes;
}

// One usbdevfs request. Every request is completed before returning.
gboolean EmulatedProgrammer::State::OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client,
                                            gpointer user) {
  auto* device = static_cast<EmulatedProgrammer*>(user);
  EmulatedProgrammer::State& s = *device->state_;
  const unsigned long request = Request(umockdev_ioctl_client_get_request(client));
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  const unsigned long size = (request >> _IOC_SIZESHIFT) & ((1UL << _IOC_SIZEBITS) - 1);

  long result = 0;
  int error = 0;
  bool unplug = false;
  {
    std::lock_guard lock(s.mutex);
    s.Prune();
    const auto found = s.clients.find(client);
    if (found == s.clients.end()) {
      umockdev_ioctl_client_complete(client, -1, EBADF);
      return TRUE;
    }
    EmulatedProgrammer::State::Client& c = found->second;
    const auto fail = [&](int e) {
      result = -1;
      error = e;
    };
    // Only the reap requests still work on a file whose device is gone.
    const bool reap =
        request == Request(USBDEVFS_REAPURB) || request == Request(USBDEVFS_REAPURBNDELAY);
    GError* gerror = nullptr;
    UMockdevIoctlData* data = nullptr;
    if (size > 0 && request != Request(USBDEVFS_SUBMITURB)) {
      data = umockdev_ioctl_data_resolve(arg, 0, size, &gerror);
      if (gerror != nullptr) g_clear_error(&gerror);
    }
    const auto value = [&]() -> unsigned {
      unsigned v = 0;
      if (data != nullptr && data->data_len >= static_cast<int>(sizeof v))
        std::memcpy(&v, data->data, sizeof v);
      return v;
    };

    if (c.dead && !reap) {
      fail(ENODEV);
      s.Log("gone", 0, ENODEV, c.id);
    } else if (request == Request(USBDEVFS_GET_CAPABILITIES)) {
      if (data != nullptr) std::memcpy(data->data, &kCapabilities, sizeof kCapabilities);
      s.Log("capabilities", 0, 0, c.id);
    } else if (request == Request(USBDEVFS_SETCONFIGURATION)) {
      const unsigned configuration = value();
      if (s.holder != 0) {
        fail(EBUSY);
      } else {
        const int r = s.backend.SetConfiguration(c.sim, static_cast<int>(configuration));
        if (r < 0) {
          fail(-r);
        } else {
          s.configuration = static_cast<int>(configuration);
        }
      }
      s.Log("set-configuration", configuration, error, c.id);
    } else if (request == Request(USBDEVFS_CLAIMINTERFACE) ||
               request == Request(USBDEVFS_DISCONNECT_CLAIM)) {
      const bool disconnect = request == Request(USBDEVFS_DISCONNECT_CLAIM);
      const unsigned number = value();
      if (number != 0 || s.configuration != 1) {
        fail(ENOENT);
      } else if (s.holder != 0 && s.holder != c.id) {
        fail(EBUSY);
      } else {
        const int r = s.backend.ClaimInterface(c.sim, 0);
        if (r < 0) {
          fail(-r);
        } else {
          s.holder = c.id;
        }
      }
      s.Log(disconnect ? "disconnect-claim" : "claim", number, error, c.id);
    } else if (request == Request(USBDEVFS_RELEASEINTERFACE)) {
      const unsigned number = value();
      if (number != 0 || s.holder != c.id) {
        fail(EINVAL);
      } else {
        s.holder = 0;
      }
      s.Log("release", number, error, c.id);
    } else if (request == Request(USBDEVFS_IOCTL)) {
      fail(ENODATA);  // no kernel driver to give the interface back to
      s.Log("connect-driver", 0, error, c.id);
    } else if (request == Request(USBDEVFS_SUBMITURB)) {
      UMockdevIoctlData* urb_data =
          umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), &gerror);
      if (urb_data == nullptr) {
        if (gerror != nullptr) g_clear_error(&gerror);
        fail(EFAULT);
      } else {
        auto* urb = reinterpret_cast<usbdevfs_urb*>(urb_data->data);
        EmulatedProgrammer::State::Urb u;
        u.data = urb_data;
        if (urb->buffer_length > 0) {
          u.buffer = umockdev_ioctl_data_resolve(urb_data, offsetof(usbdevfs_urb, buffer),
                                                 static_cast<gsize>(urb->buffer_length), &gerror);
          if (gerror != nullptr) g_clear_error(&gerror);
          // The URB keeps the buffer alive; our reference is not needed.
          if (u.buffer != nullptr) g_object_unref(u.buffer);
        }
        const unsigned endpoint = urb->endpoint;
        const int e = s.Submit(c, u);
        if (e != 0) {
          g_object_unref(urb_data);
          fail(e);
        }
        s.Log("submit", endpoint, error, c.id);
        unplug = s.unplug_requested;
        s.unplug_requested = false;
      }
    } else if (reap) {
      // Something may have become due since the last look.
      if (!c.dead && c.done.empty()) s.OfferPendingIn();
      if (!c.done.empty()) {
        EmulatedProgrammer::State::Urb u = c.done.front();
        c.done.pop_front();
        if (data != nullptr) {
          umockdev_ioctl_data_set_ptr(data, 0, u.data);
        } else {
          fail(EFAULT);
        }
        // The reply carries the URB back; it stays alive with the request's data.
        g_object_unref(u.data);
      } else {
        fail(c.dead ? ENODEV : EAGAIN);
      }
    } else if (request == Request(USBDEVFS_DISCARDURB)) {
      unsigned long address = 0;
      std::memcpy(&address, arg->data, sizeof address);
      fail(EINVAL);  // already ended, unless found below
      for (auto it = c.pending.begin(); it != c.pending.end(); ++it) {
        if (it->data->client_addr != address) continue;
        EmulatedProgrammer::State::Urb u = *it;
        c.pending.erase(it);
        s.End(c, u, -ENOENT, u.urb()->actual_length);
        result = 0;
        error = 0;
        break;
      }
      s.Log("discard", 0, error, c.id);
    } else if (request == Request(USBDEVFS_CLEAR_HALT) || request == Request(USBDEVFS_RESETEP) ||
               request == Request(USBDEVFS_RESET)) {
      s.Log("reset", 0, 0, c.id);
    } else {
      fail(ENOTTY);
      s.Log("other", static_cast<unsigned>(request), error, c.id);
    }
    if (data != nullptr) g_object_unref(data);
  }
  umockdev_ioctl_client_complete(client, result, error);
  if (unplug) device->LeaveBed();
  return TRUE;
}

// ---------------------------------------------------------------------------------

struct EmulatedUsb::Bed {
  UMockdevTestbed* testbed = nullptr;
  std::vector<int> hubs;
  std::mutex mutex;  // the testbed is changed from the test and from the handler thread
};

EmulatedUsb::EmulatedUsb() : bed_(std::make_unique<Bed>()) {
  bed_->testbed = umockdev_testbed_new();
  AddRootHub(1);
}

EmulatedUsb::~EmulatedUsb() {
  for (auto& p : programmers_) {
    GError* error = nullptr;
    umockdev_testbed_detach_ioctl(bed_->testbed, p->DevNode().c_str(), &error);
    if (error != nullptr) g_clear_error(&error);
  }
  g_object_unref(bed_->testbed);
  programmers_.clear();
}

bool EmulatedUsb::InMockEnvironment() {
  // Asked of the preload itself: umockdev's own check keeps its first answer, which is
  // wrong when asked before a testbed exists.
  const char* preload = std::getenv("LD_PRELOAD");
  return preload != nullptr && std::strstr(preload, "libumockdev-preload") != nullptr;
}

std::string EmulatedUsb::RootDir() const {
  gchar* dir = umockdev_testbed_get_root_dir(bed_->testbed);
  std::string out = dir != nullptr ? dir : "";
  g_free(dir);
  return out;
}

void EmulatedUsb::AddRootHub(int bus) {
  std::lock_guard lock(bed_->mutex);
  for (int h : bed_->hubs)
    if (h == bus) return;
  bed_->hubs.push_back(bus);
  const std::string record =
      DeviceRecord(HubPath(bus), bus, 1, 0x1d6b, 0x0002, 1, RootHubDescriptors());
  GError* error = nullptr;
  if (!umockdev_testbed_add_from_string(bed_->testbed, record.c_str(), &error)) {
    const std::string message = error != nullptr ? error->message : "unknown error";
    g_clear_error(&error);
    throw std::runtime_error("umockdev: cannot add root hub: " + message);
  }
}

void EmulatedUsb::Describe(const EmulatedDeviceSetup& setup, const Bytes& descriptors) {
  AddRootHub(setup.bus);
  std::lock_guard lock(bed_->mutex);
  const std::string record =
      DeviceRecord(DevicePath(setup.bus, setup.port), setup.bus, setup.address, setup.vendor_id,
                   setup.product_id, setup.active_configuration, descriptors);
  GError* error = nullptr;
  if (!umockdev_testbed_add_from_string(bed_->testbed, record.c_str(), &error)) {
    const std::string message = error != nullptr ? error->message : "unknown error";
    g_clear_error(&error);
    throw std::runtime_error("umockdev: cannot add device: " + message);
  }
}

EmulatedProgrammer& EmulatedUsb::AddProgrammer(const EmulatedDeviceSetup& setup,
                                               const sim::ProgrammerConfig& config) {
  programmers_.emplace_back(new EmulatedProgrammer(*this, setup, config));
  EmulatedProgrammer& p = *programmers_.back();
  {
    std::lock_guard lock(bed_->mutex);
    GError* error = nullptr;
    umockdev_testbed_attach_ioctl(bed_->testbed, p.DevNode().c_str(), p.state_->handler, &error);
    if (error != nullptr) {
      const std::string message = error->message;
      g_clear_error(&error);
      throw std::runtime_error("umockdev: cannot attach handler: " + message);
    }
  }
  // The node answers before the "add" uevent tells anyone it is there.
  Describe(setup, ProgrammerDescriptors(setup.vendor_id, setup.product_id));
  return p;
}

void EmulatedUsb::AddForeignDevice(int bus, int address, const std::string& port,
                                   std::uint16_t vendor_id, std::uint16_t product_id) {
  EmulatedDeviceSetup setup;
  setup.bus = bus;
  setup.address = address;
  setup.port = port;
  setup.vendor_id = vendor_id;
  setup.product_id = product_id;
  Bytes descriptors = DeviceDescriptor(vendor_id, product_id, 0);
  const Bytes config{9, 2, 18, 0, 1, 1, 0, 0x80, 50, 9, 4, 0, 0, 0, 0xFF, 0, 0, 0};
  descriptors.insert(descriptors.end(), config.begin(), config.end());
  Describe(setup, descriptors);
}

void EmulatedUsb::RemoveFromBed(EmulatedProgrammer& device) {
  std::lock_guard lock(bed_->mutex);
  const std::string syspath = device.SysPath();
  // The uevent is built from the sysfs entry, so it goes out before the entry goes.
  umockdev_testbed_uevent(bed_->testbed, syspath.c_str(), "remove");
  umockdev_testbed_remove_device(bed_->testbed, syspath.c_str());
  GError* error = nullptr;
  umockdev_testbed_detach_ioctl(bed_->testbed, device.DevNode().c_str(), &error);
  if (error != nullptr) g_clear_error(&error);
}

void EmulatedUsb::Unplug(EmulatedProgrammer& device) {
  {
    std::lock_guard lock(device.state_->mutex);
    if (!device.state_->present) return;
    device.state_->KillAll();
  }
  RemoveFromBed(device);
}

void EmulatedUsb::Replug(EmulatedProgrammer& device) {
  {
    std::lock_guard lock(device.state_->mutex);
    if (device.state_->present) return;
    device.state_->present = true;
    device.state_->configuration = device.setup_.active_configuration;
    device.state_->bus.Replug(0);
  }
  {
    std::lock_guard lock(bed_->mutex);
    GError* error = nullptr;
    umockdev_testbed_attach_ioctl(bed_->testbed, device.DevNode().c_str(), device.state_->handler,
                                  &error);
    if (error != nullptr) g_clear_error(&error);
  }
  Describe(device.setup_, ProgrammerDescriptors(device.setup_.vendor_id, device.setup_.product_id));
}

}  // namespace tarvix::testing
