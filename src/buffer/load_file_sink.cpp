// SPDX-License-Identifier: GPL-3.0-or-later
#include "buffer/load_file_sink.h"

#include <cstring>

namespace tarvix {

LoadFileSink::LoadFileSink(const std::filesystem::path& target, FileFormatChoice choice,
                           bool durable)
    : file_(target, durable), choice_(choice) {}

std::string LoadFileSink::Why() const {
  if (!error_.empty()) return error_;
  if (file_.Error() != 0) return std::strerror(file_.Error());
  return {};
}

bool LoadFileSink::Begin(std::uint64_t length) {
  written_ = 0;
  error_.clear();
  encoder_.reset();
  if (!file_.Valid()) return false;
  encoder_.emplace(file_.Fd(), choice_, length);
  if (encoder_->Valid()) return true;
  error_ = encoder_->Error();
  return false;
}

bool LoadFileSink::Append(std::span<const std::uint8_t> bytes) {
  if (!encoder_ || !encoder_->Append(bytes)) {
    if (encoder_) error_ = encoder_->Error();
    return false;
  }
  written_ += bytes.size();
  return true;
}

bool LoadFileSink::Commit() {
  if (!encoder_ || !encoder_->Finish()) {
    if (encoder_) error_ = encoder_->Error();
    file_.Abandon();
    return false;
  }
  return file_.Commit();
}

void LoadFileSink::Abandon() {
  file_.Abandon();
}

}  // namespace tarvix
