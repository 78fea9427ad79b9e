// SPDX-License-Identifier: GPL-3.0-or-later
// FileSink: a chip read written into a file once, beside its name, and put in place
// by Commit only (a ReplacementFile): until then a file of that name stays as it was,
// and a failed read leaves nothing behind.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "buffer/byte_sink.h"
#include "buffer/replacement_file.h"

namespace tarvix {

class FileSink final : public ByteSink {
 public:
  // Creates the temporary file at once, so an output that cannot be written is known
  // before the read. `durable` as for ReplacementFile.
  explicit FileSink(const std::filesystem::path& target, bool durable = true);

  // False when the temporary file could not be created (Why() says why).
  [[nodiscard]] bool Valid() const { return file_.Valid(); }
  [[nodiscard]] const std::filesystem::path& TemporaryPath() const { return file_.TemporaryPath(); }
  [[nodiscard]] std::uint64_t Written() const { return written_; }
  // The system's reason for the last failure.
  [[nodiscard]] std::string Why() const;

  [[nodiscard]] bool Begin(std::uint64_t length) override;
  [[nodiscard]] bool Append(std::span<const std::uint8_t> bytes) override;
  [[nodiscard]] bool Commit() override;
  void Abandon() override;

 private:
  ReplacementFile file_;
  std::uint64_t written_ = 0;
  int error_ = 0;
  bool reserved_ = false;  // Begin took the blocks for the whole length
};

}  // namespace tarvix
