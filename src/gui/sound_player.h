// SPDX-License-Identifier: GPL-3.0-or-later
// Plays the program's wave files. Silence, not failure, when there is no audio device
// or the file is missing; each file is loaded once and replayed from memory.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <string>

class QSoundEffect;

namespace tarvix::gui {

class SoundPlayer {
 public:
  SoundPlayer();
  ~SoundPlayer();
  SoundPlayer(const SoundPlayer&) = delete;
  SoundPlayer& operator=(const SoundPlayer&) = delete;

  // Starts playing and returns at once (a sound already playing starts over).
  void Play(const std::filesystem::path& wave);

 private:
  std::map<std::string, std::unique_ptr<QSoundEffect>> effects_;
};

}  // namespace tarvix::gui
