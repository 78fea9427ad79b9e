// SPDX-License-Identifier: GPL-3.0-or-later
// The CRC-32 and SHA-256 of the loaded image. Taken in the load's own copy pass (the
// image buffer's tap), marked stale by an edit and summed again on a thread of their
// own, so a large image is never read again on the window thread just to be summed.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "buffer/byte_source.h"
#include "buffer/image_buffer.h"
#include "buffer/stream_copy.h"
#include "production/checksum_worker.h"
#include "production/stream_checksums.h"

namespace tarvix {

// The sums of all of `image`, read from its start; nothing when a read fails.
[[nodiscard]] std::optional<Checksums> SumsOf(const ByteSource& image);

class ImageChecksums final : public ImageTap {
 public:
  enum class State : std::uint8_t {
    kNone,     // no image
    kCurrent,  // the sums are the image's
    kStale,    // the image was edited; its sums are being taken again
  };
  struct Snapshot {
    State state = State::kNone;
    std::optional<Checksums> sums;  // while current
  };
  // The sums changed or went stale; called on any thread.
  using Listener = std::function<void()>;

  ImageChecksums();
  // Stops a summing under way and waits for its thread.
  ~ImageChecksums() override;
  ImageChecksums(const ImageChecksums&) = delete;
  ImageChecksums& operator=(const ImageChecksums&) = delete;

  void LoadBegin() override;
  void LoadBytes(std::span<const std::uint8_t> bytes) override;
  void LoadEnd(bool loaded, int working_fd) override;
  void Changing() override;
  void Closed() override;

  [[nodiscard]] Snapshot Current() const;
  // The sums of `image`, the loaded image: at once while current, else taken now on
  // the calling thread (the worker, while the image cannot be edited); nothing
  // without an image.
  [[nodiscard]] std::optional<Checksums> SumsFor(const ByteSource& image);
  void SetListener(Listener listener);

 private:
  void Run();
  void Notify();

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::atomic<std::uint64_t> generation_{0};  // raised by every load, edit and close
  State state_ = State::kNone;
  std::optional<Checksums> sums_;
  std::shared_ptr<UniqueFd> working_;  // the summing thread's own way to the image
  bool stop_ = false;
  std::optional<ChecksumWorker> load_stream_;  // the load's pass, while it runs
  Listener listener_;
  std::thread thread_;
};

}  // namespace tarvix
