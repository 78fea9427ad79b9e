// SPDX-License-Identifier: GPL-3.0-or-later
// Ctrl-C for the commands that talk to the programmer. The signal handler only counts
// and writes a byte into a pipe; a watcher thread does the work outside the handler:
// the first Ctrl-C asks the running operation to stop at its next block, the second
// leaves at once.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace tarvix::cli {

// Exit status of a command the user interrupted (128 + SIGINT, as shells report it).
inline constexpr int kExitInterrupted = 130;

class InterruptWatch {
 public:
  using Action = std::function<void()>;

  // `stop` runs on the watcher thread at the first Ctrl-C and again every 10 ms while
  // the watch lasts (an operation clears its own stop request when it starts, so a
  // single raise could be lost between two operations). `leave` runs at the second
  // Ctrl-C; the process then ends with kExitInterrupted.
  InterruptWatch(Action stop, Action leave);
  // Puts the previous handling of SIGINT back and ends the watcher.
  ~InterruptWatch();
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

  // True from the first Ctrl-C on (set in the handler itself, so at once).
  [[nodiscard]] bool Interrupted() const;

 private:
  void Watch();

  Action stop_;
  Action leave_;
  int pipe_[2] = {-1, -1};
  std::thread thread_;
  bool installed_ = false;
};

}  // namespace tarvix::cli
