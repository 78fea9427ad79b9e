// SPDX-License-Identifier: GPL-3.0-or-later
#include "production/chip_data_checks.h"

namespace tarvix {

void ChipDataChecks::Begin(std::uint64_t length) {
  (void)stream_.Finish();  // whatever an earlier, unfinished transfer left
  sums_.reset();
  expected_length_ = length;
  collector_.reset();
  if (diff_ != nullptr) collector_.emplace(*diff_);
}

void ChipDataChecks::ChipData(std::uint64_t, std::span<const std::uint8_t> chip) {
  stream_.Update(chip);
}

void ChipDataChecks::Compared(std::uint64_t address, std::span<const std::uint8_t> expected,
                              std::span<const std::uint8_t> chip) {
  if (collector_) collector_->Compare(address, expected.data(), chip.data(), chip.size());
}

void ChipDataChecks::End(bool complete) {
  const Checksums sums = stream_.Finish();
  if (complete && sums.bytes == expected_length_) sums_ = sums;
  if (collector_) collector_->Finish();
}

}  // namespace tarvix
