// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/interrupt_watch.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace tarvix::cli {
namespace {

constexpr int kRestopMs = 10;
constexpr char kSignalByte = 'i';
constexpr char kQuitByte = 'q';

// Shared with the handler: lock-free atomics and a descriptor, nothing else.
std::atomic<int> g_presses{0};
std::atomic<int> g_pipe_write{-1};
struct sigaction g_previous {};

extern "C" void OnInterrupt(int) {
  const int saved = errno;
  g_presses.fetch_add(1);
  const int fd = g_pipe_write.load();
  if (fd >= 0) {
    const char byte = kSignalByte;
    (void)!::write(fd, &byte, 1);
  }
  errno = saved;
}

}  // namespace

InterruptWatch::InterruptWatch(Action stop, Action leave)
    : stop_(std::move(stop)), leave_(std::move(leave)) {
  if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) return;
  g_presses.store(0);
  g_pipe_write.store(pipe_[1]);

  // The watcher must never take the signal itself: the main thread should, so that a
  // prompt waiting for an answer returns.
  sigset_t block, old;
  sigemptyset(&block);
  sigaddset(&block, SIGINT);
  pthread_sigmask(SIG_BLOCK, &block, &old);
  thread_ = std::thread([this] { Watch(); });
  pthread_sigmask(SIG_SETMASK, &old, nullptr);

  // A SIGINT the caller chose to ignore (a job started in the background) stays ignored.
  if (::sigaction(SIGINT, nullptr, &g_previous) != 0 || g_previous.sa_handler == SIG_IGN) return;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a blocking read at a prompt returns
  installed_ = ::sigaction(SIGINT, &action, nullptr) == 0;
}

InterruptWatch::~InterruptWatch() {
  if (installed_) ::sigaction(SIGINT, &g_previous, nullptr);
  if (thread_.joinable()) {
    const char byte = kQuitByte;
    (void)!::write(pipe_[1], &byte, 1);
    thread_.join();
  }
  g_pipe_write.store(-1);
  for (int& fd : pipe_) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
}

bool InterruptWatch::Interrupted() const {
  return g_presses.load() > 0;
}

void InterruptWatch::Watch() {
  int seen = 0;
  for (;;) {
    pollfd p{pipe_[0], POLLIN, 0};
    const int ready = ::poll(&p, 1, seen > 0 ? kRestopMs : -1);
    if (ready < 0 && errno != EINTR) return;
    char bytes[16];
    ssize_t n;
    bool quit = false;
    while ((n = ::read(pipe_[0], bytes, sizeof bytes)) > 0) {
      for (ssize_t i = 0; i < n; ++i) {
        if (bytes[i] == kQuitByte)
          quit = true;
        else
          ++seen;
      }
    }
    if (quit) return;
    if (seen >= 2) {
      if (leave_) leave_();
      ::_exit(kExitInterrupted);
    }
    if (seen == 1 && stop_) stop_();
  }
}

}  // namespace tarvix::cli
