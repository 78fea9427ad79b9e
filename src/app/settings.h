// SPDX-License-Identifier: GPL-3.0-or-later
// The five persistent check items of the "Settings" menu and their five-byte file
// "kest2.dll": one byte per item, 1 = on, anything else = off, a missing byte = on.
// The check states are the live settings; every change is written at once.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "state/setting_checks.h"

namespace tarvix {

class Host;

class Settings : public SettingChecks {
 public:
  // Text shown when the settings file cannot be opened or written.
  static constexpr std::string_view kCannotOpenMessage =
      "cannot open the settings file kest2.dll: settings are not kept ";
  static constexpr std::string_view kCannotWriteMessage =
      "cannot write the settings file kest2.dll: the setting is unchanged ";

  // Failures are told through `report` (text), changes through the listeners.
  using Reporter = std::function<void(std::string_view message)>;
  using Listener = std::function<void(SettingItem)>;

  // `writable` off (the command line): the file is only read, when it is there, and
  // never created or written.
  explicit Settings(std::filesystem::path file, Reporter report = {}, bool writable = true);

  // Start-up: applies the file over the menu defaults (all on).
  void Load();
  // The item's menu handler: flips the check mark and stores the new byte.
  // Returns false (check mark unchanged) when the file could not be written, and
  // always when the settings are read-only.
  bool Toggle(SettingItem item);

  // Plays a wave file only while "Remind Sound" is on.
  void PlaySound(Host& host, const std::filesystem::path& wave) const;

  void AddListener(Listener listener) { listeners_.push_back(std::move(listener)); }

 private:
  bool Store(SettingItem item, bool on);
  void SetChecked(SettingItem item, bool on);

  // Read-only start-up: the file's bytes, or all on when there is no file.
  void LoadReadOnly();

  std::filesystem::path file_;
  Reporter report_;
  bool writable_ = true;
  std::vector<Listener> listeners_;
};

}  // namespace tarvix
