// SPDX-License-Identifier: GPL-3.0-or-later
// An output file that takes its place only when it is complete. It is written under a
// temporary name in the same folder and renamed over the final name by Commit, so an
// existing file of that name stays byte for byte as it was until the new one is
// whole, and a failure (a full disk, a missing input, a stop) leaves it untouched and
// the temporary file removed. Used for every file the program writes over: joined and
// divided files, the chip data of a read, the packed and unpacked chip database.
#pragma once

#include <filesystem>

namespace tarvix {

class ReplacementFile {
 public:
  // Creates the temporary file for `target`. `durable`: Commit flushes the data to
  // the disk before the rename, so a crash cannot leave an empty file under the final
  // name (the private chip data file does without, for speed).
  explicit ReplacementFile(const std::filesystem::path& target, bool durable = true);
  // Removes the temporary file unless it was committed.
  ~ReplacementFile();
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  // False when the temporary file could not be created (Error() says why).
  [[nodiscard]] bool Valid() const { return fd_ >= 0; }
  // Open for reading and writing, at position 0.
  [[nodiscard]] int Fd() const { return fd_; }
  // The name the file gets on Commit (a link's own target when `target` is a link).
  [[nodiscard]] const std::filesystem::path& Target() const { return target_; }
  [[nodiscard]] const std::filesystem::path& TemporaryPath() const { return temporary_; }

  // Closes the file and renames it over the target. False on any failure; the target
  // is then as it was and the temporary file is gone.
  [[nodiscard]] bool Commit();
  // Drops what was written; the target stays as it was.
  void Abandon();
  // The system's error number of the last failure, 0 when none.
  [[nodiscard]] int Error() const { return error_; }

 private:
  std::filesystem::path target_;
  std::filesystem::path temporary_;
  int fd_ = -1;
  int error_ = 0;
  bool durable_ = true;
};

}  // namespace tarvix
