// SPDX-License-Identifier: GPL-3.0-or-later
// What production watches on a read or a verify: the CRC-32 and SHA-256 of the chip's
// data as it arrives, and for a verify the difference list, both in the operation's
// own pass over the data.
#pragma once

#include <cstdint>
#include <optional>

#include "operations/chip_data_tap.h"
#include "production/checksum_worker.h"
#include "production/diff_list.h"
#include "production/stream_checksums.h"

namespace tarvix {

class ChipDataChecks final : public ChipDataTap {
 public:
  // `diff` receives the ranges of a verify (a DiffList or a DiffFile); none, no list.
  explicit ChipDataChecks(DiffSink* diff = nullptr) : diff_(diff) {}

  void Begin(std::uint64_t length) override;
  void ChipData(std::uint64_t address, std::span<const std::uint8_t> chip) override;
  void Compared(std::uint64_t address, std::span<const std::uint8_t> expected,
                std::span<const std::uint8_t> chip) override;
  void End(bool complete) override;

  // The sums of the last transfer that ran to its end; nothing after a stopped or
  // failed one (part of a chip is never passed off as the chip).
  [[nodiscard]] const std::optional<Checksums>& ChipSums() const { return sums_; }
  // The verify's differences so far (the sink holds the ranges themselves).
  [[nodiscard]] std::uint64_t DiffRanges() const { return collector_ ? collector_->Ranges() : 0; }
  [[nodiscard]] std::uint64_t DifferingBytes() const {
    return collector_ ? collector_->DifferingBytes() : 0;
  }

 private:
  DiffSink* diff_;
  ChecksumWorker stream_;  // the sums are taken beside the operation, not in its way
  std::optional<Checksums> sums_;
  std::optional<DiffCollector> collector_;
  std::uint64_t expected_length_ = 0;
};

}  // namespace tarvix
