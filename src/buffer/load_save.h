// SPDX-License-Identifier: GPL-3.0-or-later
// Loading an image file into the ImageBuffer and writing it back. Every image enters
// through Load: Open and drops, a chip read (the chip data file), a write from a file
// address (its scratch file). Save writes back only the bytes that changed and logs
// each one; Save As copies the whole working copy to a new file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "buffer/image_buffer.h"
#include "buffer/load_file_format.h"
#include "device/host.h"

namespace tarvix {

class HexPage;
class ChangeLog;

// Menu commands the load enables or disables.
inline constexpr int kCommandEditMode = 32783;
inline constexpr int kCommandSaveAs = 32784;
inline constexpr int kCommandFileFill = 32801;
inline constexpr int kCommandViewData = 32803;
inline constexpr int kCommandSave = 32806;
inline constexpr int kCommandMoveTo = 32807;
inline constexpr int kCommandFindDatas = 32810;

// ".cap" files carry a header of this size before the image.
inline constexpr std::uint32_t kCapHeaderSize = 2048;

inline constexpr char kSystemFileForbid[] = "system file is forbid!    ";
// Asked before unsaved edits would go: Yes saves them, No lets them go, Cancel keeps
// everything as it is.
inline constexpr char kUnsavedChangesQuestion[] =
    "the image has changes that are not saved!\r\nsave them first? ";

// A load file whose records reach past the selected chip (a warning; the load goes on):
// "NAME: the records lie at 0x%X to 0x%X, past the end of the chip (0x%X bytes)   ".
[[nodiscard]] std::string RecordsPastChipText(const std::string& name, std::uint64_t lowest,
                                              std::uint64_t end, std::uint64_t capacity);

// True when the last three characters of the path, upper-cased, are "CAP" (a dot is
// not required: "xcap" counts too).
[[nodiscard]] bool IsCapFile(const std::filesystem::path& path);

class FileLoadSave {
 public:
  // Where a ".cap" file goes instead of loading: the write-from-address dialog with
  // the given base address and its address box locked. It loads the result itself
  // (through Load with user_chosen false) and returns true when an image was loaded.
  // Without a handler the dialog's OK runs at once (LoadFromFileAddress).
  using CapFileHandler =
      std::function<bool(const std::filesystem::path& file, std::uint32_t base_address)>;
  // The save dialog: the chosen path, or nothing on Cancel.
  using SavePathChooser = std::function<std::optional<std::filesystem::path>()>;
  // The selected chip's name (for the title after a chip read and the log).
  using ChipNameSource = std::function<std::string()>;

  FileLoadSave(ImageBuffer& buffer, HexPage& hex, ChangeLog& log, Host& host);

  void SetCapFileHandler(CapFileHandler handler) { cap_handler_ = std::move(handler); }
  void SetSavePathChooser(SavePathChooser chooser) { choose_save_path_ = std::move(chooser); }
  void SetChipNameSource(ChipNameSource source) { chip_name_ = std::move(source); }

  // Loads `path`. `user_chosen` is true for Open and the reload after saving chip
  // data (system files are then refused), false for a drop, a chip read and a write
  // from a file address. Reports its own outcome; true once the image is loaded.
  // Intel HEX and S-record files (by extension, else by content) are decoded into the
  // same binary image as any other; one with a bad record is refused with its line,
  // and the image loaded before stays.
  [[nodiscard]] bool Load(const std::filesystem::path& path, bool user_chosen);

  // A read stopped half-way: loads the chip data file as Load does, but as part of a
  // chip: no "read succeed! ", and the path box shows `path_box_text` instead.
  [[nodiscard]] bool LoadPartialChipData(const std::filesystem::path& path,
                                         std::string path_box_text);

  // A drop on the hex grid: loads the first path. While an operation runs (the Open
  // button is disabled) it only shows "please drag later   ".
  bool Drop(std::span<const std::filesystem::path> paths, bool open_enabled);

  // Save (32806): writes the changed bytes back into the source file and logs each
  // one; for unsaved chip data asks for a new file first. True when saved.
  bool Save();
  // Save As (32784): asks for a path and copies the whole working copy there, in the
  // format the user picked or the name says. Chip data saved this way are a chip data
  // save, with its record in the operation log.
  bool SaveAs();

  // True when the image holds edits that no Save has written yet.
  [[nodiscard]] bool HasUnsavedChanges() const;
  // Before the image goes (window close, another file opened, a chip read): with
  // unsaved edits asks Save / Discard / Cancel. True when the caller may go on: the
  // edits were saved, the user let them go, or there were none.
  [[nodiscard]] bool SettleUnsavedChanges();

 private:
  bool SaveUserFile(int source_rw_fd, bool full_compare);
  bool SaveChipData(const std::filesystem::path& target, FileFormatChoice format);
  // Writes the whole working copy to `path` as a load file; false with `error`.
  bool WriteLoadFile(const std::filesystem::path& path, FileFormatChoice format,
                     std::string* error);
  void ReportSaveFailure(std::string_view why);
  [[nodiscard]] std::string ChipName() const { return chip_name_ ? chip_name_() : std::string(); }

  ImageBuffer& buffer_;
  HexPage& hex_;
  ChangeLog& log_;
  Host& host_;
  CapFileHandler cap_handler_;
  SavePathChooser choose_save_path_;
  ChipNameSource chip_name_;
  std::string partial_path_box_;  // set while LoadPartialChipData loads
};

}  // namespace tarvix
