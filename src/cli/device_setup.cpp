// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/device_setup.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>

#include "device/tracing_backend.h"
#include "sim/sim_bus.h"
#include "sim/sim_setup.h"
#ifdef TARVIX_HAVE_LIBUSB
#include "device/libusb/libusb_backend.h"
#endif

namespace tarvix::cli {
namespace {

bool MakeSimulator(Context& context, Device& device) {
  const Options& o = context.options();
  if (context.catalogue().Count() == 0 && !context.LoadCatalogue()) return false;

  sim::SimulatorOptions options;
  options.model = o.sim_model;
  options.image = o.sim_image;
  options.timing = sim::ParseTiming(o.sim_timing).value_or(sim::Timing::kInstant);
  options.dfu_mode = o.sim_dfu;
  options.programmers = o.sim_programmers;
  std::string error;
  auto simulator = sim::MakeSimulator(context.catalogue(), options, &error);
  if (!simulator) {
    std::cerr << "tarvix-cli: " << error;
    if (error.find("no chip model") != std::string::npos)
      std::cerr << " (\"tarvix-cli chips\" lists them, \"--simulate=none\" leaves the socket "
                   "empty)";
    std::cerr << "\n";
    return false;
  }
  device.clock = std::move(simulator->clock);
  device.backend = std::move(simulator->backend);
  device.sim = simulator->bus.get();
  device.keep_alive = std::shared_ptr<sim::SimBus>(std::move(simulator->bus));
  return true;
}

bool MakeRealProgrammer(const Options& o, Device& device) {
  if (!o.sim_image.empty() || o.sim_dfu || o.sim_programmers != 1) {
    std::cerr << "tarvix-cli: "
              << (o.sim_dfu                     ? "--sim-dfu"
                  : o.sim_programmers != 1 ? "--sim-programmers"
                                           : "--sim-image")
              << " needs --simulate\n";
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
    errno = 0;
    device.trace_file = std::make_unique<std::ofstream>(o.trace, std::ios::out | std::ios::trunc);
    if (!*device.trace_file) {
      std::cerr << "tarvix-cli: --trace: cannot write " << o.trace
                << (errno != 0 ? std::string(": ") + std::strerror(errno) : std::string()) << "\n";
      return std::nullopt;
    }
    device.traced = std::move(device.backend);
    device.backend =
        std::make_unique<TracingBackend>(*device.traced, *device.trace_file, device.clock.get());
  }
  return device;
}

bool FinishTrace(Device& device, const Options& options) {
  if (!device.trace_file) return true;
  errno = 0;
  device.trace_file->flush();
  const int flush_error = errno;
  if (!device.trace_file->fail()) return true;
  // A write that failed earlier left the stream failed without a reason to tell.
  std::cerr << "tarvix-cli: --trace " << options.trace << ": the trace could not be written whole"
            << (flush_error != 0 ? std::string(": ") + std::strerror(flush_error)
                                 : std::string(" (is the disk full?)"))
            << "\n";
  return false;
}

}  // namespace tarvix::cli
