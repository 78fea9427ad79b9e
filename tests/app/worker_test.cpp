// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace tarvix {
namespace {

using namespace std::chrono_literals;
namespace w = worker_command;

// A worker whose operations and after-run hooks only write down what happened.
class WorkerFixture : public ::testing::Test {
 protected:
  WorkerFixture() : worker_(state_, {}) {
    for (const WorkerCommandInfo& info : WorkerCommandTable()) {
      const WorkerCommand code = info.code;
      worker_.SetOperation(code, [this, code] {
        Note("run " + std::to_string(code));
        if (on_run_) on_run_(code);
      });
    }
    Worker::Hooks hooks;
    hooks.link_open = [this] { return link_open_.load(); };
    hooks.send_end_of_run = [this](int timeout) {
      Note("end " + std::to_string(timeout));
      if (on_end_of_run_) on_end_of_run_();
    };
    hooks.bulk_wait = [this] {
      Note("bulk wait");
      return bulk_wait_ ? bulk_wait_() : BulkWaitResult::kStopped;
    };
    worker_.SetHooks(hooks);
  }

  void Note(const std::string& event) {
    std::lock_guard lock(mutex_);
    events_.push_back(event);
  }
  std::vector<std::string> Events() {
    std::lock_guard lock(mutex_);
    return events_;
  }
  void ClearEvents() {
    std::lock_guard lock(mutex_);
    events_.clear();
  }
  void StartAt(WorkerCommand code) {
    state_.command_code = code;
    worker_.Start();
    ASSERT_TRUE(worker_.WaitForIdle(10s));
  }

