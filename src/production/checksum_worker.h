// SPDX-License-Identifier: GPL-3.0-or-later
// StreamChecksums on a thread of its own: the data's producer (a read, a verify) only
// copies each piece into one of a few fixed buffers and goes on, while the sums are
// taken beside it. The hashes then cost the operation about a memory copy instead of
// their own time; memory stays at the few buffers whatever the stream's length.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "production/stream_checksums.h"

namespace tarvix {

class ChecksumWorker {
 public:
  static constexpr std::size_t kBufferSize = 256 * 1024;
  static constexpr std::size_t kBuffers = 4;

  ChecksumWorker();
  ~ChecksumWorker();
  ChecksumWorker(const ChecksumWorker&) = delete;
  ChecksumWorker& operator=(const ChecksumWorker&) = delete;

  // The next bytes of the stream; waits only while every buffer is still being summed.
  void Update(std::span<const std::uint8_t> bytes);
  // Waits for what is still pending and returns the sums of everything since the
  // start or the last Finish; the next Update starts a new stream.
  [[nodiscard]] Checksums Finish();

 private:
  using Buffer = std::vector<std::uint8_t>;
  struct Filled {
    std::unique_ptr<Buffer> buffer;
    std::size_t size = 0;
  };

  void Run();
  void Hand(std::unique_ptr<Buffer> buffer, std::size_t size);

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::unique_ptr<Buffer>> free_;
  std::deque<Filled> ready_;
  bool busy_ = false;  // the thread is summing a buffer
  bool stop_ = false;
  // The producer's side: the buffer being filled.
  std::unique_ptr<Buffer> current_;
  std::size_t current_size_ = 0;
  StreamChecksums sums_;  // the thread's, and Finish's once the thread is idle
  std::thread thread_;
};

}  // namespace tarvix
