// SPDX-License-Identifier: GPL-3.0-or-later
// The operation worker: one thread that runs one WorkerCommand at a time, does the
// fixed after-run steps (device-change re-run rule, the programmer's end-of-run
// command, bulk continuation) and then waits, idle with code 255, until the window
// thread hands it the next command. It also holds the two entry points that reach it
// from outside an operation: the device-change notice and the exit request.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

#include "state/main_state.h"

namespace tarvix {

// Worker command codes. Where an operation has a programmer command, the code is the
// command code sent in the packet.
namespace worker_command {
inline constexpr WorkerCommand kWrite = 1;
inline constexpr WorkerCommand kErase = 5;
inline constexpr WorkerCommand kRecognition = 7;
inline constexpr WorkerCommand kVerify = 8;
inline constexpr WorkerCommand kRead = 13;
inline constexpr WorkerCommand kAuto = 14;
inline constexpr WorkerCommand kBlankCheck = 15;
inline constexpr WorkerCommand kFirmwareVersion = 18;
inline constexpr WorkerCommand kViewData = 17;
inline constexpr WorkerCommand kChipFill = 19;
inline constexpr WorkerCommand kFirmwareUpgrade = 21;
inline constexpr WorkerCommand kChipTest = 23;
inline constexpr WorkerCommand kFind = 24;
inline constexpr WorkerCommand kIdle = kCommandIdle;
}  // namespace worker_command

// What the worker hands the routine of a command.
enum class WorkerArgument : std::uint8_t {
  kNone,
  kPreCheck,  // the pre-check flag, set (the operation checks the chip and asks first)
  kFlag,      // recognition and test take a flag, set
};

struct WorkerCommandInfo {
  WorkerCommand code;
  std::string_view operation;
  WorkerArgument argument;
};

// Every code that runs an operation; any other code runs nothing but the after-run
// steps still follow.
[[nodiscard]] const std::vector<WorkerCommandInfo>& WorkerCommandTable();

// Programmer time-outs of the end-of-run command 9.
inline constexpr int kEndOfRunTimeoutMs = 1000;
inline constexpr int kCloseEndTimeoutMs = 100;

// After-run step A: with `count` device-change notices counted when a run ends, true
// when the same command code must run again at once. Notices arrive in bursts of 16
// per change on some hosts; whole bursts beyond the first 48 do not count.
[[nodiscard]] bool DeviceChangesNeedRerun(std::int32_t count);

// How the bulk-mode wait for the next chip ended.
enum class BulkWaitResult : std::uint8_t { kNewChip, kStopped };

class Worker {
 public:
  using Operation = std::function<void()>;

  // What the after-run steps need from the link and from bulk mode. Empty hooks are
  // treated as "link closed" and "bulk mode stopped".
  struct Hooks {
    std::function<bool()> link_open;
    std::function<void(int timeout_ms)> send_end_of_run;  // programmer command 9
    std::function<BulkWaitResult()> bulk_wait;
  };

  Worker(MainState& state, Hooks hooks);
  // Asks a running loop to end and waits for it (the operations it runs poll their
  // own stop requests; the program asks them to stop before it gets here).
  ~Worker();
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  // The routine of a command code; set them before the worker starts.
  void SetOperation(WorkerCommand code, Operation operation);
  void SetHooks(Hooks hooks);

  // Starts the thread; it runs the current command code at once.
  void Start();
  // Runs the loop on the calling thread instead, until it would wait idle (or the exit
  // request ends it). The command-line tool uses this; never together with Start().
  void RunUntilIdle();

  // Wakes an idle worker; has no effect on one that is running.
  void Resume();
  // The hand-over: sets the command code, then resumes.
  void Give(WorkerCommand code);
  // The device-change notice: count it, ask for a recognition, resume.
  void DeviceChangeNotice();
  // Exit request := 1, then resume, so an idle worker ends.
  void RequestExit();
  // Exit request, then waits for the thread to end (the running operation finishes
  // first). Nothing to wait for without a thread.
  void Stop();

  // Waits until the worker has taken every resume given so far and is idle again (or
  // has ended). False on time-out. For the command-line tool and the tests.
  [[nodiscard]] bool WaitForIdle(std::chrono::milliseconds timeout);
  [[nodiscard]] bool Idle() const;
  [[nodiscard]] bool Ended() const { return ended_.load(); }
  // Operations run so far (each pass of step 2 with a known code counts once).
  [[nodiscard]] std::uint64_t Runs() const { return runs_.load(); }

 private:
  void Loop(bool synchronous);
  void RunCommand(WorkerCommand code);

  MainState& state_;
  Hooks hooks_;
  std::array<Operation, 256> operations_;

  mutable std::mutex mutex_;
  std::condition_variable resume_cv_;
  std::condition_variable idle_cv_;
  std::uint64_t resume_generation_ = 0;  // raised by every Resume
  std::uint64_t idle_generation_ = 0;    // the generation the worker went idle at
  bool idle_ = false;
  std::atomic<bool> ended_{false};
  std::atomic<std::uint64_t> runs_{0};
  std::thread thread_;
};

}  // namespace tarvix
