// SPDX-License-Identifier: GPL-3.0-or-later
// A read's output on the command line: the chip's bytes go straight into a temporary
// file beside the user's FILE, as they arrive (records formatted on the way for an
// Intel HEX or S-record FILE), which takes that name after the run, and only when it
// holds the whole chip of a run nobody stopped. The read's Commit only marks its end.
// As with cp, the system writes the file to the disk in its own time: a forced flush
// would cost more than the whole read.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "buffer/byte_sink.h"
#include "buffer/file_sink.h"
#include "buffer/load_file_format.h"
#include "buffer/load_file_sink.h"

namespace tarvix::cli {

class ReadOutput final : public ByteSink {
 public:
  ReadOutput(const std::filesystem::path& file, FileFormatChoice format);

  [[nodiscard]] bool Valid() const;
  [[nodiscard]] const std::filesystem::path& TemporaryPath() const;
  // Bytes of the chip received.
  [[nodiscard]] std::uint64_t Written() const;
  [[nodiscard]] std::string Why() const;
  [[nodiscard]] FileFormatChoice Format() const { return format_; }

  bool Begin(std::uint64_t length) override;
  bool Append(std::span<const std::uint8_t> bytes) override;
  bool Commit() override;
  void Abandon() override;

  // Puts the file in place when the read ended with the whole chip; otherwise removes
  // it. False, with the reason, when the file is not in place.
  [[nodiscard]] bool Place(std::string* why);

 private:
  [[nodiscard]] ByteSink& Sink();

  FileFormatChoice format_;
  std::optional<FileSink> binary_;
  std::optional<LoadFileSink> records_;
  std::uint64_t length_ = 0;
  bool ended_ = false;
};

}  // namespace tarvix::cli