  MainState state_;
  std::atomic<bool> link_open_{true};
  std::function<void(WorkerCommand)> on_run_;
  std::function<void()> on_end_of_run_;
  std::function<BulkWaitResult()> bulk_wait_;
  std::mutex mutex_;
  std::vector<std::string> events_;
  Worker worker_;  // last: joined before the rest goes
};

TEST(DeviceChangeRerun, FullBurstsBeyondTheFirst48DoNotCount) {
  for (int c : {0, 1, 16, 32, 47}) EXPECT_FALSE(DeviceChangesNeedRerun(c)) << c;
  for (int c : {48, 49, 50, 63, 96, 97}) EXPECT_TRUE(DeviceChangesNeedRerun(c)) << c;
  for (int c : {64, 80, 112, 128}) EXPECT_FALSE(DeviceChangesNeedRerun(c)) << c;
}

TEST_F(WorkerFixture, StartUpRecognisesThenEndsTheRunAndGoesIdle) {
  state_.link_event = 1;
  StartAt(w::kRecognition);
  EXPECT_EQ(Events(), (std::vector<std::string>{"run 7", "end 1000"}));
  EXPECT_EQ(state_.command_code.load(), w::kIdle);
  EXPECT_EQ(state_.link_event.load(), 0);
  EXPECT_EQ(state_.device_change_count.load(), 0);
  EXPECT_TRUE(worker_.Idle());
}

TEST_F(WorkerFixture, NoEndOfRunCommandWhileTheLinkIsClosed) {
  link_open_ = false;
  StartAt(w::kRecognition);
  EXPECT_EQ(Events(), (std::vector<std::string>{"run 7"}));
}

TEST_F(WorkerFixture, EraseWhileIdleRunsOnceThenIdle) {
  StartAt(w::kIdle);
  ClearEvents();
  worker_.Give(w::kErase);
  ASSERT_TRUE(worker_.WaitForIdle(10s));
  EXPECT_EQ(Events(), (std::vector<std::string>{"run 5", "end 1000"}));
  EXPECT_EQ(state_.command_code.load(), w::kIdle);
}

TEST_F(WorkerFixture, UnknownCodeRunsNothingButTheAfterRunSteps) {
  StartAt(42);
  EXPECT_EQ(Events(), (std::vector<std::string>{"end 1000"}));
  EXPECT_EQ(worker_.Runs(), 0u);
  EXPECT_EQ(state_.command_code.load(), w::kIdle);
}

TEST_F(WorkerFixture, OneDeviceChangeNoticeOneRecognition) {
  StartAt(w::kIdle);
  ClearEvents();
  worker_.DeviceChangeNotice();
  ASSERT_TRUE(worker_.WaitForIdle(10s));
  EXPECT_EQ(Events(), (std::vector<std::string>{"run 7", "end 1000"}));
  EXPECT_EQ(state_.device_change_count.load(), 0);
  EXPECT_EQ(state_.link_event.load(), 0);
}

// Notices counted while a recognition runs decide whether it runs again at once.
TEST_F(WorkerFixture, NoticeBurstsDecideTheRerun) {
  struct Case {
    int notices;
    std::uint64_t runs;
  };
  StartAt(w::kIdle);
  for (const Case c : {Case{48, 2}, Case{64, 1}, Case{80, 1}, Case{49, 2}, Case{3, 1}}) {
    ClearEvents();
    bool first = true;
    on_run_ = [&](WorkerCommand) {
      if (first) state_.device_change_count = c.notices;
      first = false;
    };
    const std::uint64_t before = worker_.Runs();
    state_.link_event = 1;
    worker_.Give(w::kRecognition);
    ASSERT_TRUE(worker_.WaitForIdle(10s));
    EXPECT_EQ(worker_.Runs() - before, c.runs) << c.notices;
    // The re-run skips the end-of-run command of the first pass.
    std::vector<std::string> expected(c.runs, "run 7");
    expected.push_back("end 1000");
    EXPECT_EQ(Events(), expected) << c.notices;
    EXPECT_EQ(state_.device_change_count.load(), 0);
    EXPECT_EQ(state_.link_event.load(), 0);
  }
}

TEST_F(WorkerFixture, ACommandGivenDuringARunReplacesItsCodeAndDoesNotRun) {
  StartAt(w::kIdle);
  ClearEvents();
  on_run_ = [&](WorkerCommand code) {
    if (code == w::kWrite) worker_.Give(w::kFirmwareVersion);
  };
  worker_.Give(w::kWrite);
  ASSERT_TRUE(worker_.WaitForIdle(10s));
  EXPECT_EQ(Events(), (std::vector<std::string>{"run 1", "end 1000"}));
  EXPECT_EQ(state_.command_code.load(), w::kIdle);
}

TEST_F(WorkerFixture, ACommandGivenDuringTheAfterRunStepsRuns) {
  StartAt(w::kIdle);
  ClearEvents();
  int ends = 0;
  on_end_of_run_ = [&] {
    if (ends++ == 0) worker_.Give(w::kVerify);
  };
  worker_.Give(w::kWrite);
  ASSERT_TRUE(worker_.WaitForIdle(10s));
  EXPECT_EQ(Events(), (std::vector<std::string>{"run 1", "end 1000", "run 8", "end 1000"}));
}

// The giver stores its code, then resumes; the worker may go idle in between.
TEST_F(WorkerFixture, ACodeStoredJustBeforeTheWorkerGoesIdleRunsOnItsResume) {
  StartAt(w::kIdle);
  ClearEvents();
  int ends = 0;
  on_end_of_run_ = [&] {
    if (ends++ == 0) state_.command_code = w::kVerify;  // the store, not yet the resume
  };
  worker_.Give(w::kWrite);
  ASSERT_TRUE(worker_.WaitForIdle(10s));
  EXPECT_EQ(state_.command_code.load(), w::kIdle);
  worker_.Resume();  // the resume that belongs to the store
  ASSERT_TRUE(worker_.WaitForIdle(10s));
  EXPECT_EQ(Events(), (std::vector<std::string>{"run 1", "end 1000", "run 8", "end 1000"}));
}

// The window thread hands a command over at whatever moment the previous one is
// finishing; none may be lost or overwritten by the idle code.
TEST_F(WorkerFixture, CommandsGivenAsTheWorkerGoesIdleAreNeverLost) {
  StartAt(w::kIdle);
  std::atomic<int> erases{0};
  std::atomic<bool> after_run{false};
  std::atomic<int> linger{0};
  on_run_ = [&](WorkerCommand code) {
    if (code == w::kErase) ++erases;
  };
  // The end-of-run command takes a varying time, so the next command arrives during
  // it, just after it, or once the worker waits.
  on_end_of_run_ = [&] {
    after_run = true;
    for (int spin = linger.load(); spin > 0; --spin) std::this_thread::yield();
  };
  std::mt19937 random(7);
  constexpr int kCommands = 3000;
  worker_.Give(w::kErase);
  for (int i = 1; i < kCommands; ++i) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!after_run && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    ASSERT_TRUE(after_run) << "command " << i << " was lost";
    after_run = false;
    linger = static_cast<int>(random() % 3) * 20;
    const int delay = static_cast<int>(random() % 4) * 10;
    for (int spin = 0; spin < delay; ++spin) std::this_thread::yield();
    worker_.Give(w::kErase);
  }
  ASSERT_TRUE(worker_.WaitForIdle(30s));
  EXPECT_EQ(erases.load(), kCommands);
  EXPECT_EQ(state_.command_code.load(), w::kIdle);
}

