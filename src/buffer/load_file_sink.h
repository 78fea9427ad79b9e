// SPDX-License-Identifier: GPL-3.0-or-later
// LoadFileSink: a chip read written as an Intel HEX or S-record file while the data
// arrives, the records formatted as each piece comes in. The file is written beside
// its name and put in place by Commit only (a ReplacementFile): until then a file of
// that name stays as it was, and a failed read leaves nothing behind.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "buffer/byte_sink.h"
#include "buffer/load_file_format.h"
#include "buffer/load_file_writer.h"
#include "buffer/replacement_file.h"

namespace tarvix {

class LoadFileSink final : public ByteSink {
 public:
  // Creates the temporary file at once, so an output that cannot be written is known
  // before the read. `durable` as for ReplacementFile.
  LoadFileSink(const std::filesystem::path& target, FileFormatChoice choice, bool durable = true);

  // False when the temporary file could not be created (Why() says why).
  [[nodiscard]] bool Valid() const { return file_.Valid(); }
  [[nodiscard]] const std::filesystem::path& TemporaryPath() const { return file_.TemporaryPath(); }
  // Bytes of the image received so far.
  [[nodiscard]] std::uint64_t Written() const { return written_; }
  // The reason for the last failure.
  [[nodiscard]] std::string Why() const;

  // False when `length` bytes do not fit the chosen record width.
  [[nodiscard]] bool Begin(std::uint64_t length) override;
  [[nodiscard]] bool Append(std::span<const std::uint8_t> bytes) override;
  // Writes the end record and puts the file in place.
  [[nodiscard]] bool Commit() override;
  void Abandon() override;

 private:
  ReplacementFile file_;
  FileFormatChoice choice_;
  std::optional<LoadFileEncoder> encoder_;
  std::uint64_t written_ = 0;
  std::string error_;
};

}  // namespace tarvix
