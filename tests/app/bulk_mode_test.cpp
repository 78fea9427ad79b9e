#include "app/bulk_mode.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "app/settings.h"
#include "device/clock.h"
#include "device/recording_host.h"

namespace tarvix {
namespace {

namespace c = control_id;

class BulkButtonFixture : public ::testing::Test {
 protected:
  BulkButtonFixture()
      : file_(std::filesystem::temp_directory_path() / "tarvix_bulk_kest2.dll"),
        settings_(file_),
        host_(&state_),
        worker_(state_, {}),
        bulk_(state_, settings_, host_, host_.Commands(), worker_) {
    std::filesystem::remove(file_);
    state_.command_code = worker_command::kIdle;
    bulk_.SetTimerListener([this](bool running) { timer_events_.push_back(running); });
  }
  ~BulkButtonFixture() override { std::filesystem::remove(file_); }

  std::filesystem::path file_;
  MainState state_;
  Settings settings_;
  RecordingHost host_;
  Worker worker_;
  BulkMode bulk_;
  std::vector<bool> timer_events_;
};

TEST_F(BulkButtonFixture, WithoutAutoRecognizeOnlyTheMessageShows) {
  ASSERT_TRUE(settings_.Toggle(SettingItem::kAutoRecognize));
  ASSERT_FALSE(settings_.IsOn(SettingItem::kAutoRecognize));
  bulk_.Press();
  const auto boxes = host_.RecordsOf(HostRecord::Kind::kMessageBox);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Please select \"Auto Recognize\" in menu \"Settings\"!   ");
  EXPECT_EQ(boxes[0].title, "info");
  EXPECT_EQ(boxes[0].icon, BoxIcon::kInformation);
  EXPECT_EQ(state_.bulk_mode.load(), 0);
  EXPECT_EQ(state_.command_code.load(), worker_command::kIdle);
  EXPECT_EQ(host_.Commands().Caption(c::kBulkMode), "Bulk Mode(F2)");
  EXPECT_FALSE(bulk_.TimerRunning());
  EXPECT_TRUE(timer_events_.empty());
}

TEST_F(BulkButtonFixture, OnCountsFromZeroAndHandsOverAutoThenOffRestoresTheCaption) {
  state_.bulk_success_count = 9;
  bulk_.Press();
  EXPECT_EQ(state_.bulk_mode.load(), 1);
  EXPECT_EQ(state_.bulk_success_count.load(), 0);
  EXPECT_EQ(state_.command_code.load(), worker_command::kAuto);
  EXPECT_EQ(host_.Commands().Caption(c::kBulkMode), "Stop bulk 0 (F2)");
  EXPECT_TRUE(bulk_.TimerRunning());

  // The caption follows the counter on each tick.
  state_.bulk_success_count = 3;
  bulk_.TimerTick(kBulkTimerId);
  EXPECT_EQ(host_.Commands().Caption(c::kBulkMode), "Stop bulk 3 (F2)");
  EXPECT_TRUE(bulk_.TimerRunning());

  state_.command_code = worker_command::kIdle;
  bulk_.Press();
  EXPECT_EQ(state_.bulk_mode.load(), 0);
  EXPECT_EQ(host_.Commands().Caption(c::kBulkMode), "Bulk Mode(F2)");
  EXPECT_FALSE(bulk_.TimerRunning());
  // Switching off hands nothing to the worker.
  EXPECT_EQ(state_.command_code.load(), worker_command::kIdle);
  EXPECT_EQ(timer_events_, (std::vector<bool>{true, false}));
}

TEST_F(BulkButtonFixture, TimerAnimatesAndStopsItselfOnceBulkModeIsOff) {
  bulk_.Press();
  std::vector<int> frames;
  for (int i = 0; i < 5; ++i) {
    bulk_.TimerTick(kBulkTimerId);
    frames.push_back(bulk_.AnimationFrame());
  }
  EXPECT_EQ(frames, (std::vector<int>{1, 2, 3, 0, 1}));
  bulk_.TimerTick(7);  // not the bulk timer
  EXPECT_EQ(bulk_.AnimationFrame(), 1);

  state_.bulk_mode = 0;  // as if switched off between two ticks
  bulk_.TimerTick(kBulkTimerId);
  EXPECT_FALSE(bulk_.TimerRunning());
  EXPECT_EQ(timer_events_, (std::vector<bool>{true, false}));
}

// Recognition results played back one per call; past the end the last repeats.
struct ScriptedRecognition {
  std::vector<int> results;
  std::size_t calls = 0;
  std::function<void(std::size_t)> after_call;
  int operator()() {
    const int r = results[std::min(calls, results.size() - 1)];
    ++calls;
    if (after_call) after_call(calls);
    return r;
  }
};

TEST(BulkWait, NeedsAnEmptySocketThenTwoDetectionsInARow) {
  MainState state;
  state.bulk_mode = 1;
  VirtualClock clock;
  // Chip still in (1, 0), programmer gone (-2), empty (-1); the unused recognition;
  // then a chip seen once, a glitch, and two detections.
  ScriptedRecognition script{{1, 0, -2, -1, 5, 1, -1, 0, 1}};
  EXPECT_EQ(WaitForNextChip(state, clock, std::ref(script)), BulkWaitResult::kNewChip);
  EXPECT_EQ(script.calls, 9u);
  // 10 ms around the unused recognition, then after each insertion poll but the last.
  EXPECT_EQ(clock.NowMs(), 20 + 3 * 10);
}

TEST(BulkWait, AChipThatStaysInTheSocketIsNeverTakenAgain) {
  MainState state;
  state.bulk_mode = 1;
  VirtualClock clock;
  ScriptedRecognition script{{1}};
  script.after_call = [&](std::size_t calls) {
    if (calls == 1000) state.bulk_mode = 0;
  };
  EXPECT_EQ(WaitForNextChip(state, clock, std::ref(script)), BulkWaitResult::kStopped);
  EXPECT_EQ(script.calls, 1000u);
}

TEST(BulkWait, StopsDuringInsertionAndWhenTheProgramCloses) {
  MainState state;
  state.bulk_mode = 1;
  VirtualClock clock;
  ScriptedRecognition empty{{-1}};
  empty.after_call = [&](std::size_t calls) {
    if (calls == 10) state.bulk_mode = 0;
  };
  EXPECT_EQ(WaitForNextChip(state, clock, std::ref(empty)), BulkWaitResult::kStopped);
  EXPECT_EQ(empty.calls, 10u);

  MainState closing;
  closing.bulk_mode = 1;
  ScriptedRecognition present{{1}};
  present.after_call = [&](std::size_t calls) {
    if (calls == 5) closing.exit_request = 1;
  };
  EXPECT_EQ(WaitForNextChip(closing, clock, std::ref(present)), BulkWaitResult::kStopped);
  EXPECT_EQ(present.calls, 5u);
}

TEST(BulkWait, UnpluggedProgrammerRestartsTheInsertionCount) {
  MainState state;
  state.bulk_mode = 1;
  VirtualClock clock;
  ScriptedRecognition script{{-1, -1, 1, -2, 1, -2, 0, 1}};
  EXPECT_EQ(WaitForNextChip(state, clock, std::ref(script)), BulkWaitResult::kNewChip);
  EXPECT_EQ(script.calls, 8u);
}

}  // namespace
}  // namespace tarvix
