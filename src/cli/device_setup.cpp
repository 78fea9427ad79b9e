#include "cli/device_setup.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iostream>

#include "catalogue/operation_type.h"
#include "device/tracing_backend.h"
#include "sim/sim_backend.h"
#include "sim/sim_bus.h"
#include "sim/virtual_chip.h"
#ifdef TARVIX_HAVE_LIBUSB
#include "device/libusb/libusb_backend.h"
#endif

namespace tarvix::cli {
namespace {

// The chip in the simulated socket when --simulate names none.
constexpr std::string_view kDefaultSimulatedChip = "W25Q128FV";
// --simulate=none: a programmer with an empty socket.
constexpr std::string_view kEmptySocket = "none";

bool SameText(std::string_view a, std::string_view b, bool ignore_case) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto x = static_cast<unsigned char>(a[i]);
    const auto y = static_cast<unsigned char>(b[i]);
    if (ignore_case ? std::toupper(x) != std::toupper(y) : x != y) return false;
  }
  return true;
}

// The record the simulated chip is made from: the exact model name first, then the
// same name in other letter case; the default when no name is given.
std::optional<std::uint32_t> FindModel(const ChipCatalogue& catalogue, std::string_view model) {
  const std::uint32_t n = catalogue.Count();
  if (model.empty()) {
    if (auto found = FindModel(catalogue, kDefaultSimulatedChip)) return found;
    for (std::uint32_t i = 0; i < n; ++i)
      if (catalogue.Record(i).type == kTypeSpiFlash) return i;
    return n > 0 ? std::optional<std::uint32_t>(0) : std::nullopt;
  }
  for (const bool ignore_case : {false, true})
    for (std::uint32_t i = 0; i < n; ++i)
      if (SameText(catalogue.Record(i).model, model, ignore_case)) return i;
  return std::nullopt;
}

bool MakeSimulator(Context& context, Device& device) {
  const Options& o = context.options();
  if (context.catalogue().Count() == 0 && !context.LoadCatalogue()) return false;

  std::unique_ptr<sim::VirtualChip> chip;
  if (!SameText(o.sim_model, kEmptySocket, true)) {
    const auto index = FindModel(context.catalogue(), o.sim_model);
    if (!index) {
      std::cerr << "tarvix-cli: --simulate: the catalogue has no chip model \"" << o.sim_model
                << "\" (\"tarvix-cli chips\" lists them, \"--simulate=none\" leaves the socket "
                   "empty)\n";
      return false;
    }
    std::string error;
    chip = sim::VirtualChip::FromRecord(context.catalogue().Record(*index), &error);
    if (!chip) {
      std::cerr << "tarvix-cli: --simulate: " << error << "\n";
      return false;
    }
    if (!o.sim_image.empty() && !chip->UseImageFile(o.sim_image, &error)) {
      std::cerr << "tarvix-cli: --sim-image: " << error << "\n";
      return false;
    }
  } else if (!o.sim_image.empty()) {
    std::cerr << "tarvix-cli: --sim-image needs a chip in the simulated socket\n";
    return false;
  }

  const bool realistic = o.sim_timing == "realistic";
  if (realistic) {
    device.clock = std::make_unique<SteadyClock>();
  } else {
    device.clock = std::make_unique<VirtualClock>();
  }
  auto bus = std::make_shared<sim::SimBus>(
      *device.clock, realistic ? sim::Timing::kRealistic : sim::Timing::kInstant);
  bus->AddProgrammer().InsertChip(std::move(chip));
  device.backend = std::make_unique<sim::SimBackend>(*bus);
  device.sim = bus.get();
  device.keep_alive = std::move(bus);
  return true;
}

bool MakeRealProgrammer(const Options& o, Device& device) {
  if (!o.sim_image.empty()) {
    std::cerr << "tarvix-cli: --sim-image needs --simulate\n";
    return false;
  }
#ifdef TARVIX_HAVE_LIBUSB
  auto usb = std::make_unique<LibusbBackend>();
  // Without USB access every look for the programmer fails and says so; the hint
  // tells why.
  if (!usb->Initialised())
    std::cerr << "tarvix-cli: USB access could not be started; --simulate runs the "
                 "simulated programmer\n";
  device.clock = std::make_unique<SteadyClock>();
  device.backend = std::move(usb);
  return true;
#else
  (void)device;
  std::cerr << "tarvix-cli: real programmer support is not built (libusb-1.0 was not found "
               "when this program was built); --simulate runs the simulated programmer\n";
  return false;
#endif
}

}  // namespace

std::optional<Device> MakeDevice(Context& context) {
  const Options& o = context.options();
  Device device;
  if (!(o.simulate ? MakeSimulator(context, device) : MakeRealProgrammer(o, device)))
    return std::nullopt;
  if (!o.trace.empty()) {
    auto out = std::make_unique<std::ofstream>(o.trace, std::ios::out | std::ios::trunc);
    if (!*out) {
      std::cerr << "tarvix-cli: --trace: cannot write " << o.trace << "\n";
      return std::nullopt;
    }
    device.backend = std::make_unique<TracingBackend>(std::move(device.backend), std::move(out),
                                                      device.clock.get());
  }
  return device;
}

}  // namespace tarvix::cli
