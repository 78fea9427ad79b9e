// SPDX-License-Identifier: GPL-3.0-or-later
// The hex grid's edit box as a user drives it: clicks on cells, hex keystrokes (and
// anything else typed or pasted) in the box, Enter, scrolling and the edit-mode
// switch, over a small image loaded the way Open loads one. Each input starts afresh;
// what it looks for is a crash or undefined behaviour.
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "buffer/change_log.h"
#include "buffer/hex_page.h"
#include "buffer/image_buffer.h"
#include "buffer/load_save.h"
#include "device/recording_host.h"
#include "fuzz_input.h"
#include "state/main_state.h"

namespace {

namespace fs = std::filesystem;

// A private folder for the image and the working copy, removed at exit.
struct Folder {
  Folder() : path(fs::temp_directory_path() / ("tarvix_fuzz_hex_" + std::to_string(::getpid()))) {
    fs::create_directories(path);
  }
  ~Folder() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
  fs::path path;
};

const fs::path& Scratch() {
  static const Folder folder;
  return folder.path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvix;
  tarvix::fuzz::FuzzInput in(data, size);
  const fs::path image = Scratch() / "image.bin";
  {
    std::ofstream out(image, std::ios::binary | std::ios::trunc);
    const std::size_t length = in.Byte() * 5u;  // up to four pages, or nothing
    for (std::size_t i = 0; i < length; ++i) out.put(static_cast<char>(i * 7));
  }
  MainState state;
  state.paths = Paths::FromBase(Scratch());
  state.chip_capacity = 256u << (in.Byte() % 8);
  RecordingHost host(&state);
  ImageBuffer buffer(state);
  HexPage page(buffer, state, host);
  ChangeLog log(ChangeLog::PathIn(Scratch()));
  if (!log.Prepare()) return 0;
  FileLoadSave files(buffer, page, log, host);
  (void)files.Load(image, true);

  while (!in.Empty()) {
    switch (in.Byte() % 8) {
      case 0: {
        const GridCell cell{in.Byte() % 23 - 1, in.Byte() % 20 - 1};
        page.Click(cell, (in.Byte() & 1) != 0);
        break;
      }
      case 1: {
        const std::string text(in.Text('\n').substr(0, 4));
        // The box holds two characters (two UTF-8 letters may be four bytes).
        page.TextChanged(text, static_cast<int>(in.Byte() % (text.size() + 1)));
        break;
      }
      case 2:
        (void)page.Commit();
        break;
      case 3:
        page.Scroll(static_cast<HexPage::ScrollCode>(in.Byte() % 9),
                    static_cast<int>(in.Number(2)));
        break;
      case 4:
        page.Wheel(static_cast<int>(static_cast<std::int8_t>(in.Byte())));
        break;
      case 5:
        if (in.Byte() & 1)
          page.ToggleModeFromMenu();
        else
          page.ToggleModeFromCheckBox();
        break;
      case 6:
        page.SetFocusCell({in.Byte() % 23 - 1, in.Byte() % 20 - 1});
        break;
      default:
        (void)page.Refresh();
        break;
    }
  }
  return 0;
}