TEST_F(WorkerFixture, BulkModeLoopsToTheAutoSequenceUntilTheWaitStops) {
  StartAt(w::kIdle);
  ClearEvents();
  int chips = 0;
  bulk_wait_ = [&] {
    if (++chips == 3) state_.bulk_mode = 0;
    return state_.bulk_mode ? BulkWaitResult::kNewChip : BulkWaitResult::kStopped;
  };
  state_.bulk_mode = 1;
  worker_.Give(w::kAuto);
  ASSERT_TRUE(worker_.WaitForIdle(10s));
  const std::vector<std::string> cycle = {"run 14", "end 1000", "bulk wait"};
  std::vector<std::string> expected;
  for (int i = 0; i < 3; ++i) expected.insert(expected.end(), cycle.begin(), cycle.end());
  EXPECT_EQ(Events(), expected);
  EXPECT_EQ(state_.command_code.load(), w::kIdle);
}

TEST_F(WorkerFixture, BulkContinuationRunsAutoEvenAfterAnotherCommand) {
  StartAt(w::kIdle);
  ClearEvents();
  bulk_wait_ = [&] {
    state_.bulk_mode = 0;
    return BulkWaitResult::kNewChip;
  };
  state_.bulk_mode = 1;
  worker_.Give(w::kFirmwareVersion);
  ASSERT_TRUE(worker_.WaitForIdle(10s));
  EXPECT_EQ(Events(),
            (std::vector<std::string>{"run 18", "end 1000", "bulk wait", "run 14", "end 1000"}));
}

TEST_F(WorkerFixture, ExitRequestEndsAnIdleWorker) {
  StartAt(w::kIdle);
  ClearEvents();
  worker_.RequestExit();
  ASSERT_TRUE(worker_.WaitForIdle(10s));
  EXPECT_TRUE(worker_.Ended());
  EXPECT_TRUE(Events().empty());
}

TEST_F(WorkerFixture, ExitDuringARunEndsAfterItsAfterRunSteps) {
  StartAt(w::kIdle);
  ClearEvents();
  on_run_ = [&](WorkerCommand) { worker_.RequestExit(); };
  worker_.Give(w::kRead);
  ASSERT_TRUE(worker_.WaitForIdle(10s));
  EXPECT_TRUE(worker_.Ended());
  EXPECT_EQ(Events(), (std::vector<std::string>{"run 13", "end 1000"}));
}

TEST(WorkerSynchronous, RunsOnTheCallingThreadUntilIdle) {
  MainState state;
  Worker worker(state, {});
  std::thread::id ran_on;
  int runs = 0;
  worker.SetOperation(w::kErase, [&] {
    ran_on = std::this_thread::get_id();
    ++runs;
  });
  state.command_code = w::kErase;
  worker.RunUntilIdle();
  EXPECT_EQ(ran_on, std::this_thread::get_id());
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(state.command_code.load(), w::kIdle);
  worker.Give(w::kErase);
  worker.RunUntilIdle();
  EXPECT_EQ(runs, 2);
}

}  // namespace
}  // namespace tarvix
