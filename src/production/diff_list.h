// SPDX-License-Identifier: GPL-3.0-or-later
// The difference list of a verify: every range where the chip differs from what it
// should hold, with its address, its length and the bytes on both sides. Verify's
// compare feeds a DiffCollector block by block; the collector hands each finished
// range to a sink. Memory stays flat however much differs: the list keeps the first
// ranges and counts the rest, the file keeps them all on disk.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "buffer/stream_copy.h"

namespace tarvix {

// Bytes of each side a range keeps: its first ones (the rest are in the image and on
// the chip).
inline constexpr std::size_t kDiffBytesKept = 16;

struct DiffRange {
  std::uint64_t address = 0;
  std::uint64_t length = 0;
  std::array<std::uint8_t, kDiffBytesKept> file{};  // first min(length, 16) bytes
  std::array<std::uint8_t, kDiffBytesKept> chip{};
  [[nodiscard]] std::size_t Kept() const {
    return static_cast<std::size_t>(std::min<std::uint64_t>(length, kDiffBytesKept));
  }
  friend bool operator==(const DiffRange&, const DiffRange&) = default;
};

class DiffSink {
 public:
  virtual ~DiffSink() = default;
  // One finished range, in address order. False when it could not be kept (a full
  // disk); the collector then stops feeding it.
  [[nodiscard]] virtual bool Add(const DiffRange& range) = 0;
};

class DiffCollector {
 public:
  explicit DiffCollector(DiffSink& sink) : sink_(sink) {}

  // `size` bytes at `address` as they should be (`file`) and as the chip holds them.
  // Blocks come in address order; a range may run on across blocks.
  void Compare(std::uint64_t address, const std::uint8_t* file, const std::uint8_t* chip,
               std::size_t size);
  // Ends the open range; the list is then complete.
  void Finish();

  [[nodiscard]] std::uint64_t Ranges() const { return ranges_; }
  [[nodiscard]] std::uint64_t DifferingBytes() const { return differing_; }
  // False once the sink refused a range.
  [[nodiscard]] bool SinkOk() const { return sink_ok_; }

 private:
  void Close();

  DiffSink& sink_;
  std::optional<DiffRange> open_;
  std::uint64_t ranges_ = 0;
  std::uint64_t differing_ = 0;
  bool sink_ok_ = true;
};

// The first `limit` ranges in memory, and a count of the others.
class DiffList final : public DiffSink {
 public:
  explicit DiffList(std::size_t limit) : limit_(limit) {}
  bool Add(const DiffRange& range) override;

  [[nodiscard]] const std::vector<DiffRange>& Ranges() const { return kept_; }
  // Ranges beyond the limit, and the bytes they cover.
  [[nodiscard]] std::uint64_t MoreRanges() const { return more_ranges_; }
  [[nodiscard]] std::uint64_t MoreBytes() const { return more_bytes_; }

 private:
  std::size_t limit_;
  std::vector<DiffRange> kept_;
  std::uint64_t more_ranges_ = 0;
  std::uint64_t more_bytes_ = 0;
};

// Ranges as fixed-size records (48 bytes) in a file that vanishes when closed, read
// back by index (a dialog shows a page of them at a time). Up to `limit` ranges, so a
// chip on which every other byte differs cannot fill the disk; the rest are counted.
class DiffFile final : public DiffSink {
 public:
  static constexpr std::uint64_t kDefaultLimit = 1u << 20;

  // In the system's temporary folder.
  explicit DiffFile(std::uint64_t limit = kDefaultLimit);
  bool Add(const DiffRange& range) override;

  [[nodiscard]] bool Valid() const { return fd_.Valid(); }
  [[nodiscard]] std::uint64_t Count() const { return count_; }
  // Ranges beyond the limit, and the bytes they cover.
  [[nodiscard]] std::uint64_t MoreRanges() const { return more_ranges_; }
  [[nodiscard]] std::uint64_t MoreBytes() const { return more_bytes_; }
  // The range at `index` (below Count()); nothing when it cannot be read.
  [[nodiscard]] std::optional<DiffRange> At(std::uint64_t index);
  // The index of the first range ending past `address` (Count() when none): where a
  // dialog starts to show the ranges near an address.
  [[nodiscard]] std::uint64_t FirstAtOrAfter(std::uint64_t address);

 private:
  [[nodiscard]] bool Flush();

  UniqueFd fd_;
  std::uint64_t limit_;
  std::vector<std::uint8_t> pending_;
  std::uint64_t count_ = 0;
  std::uint64_t more_ranges_ = 0;
  std::uint64_t more_bytes_ = 0;
  std::uint64_t written_ = 0;  // records on disk
};

// "0000A000H 16 file: 00 01 .. chip: FF FF ..": the bytes kept, "..." when the range is
// longer.
[[nodiscard]] std::string DiffRangeText(const DiffRange& range);

}  // namespace tarvix
