// SPDX-License-Identifier: GPL-3.0-or-later
// A network exchange run on a thread of its own so the window never freezes: the
// view starts it, watches its step text, may cancel it, and takes the result when it
// is done. The whole exchange is bounded by a time-out.
//
// How a dialog drives one (UpdateCheck for "Version", FeedbackSend for "Feedback"):
//   job.SetNotify([this] { post to the window thread: Refresh(); });  // or poll a timer
//   job.Start(...);            // returns at once; false while an earlier run goes on
//   Refresh():  if (job.Running()) show job.Progress().step as "working";
//               else if (auto r = job.Result()) show it and enable the buttons again:
//                 UpdateCheckResult: r->cancelled: nothing; r->ok: the five lines of
//                   r->lines.InOrder() and r->link_url behind "Click for upgrade:";
//                   else the boxes r->boxes in order.
//                 FeedbackResult: r->cancelled: nothing; else the box r->box (text,
//                   title, icon); r->sent tells the two apart, r->error_code the step.
//   Cancel button / closing:   job.Cancel() (the run ends at its next wait, within
//               about a second, with `cancelled` set); the destructor cancels and joins.
// Notify runs on the job's thread: it must only post, never touch widgets or Start().
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace tarvix {

// What an exchange shows while it works.
struct NetProgress {
  std::string step;  // "connecting to ...", "AUTH LOGIN", ...
  bool running = false;
};

// Handed to the exchange code: when to give up, and where to report its steps.
class ExchangeControl {
 public:
  using StepSink = std::function<void(std::string_view step)>;

  // `cancel` may be null (nobody can cancel); `sink` may be empty.
  ExchangeControl(std::chrono::milliseconds timeout, const std::atomic<bool>* cancel = nullptr,
                  StepSink sink = {});

  [[nodiscard]] bool Cancelled() const { return cancel_ != nullptr && cancel_->load(); }
  [[nodiscard]] bool Expired() const { return std::chrono::steady_clock::now() >= deadline_; }
  // Cancelled or out of time: the exchange must stop.
  [[nodiscard]] bool ShouldStop() const { return Cancelled() || Expired(); }
  // Time left, never negative.
  [[nodiscard]] std::chrono::milliseconds Remaining() const;
  // How long one wait may block so a cancel is seen quickly (at most 50 ms).
  [[nodiscard]] int WaitSliceMs() const;

  void Step(std::string_view step);

 private:
  std::chrono::steady_clock::time_point deadline_;
  const std::atomic<bool>* cancel_;
  StepSink sink_;
};

// Runs one exchange at a time on its own thread; results of type R.
template <typename R>
class NetJob {
 public:
  using Body = std::function<R(ExchangeControl&)>;
  // Called on the job's thread after each step and once more when the result is in
  // (that last call may come just after Wait() returned; the destructor waits for
  // it). A window forwards it to its own thread. Never start a job from it.
  using Notify = std::function<void()>;

  NetJob() = default;
  // Cancels a running exchange and waits for it.
  ~NetJob() {
    Cancel();
    Join();
  }
  NetJob(const NetJob&) = delete;
  NetJob& operator=(const NetJob&) = delete;

  void SetNotify(Notify notify) {
    std::lock_guard lock(mutex_);
    notify_ = std::move(notify);
  }

  // Starts `body`; false (nothing started) while an earlier exchange still runs.
  bool Launch(Body body, std::chrono::milliseconds timeout) {
    {
      std::lock_guard lock(mutex_);
      if (progress_.running) return false;
      progress_ = NetProgress{"", true};
      result_.reset();
    }
    Join();
    cancel_ = false;
    thread_ = std::thread([this, body = std::move(body), timeout] {
      ExchangeControl control(timeout, &cancel_, [this](std::string_view step) {
        {
          std::lock_guard lock(mutex_);
          progress_.step = step;
        }
        Tell();
      });
      R result = body(control);
      {
        std::lock_guard lock(mutex_);
        result_ = std::move(result);
        progress_.running = false;
      }
      done_.notify_all();
      Tell();
    });
    return true;
  }

  // Sets a result at once, without a thread (a request refused before anything is sent).
  void Finish(R result) {
    {
      std::lock_guard lock(mutex_);
      if (progress_.running) return;
      result_ = std::move(result);
    }
    done_.notify_all();
    Tell();
  }

  // Asks the running exchange to stop; it ends at its next wait.
  void Cancel() { cancel_ = true; }

  [[nodiscard]] bool Running() const {
    std::lock_guard lock(mutex_);
    return progress_.running;
  }
  [[nodiscard]] NetProgress Progress() const {
    std::lock_guard lock(mutex_);
    return progress_;
  }
  // The result of the last exchange, once it has ended.
  [[nodiscard]] std::optional<R> Result() const {
    std::lock_guard lock(mutex_);
    return result_;
  }
  // Waits until no exchange runs; false on time-out.
  [[nodiscard]] bool Wait(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return done_.wait_for(lock, timeout, [this] { return !progress_.running; });
  }

 private:
  void Tell() {
    Notify notify;
    {
      std::lock_guard lock(mutex_);
      notify = notify_;
    }
    if (notify) notify();
  }
  void Join() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
  }

  mutable std::mutex mutex_;
  std::condition_variable done_;
  NetProgress progress_;
  std::optional<R> result_;
  Notify notify_;
  std::atomic<bool> cancel_{false};
  std::thread thread_;
};

}  // namespace tarvix
