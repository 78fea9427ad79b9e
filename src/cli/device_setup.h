// SPDX-License-Identifier: GPL-3.0-or-later
// The programmer connection the global options ask for: the simulated programmer
// (--simulate, --sim-image, --sim-timing) or the real one over libusb, optionally
// wrapped by the transfer trace (--trace).
#pragma once

#include <fstream>
#include <memory>
#include <optional>

#include "cli/cli_context.h"
#include "device/clock.h"
#include "device/usb_backend.h"

namespace tarvix::sim {
class SimBus;
}

namespace tarvix::cli {

struct Device {
  std::unique_ptr<Clock> clock;  // virtual with the simulator, steady otherwise
  // With --trace: the file and the backend the trace wrapper stands in front of.
  std::unique_ptr<std::ofstream> trace_file;
  std::unique_ptr<UsbBackend> traced;
  std::unique_ptr<UsbBackend> backend;  // what UsbLink talks to (trace wrapper outermost)
  sim::SimBus* sim = nullptr;           // the simulated bus, when simulating
  std::shared_ptr<void> keep_alive;     // owns whatever the backend refers to
};

// Builds the device; prints the reason and returns nothing when it cannot.
std::optional<Device> MakeDevice(Context& context);

// Checks the --trace file after the last transfer, its buffer flushed. A trace that could not be
// written whole (a full disk) is a failure: false, after saying so.
[[nodiscard]] bool FinishTrace(Device& device, const Options& options);

}  // namespace tarvix::cli
