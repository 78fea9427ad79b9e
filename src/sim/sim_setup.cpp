#include "sim/sim_setup.h"

#include <cctype>

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

std::optional<Simulator> MakeSimulator(const ChipCatalogue& catalogue,
                                       const SimulatorOptions& options, std::string* error) {
  std::string why;
  std::unique_ptr<VirtualChip> chip;
  if (!SameText(options.model, kEmptySocket, true)) {
    chip = MakeSimulatedChip(catalogue, options.model, &why);
    if (!chip) {
      if (error != nullptr) *error = "--simulate: " + why;
      return std::nullopt;
    }
    if (!options.image.empty() && !chip->UseImageFile(options.image, &why)) {
      if (error != nullptr) *error = "--sim-image: " + why;
      return std::nullopt;
    }
  } else if (!options.image.empty()) {
    if (error != nullptr) *error = "--sim-image needs a chip in the simulated socket";
    return std::nullopt;
  }

  Simulator simulator;
  const bool realistic = options.timing == Timing::kRealistic;
  if (realistic)
    simulator.clock = std::make_unique<SteadyClock>();
  else
    simulator.clock = std::make_unique<VirtualClock>();
  simulator.bus = std::make_unique<SimBus>(*simulator.clock, options.timing);
  ProgrammerConfig config;
  config.dfu_mode = options.dfu_mode;
  simulator.bus->AddProgrammer(config).InsertChip(std::move(chip));
  simulator.backend = std::make_unique<SimBackend>(*simulator.bus);
  return simulator;
}

}  // namespace tarvix::sim
