// SPDX-License-Identifier: GPL-3.0-or-later
// What the operator sets for production in the window: the lot text every entry of
// the production log carries, and the serial-number stamping of bulk runs. Kept in a
// small file beside the window's other files, so a restart in the middle of a lot
// programs on with the same lot and numbers.
#pragma once

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include "production/serial_number.h"

namespace tarvix {

// The window's production log and the file of its settings, in its folder.
inline constexpr char kProductionLogName[] = "production.db";
inline constexpr char kProductionSettingsName[] = "production.cfg";

struct ProductionSettings {
  std::string lot;
  std::optional<SerialSettings> serial;  // stamping in bulk mode, when set
  friend bool operator==(const ProductionSettings&, const ProductionSettings&) = default;
};

// The settings as the file holds them ("lot=..." and "serial=..." lines), and back;
// lines it does not know are skipped.
[[nodiscard]] std::string ProductionSettingsText(const ProductionSettings& settings);
[[nodiscard]] ProductionSettings ParseProductionSettings(const std::string& text);

class ProductionSetup {
 public:
  // `folder` is the window's; empty, no production log is kept and nothing is stored.
  explicit ProductionSetup(std::filesystem::path folder);

  // Reads the settings file, when there is one.
  void Load();
  [[nodiscard]] ProductionSettings Settings() const;
  // Takes `settings` and stores them; false with `error` when the file cannot be
  // written (they apply all the same until the program ends).
  [[nodiscard]] bool Set(ProductionSettings settings, std::string* error);
  // The production log, or empty when none is kept.
  [[nodiscard]] std::filesystem::path LogPath() const;

 private:
  std::filesystem::path folder_;
  mutable std::mutex mutex_;
  ProductionSettings settings_;
};

}  // namespace tarvix
