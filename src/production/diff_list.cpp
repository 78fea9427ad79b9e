// SPDX-License-Identifier: GPL-3.0-or-later
#include "production/diff_list.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace tarvix {
namespace {

// address, length (8 bytes each, little-endian), then the kept file and chip bytes.
constexpr std::size_t kRecordSize = 16 + 2 * kDiffBytesKept;
constexpr std::size_t kPendingRecords = 4096;

void Put64(std::uint8_t* at, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint64_t Get64(const std::uint8_t* at) {
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | at[i];
  return value;
}

void Encode(const DiffRange& range, std::uint8_t* out) {
  Put64(out, range.address);
  Put64(out + 8, range.length);
  std::memcpy(out + 16, range.file.data(), kDiffBytesKept);
  std::memcpy(out + 16 + kDiffBytesKept, range.chip.data(), kDiffBytesKept);
}

DiffRange Decode(const std::uint8_t* in) {
  DiffRange range;
  range.address = Get64(in);
  range.length = Get64(in + 8);
  std::memcpy(range.file.data(), in + 16, kDiffBytesKept);
  std::memcpy(range.chip.data(), in + 16 + kDiffBytesKept, kDiffBytesKept);
  return range;
}

std::string HexList(std::span<const std::uint8_t> bytes, bool more) {
  std::string text;
  char two[4];
  for (const std::uint8_t b : bytes) {
    std::snprintf(two, sizeof two, " %02X", b);
    text += two;
  }
  return more ? text + " ..." : text;
}

}  // namespace

void DiffCollector::Compare(std::uint64_t address, const std::uint8_t* file,
                            const std::uint8_t* chip, std::size_t size) {
  if (std::memcmp(file, chip, size) == 0) {
    if (open_) Close();
    return;
  }
  std::size_t i = 0;
  while (i < size) {
    const auto at =
        static_cast<std::size_t>(std::mismatch(file + i, file + size, chip + i).first - file);
    // Equal bytes, or the start of a block that does not go on from the open range,
    // end that range.
    if (open_ && (at > i || open_->address + open_->length != address + at)) Close();
    if (at == size) return;
    std::size_t end = at + 1;
    while (end < size && file[end] != chip[end]) ++end;
    if (!open_) {
      open_.emplace();
      open_->address = address + at;
    }
    for (std::size_t k = at; k < end && open_->length < kDiffBytesKept; ++k) {
      const auto slot = static_cast<std::size_t>(open_->length);
      open_->file[slot] = file[k];
      open_->chip[slot] = chip[k];
      ++open_->length;
    }
    // The bytes past the kept ones only lengthen the range.
    open_->length = address + end - open_->address;
    differing_ += end - at;
    i = end;
  }
}

void DiffCollector::Finish() {
  if (open_) Close();
}

void DiffCollector::Close() {
  ++ranges_;
  if (sink_ok_) sink_ok_ = sink_.Add(*open_);
  open_.reset();
}

bool DiffList::Add(const DiffRange& range) {
  if (kept_.size() < limit_) {
    kept_.push_back(range);
  } else {
    ++more_ranges_;
    more_bytes_ += range.length;
  }
  return true;
}

DiffFile::DiffFile(std::uint64_t limit) : limit_(limit) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path();
  fd_ = UniqueFd(::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
  if (!fd_.Valid()) {
    std::string name = (folder / "tarvix-diff-XXXXXX").string();
    fd_ = UniqueFd(::mkostemp(name.data(), O_CLOEXEC));
    if (fd_.Valid()) ::unlink(name.c_str());
  }
  pending_.reserve(kPendingRecords * kRecordSize);
}

bool DiffFile::Add(const DiffRange& range) {
  if (!fd_.Valid()) return false;
  if (count_ >= limit_) {
    ++more_ranges_;
    more_bytes_ += range.length;
    return true;
  }
  const std::size_t at = pending_.size();
  pending_.resize(at + kRecordSize);
  Encode(range, pending_.data() + at);
  ++count_;
  return pending_.size() < kPendingRecords * kRecordSize || Flush();
}

bool DiffFile::Flush() {
  if (pending_.empty()) return true;
  const bool ok = WriteAt(fd_.Get(), pending_, written_ * kRecordSize);
  if (ok) written_ += pending_.size() / kRecordSize;
  pending_.clear();
  return ok;
}

std::optional<DiffRange> DiffFile::At(std::uint64_t index) {
  if (index >= count_) return std::nullopt;
  if (index >= written_) {
    const std::size_t at = static_cast<std::size_t>(index - written_) * kRecordSize;
    return Decode(pending_.data() + at);
  }
  std::array<std::uint8_t, kRecordSize> record{};
  if (ReadAt(fd_.Get(), record, index * kRecordSize) != static_cast<std::int64_t>(kRecordSize))
    return std::nullopt;
  return Decode(record.data());
}

std::uint64_t DiffFile::FirstAtOrAfter(std::uint64_t address) {
  std::uint64_t low = 0;
  std::uint64_t high = count_;
  while (low < high) {
    const std::uint64_t middle = low + (high - low) / 2;
    const std::optional<DiffRange> range = At(middle);
    if (!range) return count_;
    if (range->address + range->length <= address) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return low;
}

std::string DiffRangeText(const DiffRange& range) {
  char head[48];
  std::snprintf(head, sizeof head, "%08llXH %llu", static_cast<unsigned long long>(range.address),
                static_cast<unsigned long long>(range.length));
  const bool more = range.length > kDiffBytesKept;
  const std::size_t kept = range.Kept();
  return std::string(head) + " file:" + HexList(std::span(range.file.data(), kept), more) +
         " chip:" + HexList(std::span(range.chip.data(), kept), more);
}

}  // namespace tarvix
