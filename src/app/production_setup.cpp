// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/production_setup.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "buffer/replacement_file.h"
#include "buffer/stream_copy.h"

namespace tarvix {

std::string ProductionSettingsText(const ProductionSettings& settings) {
  std::string lot = settings.lot;
  // One line each: a line end in the lot would end the lot there.
  for (char& c : lot)
    if (c == '\n' || c == '\r') c = ' ';
  std::string text = "lot=" + lot + "\n";
  if (settings.serial) text += "serial=" + SerialSettingsText(*settings.serial) + "\n";
  return text;
}

ProductionSettings ParseProductionSettings(const std::string& text) {
  ProductionSettings settings;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("lot=", 0) == 0) {
      settings.lot = line.substr(4);
    } else if (line.rfind("serial=", 0) == 0) {
      settings.serial = ParseSerialSettings(line.substr(7));
    }
  }
  return settings;
}

ProductionSetup::ProductionSetup(std::filesystem::path folder) : folder_(std::move(folder)) {}

void ProductionSetup::Load() {
  if (folder_.empty()) return;
  std::ifstream in(folder_ / kProductionSettingsName, std::ios::binary);
  if (!in) return;
  std::ostringstream text;
  text << in.rdbuf();
  std::lock_guard lock(mutex_);
  settings_ = ParseProductionSettings(text.str());
}

ProductionSettings ProductionSetup::Settings() const {
  std::lock_guard lock(mutex_);
  return settings_;
}

bool ProductionSetup::Set(ProductionSettings settings, std::string* error) {
  {
    std::lock_guard lock(mutex_);
    settings_ = settings;
  }
  if (folder_.empty()) return true;
  const std::filesystem::path path = folder_ / kProductionSettingsName;
  ReplacementFile file(path);
  const std::string text = ProductionSettingsText(settings);
  if (!file.Valid() ||
      !WriteAt(file.Fd(),
               std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), 0) ||
      !file.Commit()) {
    const int why = file.Error() != 0 ? file.Error() : errno;
    *error = path.string() + ": " + std::strerror(why);
    return false;
  }
  return true;
}

std::filesystem::path ProductionSetup::LogPath() const {
  return folder_.empty() ? std::filesystem::path() : folder_ / kProductionLogName;
}

}  // namespace tarvix
