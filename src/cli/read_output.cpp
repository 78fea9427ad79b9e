// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/read_output.h"

namespace tarvix::cli {

ReadOutput::ReadOutput(const std::filesystem::path& file, FileFormatChoice format)
    : format_(format) {
  if (format.format == FileFormat::kBinary)
    binary_.emplace(file, /*durable=*/false);
  else
    records_.emplace(file, format, /*durable=*/false);
}

bool ReadOutput::Valid() const {
  return binary_ ? binary_->Valid() : records_->Valid();
}
const std::filesystem::path& ReadOutput::TemporaryPath() const {
  return binary_ ? binary_->TemporaryPath() : records_->TemporaryPath();
}
std::uint64_t ReadOutput::Written() const {
  return binary_ ? binary_->Written() : records_->Written();
}
std::string ReadOutput::Why() const {
  return binary_ ? binary_->Why() : records_->Why();
}
ByteSink& ReadOutput::Sink() {
  if (binary_) return *binary_;
  return *records_;
}

bool ReadOutput::Begin(std::uint64_t length) {
  length_ = length;
  ended_ = false;
  return Sink().Begin(length);
}
bool ReadOutput::Append(std::span<const std::uint8_t> bytes) {
  return Sink().Append(bytes);
}
bool ReadOutput::Commit() {
  ended_ = true;
  return true;
}
void ReadOutput::Abandon() {
  Sink().Abandon();
}

bool ReadOutput::Place(std::string* why) {
  if (!ended_ || Written() != length_) {
    Sink().Abandon();
    *why = "the read ended after " + std::to_string(Written()) + " of " + std::to_string(length_) +
           " bytes";
    return false;
  }
  if (Sink().Commit()) return true;
  *why = Why();
  return false;
}

}  // namespace tarvix::cli
