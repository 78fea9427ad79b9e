// SPDX-License-Identifier: GPL-3.0-or-later
// Building the simulated programmer the way both front ends offer it: a catalogue
// model in the socket (or none), optionally kept in an image file, on instant or
// realistic timing. The command-line tool and the window share this.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "catalogue/chip_catalogue.h"
#include "device/clock.h"
#include "device/usb_backend.h"
#include "sim/sim_bus.h"
#include "sim/virtual_chip.h"

namespace tarvix::sim {

// The chip in the simulated socket when no model is named: a common 16 MiB SPI FLASH
// whose ID no other catalogue record shares, so recognition settles on it.
inline constexpr std::string_view kDefaultSimulatedChip = "W25Q128JV-IM";
// The model name that leaves the socket empty.
inline constexpr std::string_view kEmptySocket = "none";

// Serial number of the first simulated programmer; the others count on from it.
inline constexpr std::uint32_t kFirstSimulatedSerial = 123456;
// A gang is a handful of programmers on one computer's hubs.
inline constexpr int kMaxSimulatedProgrammers = 32;

struct SimulatorOptions {
  std::string model;  // empty: the default chip; "none": an empty socket
  // The chip's contents live in this file (created if absent). With more than one
  // programmer it is a folder (created if absent) holding one file per programmer,
  // named after its serial number (SimulatedImageName).
  std::string image;
  Timing timing = Timing::kInstant;
  bool dfu_mode = false;  // the programmer powers up in its firmware-update mode
  int programmers = 1;    // programmers on the bus, each with its own serial and chip
};

// A simulated programmer ready for UsbLink: the clock it spends time on, the bus and
// the backend over it. Destroy the backend before the bus and the bus before the clock.
struct Simulator {
  std::unique_ptr<Clock> clock;  // virtual for instant timing, steady for realistic
  std::unique_ptr<SimBus> bus;
  std::unique_ptr<UsbBackend> backend;
};

// The file of the programmer with serial number `serial` in a --sim-image folder:
// "programmer-SERIAL.bin", the serial six digits wide.
[[nodiscard]] std::string SimulatedImageName(std::uint32_t serial);

// "instant" or "realistic"; nothing for any other text.
[[nodiscard]] std::optional<Timing> ParseTiming(std::string_view text);

// The record a simulated chip is made from: the exact model name first, then the same
// name in other letter case; for an empty name the default chip, else the first SPI
// FLASH, else the first record.
[[nodiscard]] std::optional<std::uint32_t> FindSimulatedModel(const ChipCatalogue& catalogue,
                                                              std::string_view model);

// A chip of catalogue model `model`; null with the reason in `error`.
[[nodiscard]] std::unique_ptr<VirtualChip> MakeSimulatedChip(const ChipCatalogue& catalogue,
                                                             std::string_view model,
                                                             std::string* error);

// The whole simulator; nothing with the reason in `error` (which names the option at
// fault: "--simulate: ..." or "--sim-image: ...").
[[nodiscard]] std::optional<Simulator> MakeSimulator(const ChipCatalogue& catalogue,
                                                     const SimulatorOptions& options,
                                                     std::string* error);

}  // namespace tarvix::sim
