// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/sim_setup.h"

#include <cctype>
#include <filesystem>
#include <system_error>
#include <vector>

#include "catalogue/operation_type.h"
#include "sim/sim_backend.h"

namespace tarvix::sim {
namespace {

bool SameText(std::string_view a, std::string_view b, bool ignore_case) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto x = static_cast<unsigned char>(a[i]);
    const auto y = static_cast<unsigned char>(b[i]);
    if (ignore_case ? std::toupper(x) != std::toupper(y) : x != y) return false;
  }
  return true;
}

}  // namespace

std::optional<Timing> ParseTiming(std::string_view text) {
  if (text == "instant") return Timing::kInstant;
  if (text == "realistic") return Timing::kRealistic;
  return std::nullopt;
}

std::optional<std::uint32_t> FindSimulatedModel(const ChipCatalogue& catalogue,
                                                std::string_view model) {
  const std::uint32_t n = catalogue.Count();
  if (model.empty()) {
    if (auto found = FindSimulatedModel(catalogue, kDefaultSimulatedChip)) return found;
    for (std::uint32_t i = 0; i < n; ++i)
      if (catalogue.Record(i).type == kTypeSpiFlash) return i;
    return n > 0 ? std::optional<std::uint32_t>(0) : std::nullopt;
  }
  for (const bool ignore_case : {false, true})
    for (std::uint32_t i = 0; i < n; ++i)
      if (SameText(catalogue.Record(i).model, model, ignore_case)) return i;
  return std::nullopt;
}

std::unique_ptr<VirtualChip> MakeSimulatedChip(const ChipCatalogue& catalogue,
                                               std::string_view model, std::string* error) {
  const auto index = FindSimulatedModel(catalogue, model);
  if (!index) {
    if (error != nullptr) *error = "the catalogue has no chip model \"" + std::string(model) + "\"";
    return nullptr;
  }
  return VirtualChip::FromRecord(catalogue.Record(*index), error);
}

std::string SimulatedImageName(std::uint32_t serial) {
  std::string digits = std::to_string(serial);
  if (digits.size() < 6) digits.insert(0, 6 - digits.size(), '0');
  return "programmer-" + digits + ".bin";
}

std::optional<Simulator> MakeSimulator(const ChipCatalogue& catalogue,
                                       const SimulatorOptions& options, std::string* error) {
  const auto fail = [&](std::string why) {
    if (error != nullptr) *error = std::move(why);
    return std::nullopt;
  };
  if (options.programmers < 1 || options.programmers > kMaxSimulatedProgrammers)
    return fail("--sim-programmers: from 1 to " + std::to_string(kMaxSimulatedProgrammers));
  const bool folder = options.programmers > 1 && !options.image.empty();
  if (folder) {
    std::error_code ec;
    std::filesystem::create_directories(options.image, ec);
    if (!std::filesystem::is_directory(options.image))
      return fail("--sim-image: " + options.image + " is not a folder" +
                  (ec ? ": " + ec.message() : std::string()));
  }
  std::vector<std::unique_ptr<VirtualChip>> chips;
  for (int i = 0; i < options.programmers; ++i) {
    std::string why;
    std::unique_ptr<VirtualChip> chip;
    if (!SameText(options.model, kEmptySocket, true)) {
      chip = MakeSimulatedChip(catalogue, options.model, &why);
      if (!chip) return fail("--simulate: " + why);
      const std::string file =
          folder ? (std::filesystem::path(options.image) /
                    SimulatedImageName(kFirstSimulatedSerial + static_cast<std::uint32_t>(i)))
                       .string()
                 : options.image;
      if (!file.empty() && !chip->UseImageFile(file, &why)) return fail("--sim-image: " + why);
    } else if (!options.image.empty()) {
      return fail("--sim-image needs a chip in the simulated socket");
    }
    chips.push_back(std::move(chip));
  }

  Simulator simulator;
  const bool realistic = options.timing == Timing::kRealistic;
  if (realistic)
    simulator.clock = std::make_unique<SteadyClock>();
  else
    simulator.clock = std::make_unique<VirtualClock>();
  simulator.bus = std::make_unique<SimBus>(*simulator.clock, options.timing);
  for (std::size_t i = 0; i < chips.size(); ++i) {
    ProgrammerConfig config;
    config.dfu_mode = options.dfu_mode;
    config.serial = kFirstSimulatedSerial + static_cast<std::uint32_t>(i);
    simulator.bus->AddProgrammer(config).InsertChip(std::move(chips[i]));
  }
  simulator.backend = std::make_unique<SimBackend>(*simulator.bus);
  return simulator;
}

}  // namespace tarvix::sim
