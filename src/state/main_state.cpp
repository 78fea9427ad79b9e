// SPDX-License-Identifier: GPL-3.0-or-later
#include "state/main_state.h"

namespace tarvix {

Paths Paths::FromBase(const std::filesystem::path& base) {
  Paths p;
  p.base = base;
  p.chip_data = base / "k_est0.dll";
  p.working_copy = base / "k_est1.dll";
  p.temp_folder = base / "temp";
  p.database = base / "database.dat";
  p.settings = base / "kest2.dll";
  p.button_sound = base / "sound" / "mouthsound.wav";
  p.finish_sound = base / "sound" / "finishsound.wav";
  p.delete_sound = base / "sound" / "del.wav";
  return p;
}

MainState::MainState() {
  for (auto& row : hex_cell_states) row.fill(kHexNoState);
}

}  // namespace tarvix
