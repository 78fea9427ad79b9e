// SPDX-License-Identifier: GPL-3.0-or-later
#include "buffer/image_buffer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "buffer/byte_sum.h"

namespace tarvix {

namespace {

// Big enough that a 128 MiB load is a few hundred system calls, small enough to stay
// out of the image size's way.
constexpr std::size_t kTransferSize = 1 << 20;

std::int64_t PreadFull(int fd, std::uint8_t* out, std::size_t length, std::uint64_t offset) {
  std::size_t done = 0;
  while (done < length) {
    ssize_t n = ::pread(fd, out + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<std::int64_t>(done);
}

bool PwriteFull(int fd, const std::uint8_t* bytes, std::size_t length, std::uint64_t offset) {
  std::size_t done = 0;
  while (done < length) {
    ssize_t n = ::pwrite(fd, bytes + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::int64_t ReadFull(int fd, std::uint8_t* out, std::size_t length) {
  std::size_t done = 0;
  while (done < length) {
    ssize_t n = ::read(fd, out + done, length - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<std::int64_t>(done);
}

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// Resolves as far as the file system allows, so "./a/../k_est1.dll" and symlinks
// compare equal to the private paths.
std::filesystem::path Resolved(const std::filesystem::path& path) {
  std::error_code ec;
  auto absolute = std::filesystem::absolute(path, ec);
  if (ec) return path.lexically_normal();
  auto canonical = std::filesystem::weakly_canonical(absolute, ec);
  return ec ? absolute.lexically_normal() : canonical;
}

bool SamePath(const std::filesystem::path& a, const std::filesystem::path& b) {
  if (a.empty() || b.empty()) return false;
  std::error_code ec;
  if (std::filesystem::equivalent(a, b, ec) && !ec) return true;
  return Resolved(a) == Resolved(b);
}

}  // namespace

std::string FormatSum(std::uint64_t sum) {
  char text[32];
  std::snprintf(text, sizeof text, "%2X%8X", static_cast<unsigned>(sum >> 32),
                static_cast<unsigned>(sum & 0xFFFFFFFFu));
  std::string result = text;
  std::replace(result.begin(), result.end(), ' ', '0');
  return result;
}

std::string SizeText(std::uint64_t size) {
  char text[64];
  std::snprintf(text, sizeof text, "%0.2fKB", static_cast<double>(size) / 1024.0);
  return text;
}

ImageBuffer::ImageBuffer(MainState& state) : state_(state) {
  RecomputeRows();
}

ImageBuffer::~ImageBuffer() {
  CloseFd(source_fd_);
  CloseFd(working_fd_);
}

bool ImageBuffer::CurrentIsChipData() const {
  return SamePath(current_path_, state_.paths.chip_data);
}

bool ImageBuffer::IsSystemFile(const std::filesystem::path& path) const {
  return SamePath(path, state_.paths.chip_data) || SamePath(path, state_.paths.working_copy);
}

std::int64_t ImageBuffer::ReadWorking(std::uint64_t offset, std::span<std::uint8_t> out) const {
  if (working_fd_ < 0) return -1;
  return PreadFull(working_fd_, out.data(), out.size(), offset);
}

std::int64_t ImageBuffer::ReadSource(std::uint64_t offset, std::span<std::uint8_t> out) const {
  if (source_fd_ < 0) return -1;
  return PreadFull(source_fd_, out.data(), out.size(), offset);
}

std::int64_t ImageBuffer::SourceLength() const {
  struct stat st {};
  if (source_fd_ < 0 || ::fstat(source_fd_, &st) != 0) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

bool ImageBuffer::ReadChipSized(std::uint64_t offset, std::span<std::uint8_t> out) const {
  std::size_t inside = 0;
  if (offset < size_)
    inside = static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), size_ - offset));
  if (inside > 0) {
    std::int64_t n = ReadWorking(offset, out.first(inside));
    if (n < 0) return false;
    inside = static_cast<std::size_t>(n);
  }
  std::fill(out.begin() + static_cast<std::ptrdiff_t>(inside), out.end(), std::uint8_t{0xFF});
  return true;
}

ImageBuffer::Status ImageBuffer::Write(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
  return ReplaceRun(offset, bytes.size(), bytes.data(), 0);
}

ImageBuffer::Status ImageBuffer::Fill(std::uint64_t offset, std::uint64_t count,
                                      std::uint8_t value) {
  return ReplaceRun(offset, count, nullptr, value);
}

ImageBuffer::Status ImageBuffer::ExtendTo(std::uint64_t new_size) {
  if (new_size <= size_) return Loaded() ? Status::kOk : Status::kNotLoaded;
  return ReplaceRun(size_, new_size - size_, nullptr, 0xFF);
}

// The one place that changes bytes: old bytes are read before they are overwritten so
// both sums move by (new - old) without a rescan.
ImageBuffer::Status ImageBuffer::ReplaceRun(std::uint64_t offset, std::uint64_t count,
                                            const std::uint8_t* bytes, std::uint8_t fill_value) {
  if (!Loaded() || working_fd_ < 0) return Status::kNotLoaded;
  if (tap_ != nullptr) tap_->Changing();
  const std::uint64_t capacity = prefix_capacity_;
  // Sum of bytes [first, first + n) of `data` that lie below the chip capacity.
  auto below_capacity = [capacity](std::uint64_t first, const std::uint8_t* data, std::size_t n) {
    if (first >= capacity) return std::uint64_t{0};
    auto inside = static_cast<std::size_t>(std::min<std::uint64_t>(n, capacity - first));
    return ByteSum(data, inside);
  };

  const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(
      kTransferSize, std::max<std::uint64_t>(count, offset > size_ ? offset - size_ : 0)));
  std::unique_ptr<std::uint8_t[]> fresh(new std::uint8_t[std::max<std::size_t>(chunk, 1)]);
  std::unique_ptr<std::uint8_t[]> old(new std::uint8_t[std::max<std::size_t>(chunk, 1)]);
  Status status = Status::kOk;

  // Gap between the end of the image and the first written byte: blank bytes.
  if (offset > size_) {
    std::fill(fresh.get(), fresh.get() + chunk, std::uint8_t{0xFF});
    const std::uint64_t gap_start = size_;
    std::uint64_t at = size_;
    while (at < offset) {
      auto n = static_cast<std::size_t>(std::min<std::uint64_t>(chunk, offset - at));
      if (!PwriteFull(working_fd_, fresh.get(), n, at)) {
        status = Status::kWriteFailed;
        break;
      }
      file_sum_ += 0xFFull * n;
      prefix_sum_ += below_capacity(at, fresh.get(), n);
      at += n;
      size_ = at;
    }
    NoteChanged(gap_start, at);
  }

  std::uint64_t done = 0;
  while (status == Status::kOk && done < count) {
    const std::uint64_t at = offset + done;
    auto n = static_cast<std::size_t>(std::min<std::uint64_t>(chunk, count - done));
    const std::uint8_t* source = bytes ? bytes + done : fresh.get();
    if (!bytes) std::fill(fresh.get(), fresh.get() + n, fill_value);
    // Bytes that already exist are subtracted before they are replaced.
    std::size_t existing =
        at < size_ ? static_cast<std::size_t>(std::min<std::uint64_t>(n, size_ - at)) : 0;
    if (existing > 0) {
      std::int64_t got = PreadFull(working_fd_, old.get(), existing, at);
      if (got < 0) {
        status = Status::kReadFailed;
        break;
      }
      if (static_cast<std::size_t>(got) < existing)
        std::fill(old.get() + got, old.get() + existing, std::uint8_t{0});
    }
    if (!PwriteFull(working_fd_, source, n, at)) {
      status = Status::kWriteFailed;
      break;
    }
    if (existing > 0) {
      file_sum_ -= ByteSum(old.get(), existing);
      prefix_sum_ -= below_capacity(at, old.get(), existing);
    }
    file_sum_ += ByteSum(source, n);
    prefix_sum_ += below_capacity(at, source, n);
    size_ = std::max<std::uint64_t>(size_, at + n);
    NoteChanged(at, at + n);
    done += n;
  }

  if (status != Status::kOk) {
    // The file and the counters may disagree after a failed write: measure again.
    RescanSums();
  }
  RecomputeRows();
  if (prefix_capacity_ != Capacity()) {
    (void)RecomputeChipSum();
  } else {
    chip_sum_ = ChipSumFromPrefix();
  }
  Notify(Change::kContents);
  Notify(Change::kRows);
  Notify(Change::kFileSum);
  Notify(Change::kChipSum);
  return status;
}

std::uint64_t ImageBuffer::ChipSumFromPrefix() const {
  if (!Loaded()) return 0;
  const std::uint64_t capacity = prefix_capacity_;
  std::uint64_t sum = prefix_sum_;
  if (size_ < capacity) sum += (capacity - size_) * 0xFFull;
  return sum;
}

void ImageBuffer::RescanSums() {
  struct stat st {};
  if (working_fd_ >= 0 && ::fstat(working_fd_, &st) == 0)
    size_ = static_cast<std::uint64_t>(st.st_size);
  file_sum_ = 0;
  prefix_sum_ = 0;
  prefix_capacity_ = Capacity();
  std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[kTransferSize]);
  std::uint64_t at = 0;
  while (working_fd_ >= 0 && at < size_) {
    std::int64_t n = PreadFull(working_fd_, buffer.get(), kTransferSize, at);
    if (n <= 0) break;
    auto got = static_cast<std::size_t>(n);
    file_sum_ += ByteSum(buffer.get(), got);
    if (at < prefix_capacity_) {
      prefix_sum_ +=
          ByteSum(buffer.get(),
                  static_cast<std::size_t>(std::min<std::uint64_t>(got, prefix_capacity_ - at)));
    }
    at += got;
  }
  chip_sum_ = ChipSumFromPrefix();
}

void ImageBuffer::RecomputeRows() {
  row_count_ = (size_ + 15) / 16;
  chip_rows_ = Capacity() / 16;
  scroll_rows_ = std::max(row_count_, chip_rows_);
}

ImageBuffer::Status ImageBuffer::RecomputeChipSum() {
  const std::uint32_t capacity = Capacity();
  Status status = Status::kOk;
  if (size_ <= capacity) {
    prefix_sum_ = file_sum_;
  } else if (capacity != prefix_capacity_) {
    // Only an image longer than the chip needs its first `capacity` bytes read.
    std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[kTransferSize]);
    std::uint64_t sum = 0;
    std::uint64_t at = 0;
    while (at < capacity) {
      auto want = static_cast<std::size_t>(std::min<std::uint64_t>(kTransferSize, capacity - at));
      std::int64_t n = ReadWorking(at, std::span<std::uint8_t>(buffer.get(), want));
      if (n < 0) {
        status = Status::kReadFailed;
        break;
      }
      if (n == 0) break;
      sum += ByteSum(buffer.get(), static_cast<std::size_t>(n));
      at += static_cast<std::uint64_t>(n);
    }
    prefix_sum_ = sum;
  }
  prefix_capacity_ = capacity;
  chip_sum_ = ChipSumFromPrefix();
  return status;
}

void ImageBuffer::OnChipChanged() {
  RecomputeRows();
  (void)RecomputeChipSum();
  Notify(Change::kRows);
  Notify(Change::kChipSum);
}

void ImageBuffer::Close() {
  const bool was_loaded = Loaded() || source_fd_ >= 0 || working_fd_ >= 0;
  if (was_loaded && tap_ != nullptr) tap_->Closed();
  CloseFd(source_fd_);
  CloseFd(working_fd_);
  source_format_ = FileFormat::kBinary;
  state_.file_loaded = 0;
  size_ = 0;
  top_row_ = 0;
  file_sum_ = 0;
  prefix_sum_ = 0;
  chip_sum_ = 0;
  changed_.clear();
  stamp_ = {};
  RecomputeRows();
  if (was_loaded) {
    Notify(Change::kImage);
    Notify(Change::kRows);
  }
}

ImageBuffer::Status ImageBuffer::LoadFrom(const std::filesystem::path& source) {
  // Everything that can fail without harm is tried before the old image is given up.
  // Non-blocking so that a FIFO given as the image cannot hang the window.
  int source_fd = ::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (source_fd < 0) return Status::kSourceOpenFailed;
  struct stat st {};
  if (::fstat(source_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(source_fd);
    return Status::kSourceOpenFailed;
  }
  ::fcntl(source_fd, F_SETFL, ::fcntl(source_fd, F_GETFL) & ~O_NONBLOCK);
  return Copy(source, source_fd, FileFormat::kBinary);
}

ImageBuffer::Status ImageBuffer::LoadFrom(const std::filesystem::path& source, int decoded,
                                          FileFormat format) {
  if (decoded < 0) return Status::kSourceOpenFailed;
  // The decoded copy is read from its start, whoever wrote it last.
  if (::lseek(decoded, 0, SEEK_SET) != 0) {
    ::close(decoded);
    return Status::kSourceOpenFailed;
  }
  return Copy(source, decoded, format);
}

ImageBuffer::Status ImageBuffer::Copy(const std::filesystem::path& source, int source_fd,
                                      FileFormat format) {
  struct stat st {};
  int working_fd =
      ::open(state_.paths.working_copy.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (working_fd < 0) {
    ::close(source_fd);
    return Status::kWorkingOpenFailed;
  }
  Close();
  if (tap_ != nullptr) tap_->LoadBegin();
  ::posix_fadvise(source_fd, 0, 0, POSIX_FADV_SEQUENTIAL);

  const std::uint64_t capacity = Capacity();
  std::uint64_t file_sum = 0;
  std::uint64_t prefix_sum = 0;
  std::uint64_t copied = 0;
  Status status = Status::kOk;
  std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[kTransferSize]);
  for (;;) {
    std::int64_t n = ReadFull(source_fd, buffer.get(), kTransferSize);
    if (n < 0) {
      status = Status::kReadFailed;
      break;
    }
    if (n == 0) break;
    auto got = static_cast<std::size_t>(n);
    if (tap_ != nullptr) tap_->LoadBytes(std::span<const std::uint8_t>(buffer.get(), got));
    const std::uint64_t chunk_sum = ByteSum(buffer.get(), got);
    file_sum += chunk_sum;
    if (copied + got <= capacity) {
      prefix_sum += chunk_sum;
    } else if (copied < capacity) {
      prefix_sum += ByteSum(buffer.get(), static_cast<std::size_t>(capacity - copied));
    }
    // A chunk whose sum is 0 holds only zeros: leave a hole instead of writing it, so
    // zero-filled images stay sparse (the length is set after the loop).
    if (chunk_sum != 0 && !PwriteFull(working_fd, buffer.get(), got, copied)) {
      status = Status::kWriteFailed;
      break;
    }
    copied += got;
    if (got < kTransferSize) break;
  }
  if (status == Status::kOk && ::ftruncate(working_fd, static_cast<off_t>(copied)) != 0) {
    status = Status::kWriteFailed;
  }
  if (status == Status::kOk && ::fstat(working_fd, &st) != 0) status = Status::kWorkingOpenFailed;
  if (status != Status::kOk) {
    ::close(source_fd);
    ::close(working_fd);
    if (tap_ != nullptr) tap_->LoadEnd(false, -1);
    return status;
  }

  source_format_ = format;
  source_fd_ = source_fd;
  working_fd_ = working_fd;
  current_path_ = source;
  size_ = static_cast<std::uint64_t>(st.st_size);
  file_sum_ = file_sum;
  prefix_sum_ = prefix_sum;
  prefix_capacity_ = static_cast<std::uint32_t>(capacity);
  size_text_ = SizeText(size_);
  top_row_ = 0;
  changed_.clear();
  SnapshotSource();
  state_.file_loaded = 1;
  RecomputeRows();
  chip_sum_ = ChipSumFromPrefix();
  if (tap_ != nullptr) tap_->LoadEnd(true, working_fd_);
  Notify(Change::kImage);
  Notify(Change::kRows);
  Notify(Change::kFileSum);
  Notify(Change::kChipSum);
  return Status::kOk;
}

void ImageBuffer::SetWindowTitle(std::string title) {
  title_ = std::move(title);
  Notify(Change::kTitle);
}

void ImageBuffer::SetPathBoxText(std::string text) {
  state_.file_path_text = std::move(text);
  Notify(Change::kPathBox);
}

void ImageBuffer::SetSizeText(std::string text) {
  size_text_ = std::move(text);
}

void ImageBuffer::NoteChanged(std::uint64_t first, std::uint64_t last) {
  if (first >= last) return;
  // Merge with every range that overlaps or touches [first, last).
  auto it = changed_.upper_bound(first);
  if (it != changed_.begin()) {
    auto before = std::prev(it);
    if (before->second >= first) it = before;
  }
  while (it != changed_.end() && it->first <= last) {
    first = std::min(first, it->first);
    last = std::max(last, it->second);
    it = changed_.erase(it);
  }
  changed_.emplace(first, last);
}

void ImageBuffer::SnapshotSource() {
  stamp_ = {};
  struct stat st {};
  if (current_path_.empty() || ::stat(current_path_.c_str(), &st) != 0) return;
  stamp_.device = static_cast<std::uint64_t>(st.st_dev);
  stamp_.inode = static_cast<std::uint64_t>(st.st_ino);
  stamp_.size = static_cast<std::uint64_t>(st.st_size);
  stamp_.mtime_ns = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  stamp_.valid = true;
}

bool ImageBuffer::SourceChangedOnDisk() const {
  if (!stamp_.valid) return true;
  struct stat st {};
  if (::stat(current_path_.c_str(), &st) != 0) return true;
  const std::int64_t mtime_ns =
      static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return stamp_.device != static_cast<std::uint64_t>(st.st_dev) ||
         stamp_.inode != static_cast<std::uint64_t>(st.st_ino) ||
         stamp_.size != static_cast<std::uint64_t>(st.st_size) || stamp_.mtime_ns != mtime_ns;
}

void ImageBuffer::MarkSaved() {
  changed_.clear();
  SnapshotSource();
}

int ImageBuffer::OpenSourceForWriting() const {
  if (SourceIsDecoded()) return source_fd_ >= 0 ? ::fcntl(source_fd_, F_DUPFD_CLOEXEC, 0) : -1;
  if (current_path_.empty()) return -1;
  int fd = ::open(current_path_.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

ImageBuffer::Status ImageBuffer::AdoptSource(const std::filesystem::path& path) {
  // A decoded load file keeps its decoded copy, which Save has brought up to date.
  if (SourceIsDecoded() && SamePath(path, current_path_)) {
    SnapshotSource();
    return Status::kOk;
  }
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return Status::kSourceOpenFailed;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return Status::kSourceOpenFailed;
  }
  CloseFd(source_fd_);
  source_fd_ = fd;
  source_format_ = FileFormat::kBinary;
  current_path_ = path;
  SnapshotSource();
  return Status::kOk;
}

void ImageBuffer::Notify(Change change) {
  for (const auto& listener : listeners_) listener(change);
}

}  // namespace tarvix
