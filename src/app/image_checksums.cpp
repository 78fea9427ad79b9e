// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/image_checksums.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace tarvix {
namespace {

constexpr std::size_t kScanChunk = 1 << 20;

}  // namespace

std::optional<Checksums> SumsOf(const ByteSource& image) {
  StreamChecksums stream;
  std::vector<std::uint8_t> chunk(kScanChunk);
  const std::uint64_t size = image.Size();
  for (std::uint64_t at = 0; at < size;) {
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(kScanChunk, size - at));
    const std::int64_t got = image.ReadAt(at, std::span(chunk.data(), want));
    if (got <= 0) return std::nullopt;
    stream.Update(std::span(chunk.data(), static_cast<std::size_t>(got)));
    at += static_cast<std::uint64_t>(got);
  }
  return stream.Finish();
}

ImageChecksums::ImageChecksums() : thread_([this] { Run(); }) {}

ImageChecksums::~ImageChecksums() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
    ++generation_;  // ends a summing under way at its next chunk
  }
  wake_.notify_all();
  thread_.join();
}

void ImageChecksums::SetListener(Listener listener) {
  std::lock_guard lock(mutex_);
  listener_ = std::move(listener);
}

void ImageChecksums::Notify() {
  Listener listener;
  {
    std::lock_guard lock(mutex_);
    listener = listener_;
  }
  if (listener) listener();
}

void ImageChecksums::LoadBegin() {
  {
    std::lock_guard lock(mutex_);
    ++generation_;
    state_ = State::kNone;
    sums_.reset();
    working_.reset();
  }
  load_stream_.emplace();
}

void ImageChecksums::LoadBytes(std::span<const std::uint8_t> bytes) {
  if (load_stream_) load_stream_->Update(bytes);
}

void ImageChecksums::LoadEnd(bool loaded, int working_fd) {
  std::optional<Checksums> sums;
  if (load_stream_) {
    sums = load_stream_->Finish();
    load_stream_.reset();
  }
  {
    std::lock_guard lock(mutex_);
    ++generation_;
    if (loaded && sums) {
      state_ = State::kCurrent;
      sums_ = sums;
      working_ = std::make_shared<UniqueFd>(::fcntl(working_fd, F_DUPFD_CLOEXEC, 0));
    } else {
      state_ = State::kNone;
      sums_.reset();
      working_.reset();
    }
  }
  Notify();
}

void ImageChecksums::Changing() {
  {
    std::lock_guard lock(mutex_);
    if (state_ == State::kNone) return;
    // Raised before the bytes change, so a summing that read any of them is thrown away.
    ++generation_;
    state_ = State::kStale;
    sums_.reset();
  }
  wake_.notify_all();
  Notify();
}

void ImageChecksums::Closed() {
  {
    std::lock_guard lock(mutex_);
    ++generation_;
    state_ = State::kNone;
    sums_.reset();
    working_.reset();
  }
  Notify();
}

ImageChecksums::Snapshot ImageChecksums::Current() const {
  std::lock_guard lock(mutex_);
  return {state_, sums_};
}

std::optional<Checksums> ImageChecksums::SumsFor(const ByteSource& image) {
  std::uint64_t generation = 0;
  {
    std::lock_guard lock(mutex_);
    if (state_ == State::kCurrent) return sums_;
    if (state_ == State::kNone) return std::nullopt;
    generation = generation_.load();
  }
  const std::optional<Checksums> sums = SumsOf(image);
  if (!sums) return std::nullopt;
  bool stored = false;
  {
    std::lock_guard lock(mutex_);
    if (generation_.load() == generation) {
      state_ = State::kCurrent;
      sums_ = sums;
      stored = true;
    }
  }
  if (stored) Notify();
  return sums;
}

void ImageChecksums::Run() {
  std::vector<std::uint8_t> chunk(kScanChunk);
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stop_ || (state_ == State::kStale && working_); });
    if (stop_) return;
    const std::uint64_t generation = generation_.load();
    const std::shared_ptr<UniqueFd> fd = working_;
    lock.unlock();

    // The working copy's length is the image's: the buffer keeps them equal.
    std::optional<Checksums> sums;
    struct stat st {};
    if (fd->Valid() && ::fstat(fd->Get(), &st) == 0) {
      StreamChecksums stream;
      const auto size = static_cast<std::uint64_t>(st.st_size);
      std::uint64_t at = 0;
      while (at < size && generation_.load() == generation) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(kScanChunk, size - at));
        const ssize_t got = ::pread(fd->Get(), chunk.data(), want, static_cast<off_t>(at));
        if (got <= 0) break;
        stream.Update(std::span(chunk.data(), static_cast<std::size_t>(got)));
        at += static_cast<std::uint64_t>(got);
      }
      if (at == size) sums = stream.Finish();
    }

    lock.lock();
    if (generation_.load() != generation) continue;  // edited meanwhile: again
    bool stored = false;
    if (sums) {
      state_ = State::kCurrent;
      sums_ = sums;
      stored = true;
    } else {
      // Unreadable: stays stale without spinning until the next change wakes it.
      working_.reset();
    }
    if (stored) {
      lock.unlock();
      Notify();
      lock.lock();
    }
  }
}

}  // namespace tarvix
