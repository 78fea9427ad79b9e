// SPDX-License-Identifier: GPL-3.0-or-later
// The main state: the fields the window thread and the worker thread hand work and
// results through. Each field is written by one side and polled by the other, so the
// shared ones are atomics; the rest are owned by whoever the comment names.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>

namespace tarvix {

// The code the worker runs next; 255 is idle.
using WorkerCommand = std::uint8_t;
inline constexpr WorkerCommand kCommandIdle = 255;

// Paths of the program's private files, all in the current directory at start-up.
struct Paths {
  std::filesystem::path base;          // the current directory at start-up
  std::filesystem::path chip_data;     // "k_est0.dll": data read from a chip
  std::filesystem::path working_copy;  // "k_est1.dll": the editable image
  std::filesystem::path temp_folder;   // "temp"
  std::filesystem::path database;      // "database.dat"
  std::filesystem::path settings;      // "kest2.dll"
  std::filesystem::path button_sound;  // "sound/mouthsound.wav"
  std::filesystem::path finish_sound;  // "sound/finishsound.wav"
  std::filesystem::path delete_sound;  // "sound/del.wav"

  // Derives every path from `base` (the current directory when the program starts).
  static Paths FromBase(const std::filesystem::path& base);
};

// Hex view cell states: 20 rows of 16 cells; 514 means "no state applied yet".
inline constexpr int kHexRows = 20;
inline constexpr int kHexColumns = 16;
inline constexpr std::uint16_t kHexNoState = 514;

struct MainState {
  // Control of the worker.
  std::atomic<std::int32_t> exit_request{0};
  std::atomic<WorkerCommand> command_code{0};
  std::atomic<std::uint8_t> stop_write{0};
  std::atomic<std::uint8_t> stop_erase{0};
  std::atomic<std::uint8_t> stop_verify{0};
  std::atomic<std::uint8_t> stop_read{0};
  std::atomic<std::uint8_t> stop_blank{0};
  std::atomic<std::uint8_t> busy_writing{0};
  std::atomic<std::uint8_t> busy_erasing{0};
  std::atomic<std::uint8_t> busy_verifying{0};
  std::atomic<std::uint8_t> busy_reading{0};
  std::atomic<std::uint8_t> read_abandoned{0};
  std::atomic<std::uint8_t> link_event{0};
  std::atomic<std::int32_t> device_change_count{0};

  // Device and chip state.
  std::atomic<std::uint8_t> dfu_mode{0};
  std::atomic<std::uint8_t> selection_changed{0};
  std::atomic<std::int32_t> selected_chip_index{-1};  // -1 until the first selection
  std::atomic<std::uint32_t> chip_capacity{0};
  // The colour state last applied to each hex cell (owned by the window thread).
  std::array<std::array<std::uint16_t, kHexColumns>, kHexRows> hex_cell_states{};

  // User interface state.
  std::atomic<std::uint8_t> red_flag{0};
  std::atomic<std::uint8_t> bulk_mode{0};
  std::atomic<std::int32_t> bulk_success_count{0};
  std::atomic<std::int32_t> bulk_animation_frame{0};
  std::atomic<std::uint8_t> file_loaded{0};
  std::string file_path_text = "support file dragging...";

  Paths paths;

  MainState();

  // True while any chip operation that touches the working copy or the link runs.
  [[nodiscard]] bool AnyOperationBusy() const {
    return busy_writing.load() || busy_erasing.load() || busy_verifying.load() ||
           busy_reading.load();
  }
};

}  // namespace tarvix
