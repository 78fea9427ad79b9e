// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/worker.h"

namespace tarvix {

const std::vector<WorkerCommandInfo>& WorkerCommandTable() {
  using A = WorkerArgument;
  namespace w = worker_command;
  static const std::vector<WorkerCommandInfo> kTable = {
      {w::kWrite, "write the image to the chip", A::kPreCheck},
      {w::kErase, "erase the chip", A::kPreCheck},
      {w::kRecognition, "chip recognition", A::kFlag},
      {w::kVerify, "verify the chip against the image", A::kPreCheck},
      {w::kRead, "read the chip into the image", A::kNone},
      {w::kAuto, "auto sequence (erase, write, verify)", A::kNone},
      {w::kBlankCheck, "blank check", A::kNone},
      {w::kViewData, "read the data at an address of the chip", A::kNone},
      {w::kFirmwareVersion, "read the programmer's firmware version", A::kNone},
      {w::kChipFill, "fill a chip range", A::kNone},
      {w::kFirmwareUpgrade, "upgrade the programmer's firmware", A::kNone},
      {w::kChipTest, "chip test", A::kFlag},
      {w::kFind, "find data in the image", A::kNone},
  };
  return kTable;
}

bool DeviceChangesNeedRerun(std::int32_t count) {
  std::int32_t c = count;
  if (c > 48 && (c % 48 == 16 || c % 48 == 32)) c %= 48;
  return c >= 48;
}

Worker::Worker(MainState& state, Hooks hooks) : state_(state), hooks_(std::move(hooks)) {}

Worker::~Worker() {
  Stop();
}

void Worker::Stop() {
  RequestExit();
  if (thread_.joinable()) thread_.join();
}

void Worker::SetOperation(WorkerCommand code, Operation operation) {
  operations_[code] = std::move(operation);
}

void Worker::SetHooks(Hooks hooks) {
  hooks_ = std::move(hooks);
}

void Worker::Start() {
  if (thread_.joinable()) return;
  thread_ = std::thread([this] { Loop(false); });
}

void Worker::RunUntilIdle() {
  Loop(true);
}

void Worker::Resume() {
  {
    std::lock_guard lock(mutex_);
    ++resume_generation_;
  }
  resume_cv_.notify_all();
}

void Worker::Give(WorkerCommand code) {
  state_.command_code.store(code);
  Resume();
}

void Worker::DeviceChangeNotice() {
  state_.device_change_count.fetch_add(1);
  state_.command_code.store(worker_command::kRecognition);
  state_.link_event.store(1);
  Resume();
}

void Worker::RequestExit() {
  state_.exit_request.store(1);
  Resume();
}

bool Worker::WaitForIdle(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return idle_cv_.wait_for(lock, timeout, [this] {
    return ended_.load() || (idle_ && idle_generation_ == resume_generation_);
  });
}

bool Worker::Idle() const {
  std::lock_guard lock(mutex_);
  return idle_;
}

void Worker::RunCommand(WorkerCommand code) {
  const Operation& operation = operations_[code];
  if (!operation) return;
  runs_.fetch_add(1);
  operation();
}

void Worker::Loop(bool synchronous) {
  {
    std::lock_guard lock(mutex_);
    idle_ = false;
  }
  for (;;) {
    // Step 1.
    if (state_.exit_request.load() == 1) break;

    // Step 2. Resumes given while the routine runs have no effect (its code was simply
    // overwritten); one given after it returned is a new command that must run.
    RunCommand(state_.command_code.load());
    std::uint64_t returned_at;
    {
      std::lock_guard lock(mutex_);
      returned_at = resume_generation_;
    }

    // Step A.
    if (state_.link_event.load() == 1) {
      const std::int32_t count = state_.device_change_count.exchange(0);
      if (DeviceChangesNeedRerun(count)) continue;
      state_.link_event.store(0);
    }

    // Step B.
    if (hooks_.link_open && hooks_.link_open() && hooks_.send_end_of_run)
      hooks_.send_end_of_run(kEndOfRunTimeoutMs);

    // Step C.
    if (state_.bulk_mode.load() != 0) {
      state_.command_code.store(worker_command::kAuto);
      if (hooks_.bulk_wait && hooks_.bulk_wait() == BulkWaitResult::kNewChip) continue;
    }

    // Step D.
    std::unique_lock lock(mutex_);
    if (resume_generation_ != returned_at) continue;  // handed a command meanwhile
    // A giver stores its code before it resumes; if that store lands between here and
    // the resume, 255 overwrites it and the wake-up below puts it back.
    const WorkerCommand overwritten = state_.command_code.exchange(worker_command::kIdle);
    idle_ = true;
    idle_generation_ = resume_generation_;
    idle_cv_.notify_all();
    if (synchronous) return;  // the caller hands the next command over itself
    resume_cv_.wait(lock, [this] {
      return resume_generation_ != idle_generation_ || state_.exit_request.load() == 1;
    });
    idle_ = false;
    WorkerCommand still_idle = worker_command::kIdle;
    state_.command_code.compare_exchange_strong(still_idle, overwritten);
  }
  {
    std::lock_guard lock(mutex_);
    idle_ = false;
    ended_.store(true);
  }
  idle_cv_.notify_all();
}

}  // namespace tarvix
