// SPDX-License-Identifier: GPL-3.0-or-later
#include "production/checksum_worker.h"

#include <algorithm>
#include <cstring>

namespace tarvix {

ChecksumWorker::ChecksumWorker() {
  for (std::size_t i = 0; i < kBuffers; ++i) free_.push_back(std::make_unique<Buffer>(kBufferSize));
  thread_ = std::thread([this] { Run(); });
}

ChecksumWorker::~ChecksumWorker() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void ChecksumWorker::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stop_ || !ready_.empty(); });
    if (stop_) return;
    Filled next = std::move(ready_.front());
    ready_.pop_front();
    busy_ = true;
    lock.unlock();
    sums_.Update(std::span(next.buffer->data(), next.size));
    lock.lock();
    busy_ = false;
    free_.push_back(std::move(next.buffer));
    changed_.notify_all();
  }
}

void ChecksumWorker::Hand(std::unique_ptr<Buffer> buffer, std::size_t size) {
  {
    std::lock_guard lock(mutex_);
    ready_.push_back({std::move(buffer), size});
  }
  changed_.notify_all();
}

void ChecksumWorker::Update(std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    if (!current_) {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return !free_.empty(); });
      current_ = std::move(free_.back());
      free_.pop_back();
      current_size_ = 0;
    }
    const std::size_t n = std::min(bytes.size(), kBufferSize - current_size_);
    std::memcpy(current_->data() + current_size_, bytes.data(), n);
    current_size_ += n;
    bytes = bytes.subspan(n);
    if (current_size_ == kBufferSize) Hand(std::move(current_), current_size_);
  }
}

Checksums ChecksumWorker::Finish() {
  if (current_) {
    if (current_size_ > 0) {
      Hand(std::move(current_), current_size_);
    } else {
      std::lock_guard lock(mutex_);
      free_.push_back(std::move(current_));
    }
  }
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return ready_.empty() && !busy_; });
  return sums_.Finish();
}

}  // namespace tarvix
