// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/bulk_mode.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "app/settings.h"
#include "device/clock.h"
#include "device/recording_host.h"
#include "operations/operation_fixture.h"

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

// Recognition results played back one per call; past the end the last repeats. A
// missing programmer (-2) comes with the status recognition shows for it.
struct ScriptedRecognition {
  explicit ScriptedRecognition(std::vector<int> looks) : results(std::move(looks)) {}
  std::vector<int> results;
  std::size_t calls = 0;
  std::function<void(std::size_t)> after_call;
  SocketLook operator()() {
    const int r = results[std::min(calls, results.size() - 1)];
    ++calls;
    if (after_call) after_call(calls);
    if (r == -2) return {r, "device is unconnected", true};
    return {r, r == -1 ? "device connected,not find chip!" : "find SPI FLASH", r == -1};
  }
};

BulkWaitResult Wait(MainState& state, Clock& clock, ScriptedRecognition& script,
                    Host* host = nullptr) {
  RecordingHost quiet;
  return WaitForNextChip(state, clock, host != nullptr ? *host : quiet, std::ref(script));
}

TEST(BulkWait, NeedsAnEmptySocketThenTwoDetectionsInARow) {
  MainState state;
  state.bulk_mode = 1;
  VirtualClock clock;
  // Chip still in (1, 0), programmer gone (-2), empty (-1); the unused recognition;
  // then a chip seen once, a glitch, and two detections.
  ScriptedRecognition script{{1, 0, -2, -1, 5, 1, -1, 0, 1}};
  EXPECT_EQ(Wait(state, clock, script), BulkWaitResult::kNewChip);
  EXPECT_EQ(script.calls, 9u);
  // 10 ms after each removal look but the last, 10 ms around the unused recognition,
  // then after each insertion look but the last.
  EXPECT_EQ(clock.NowMs(), 3 * 10 + 20 + 3 * 10);
}

TEST(BulkWait, AChipThatStaysInTheSocketIsNeverTakenAgain) {
  MainState state;
  state.bulk_mode = 1;
  VirtualClock clock;
  ScriptedRecognition script{{1}};
  script.after_call = [&](std::size_t calls) {
    if (calls == 1000) state.bulk_mode = 0;
  };
  EXPECT_EQ(Wait(state, clock, script), BulkWaitResult::kStopped);
  EXPECT_EQ(script.calls, 1000u);
}

// Recognition that answers at once (Auto Recognize off, an empty socket) must not
// turn the removal wait into a busy loop.
TEST(BulkWait, TheRemovalWaitPausesBetweenLooks) {
  MainState state;
  state.bulk_mode = 1;
  VirtualClock clock;
  ScriptedRecognition script{{1}};
  std::vector<std::int64_t> times;
  script.after_call = [&](std::size_t calls) {
    times.push_back(clock.NowMs());
    if (calls == 500) state.bulk_mode = 0;
  };
  EXPECT_EQ(Wait(state, clock, script), BulkWaitResult::kStopped);
  ASSERT_EQ(times.size(), 500u);
  for (std::size_t i = 1; i < times.size(); ++i)
    ASSERT_EQ(times[i] - times[i - 1], kBulkPollMs) << i;
}

TEST(BulkWait, OneRefreshedLineInsteadOfOnePerLook) {
  MainState state;
  state.bulk_mode = 1;
  VirtualClock clock;
  RecordingHost host;
  // 30 s of a chip left in the socket, then an empty socket, then a new chip.
  std::vector<int> looks(3000, 1);
  looks.insert(looks.end(), 500, -1);
  looks.insert(looks.end(), {1, 1});
  ScriptedRecognition script{looks};
  EXPECT_EQ(Wait(state, clock, script, &host), BulkWaitResult::kNewChip);
  ASSERT_EQ(host.LogLines().size(), 1u);
  EXPECT_NE(host.LogLines().front().find(kBulkWaitingForChip), std::string::npos);
  // The line's time stamp is refreshed about once a second, not 3500 times.
  const std::size_t shown = host.Count(HostRecord::Kind::kStatus);
  EXPECT_GE(shown, 30u);
  EXPECT_LE(shown, 40u);
  for (const std::string& text : host.StatusTexts()) EXPECT_EQ(text, kBulkWaitingForChip);
  EXPECT_FALSE(host.LastStatus().red);
  EXPECT_EQ(host.BeepRequests(), 0);
}

TEST(BulkWait, AMissingProgrammerIsShownOnceWithOneBeep) {
  MainState state;
  state.bulk_mode = 1;
  VirtualClock clock;
  RecordingHost host;
  std::vector<int> looks(5, 1);
  looks.insert(looks.end(), 200, -2);
  looks.insert(looks.end(), {1, -1, 1, 1});
  ScriptedRecognition script{looks};
  EXPECT_EQ(Wait(state, clock, script, &host), BulkWaitResult::kNewChip);
  ASSERT_EQ(host.LogLines().size(), 3u);
  EXPECT_NE(host.LogLines()[0].find(kBulkWaitingForChip), std::string::npos);
  EXPECT_NE(host.LogLines()[1].find("device is unconnected"), std::string::npos);
  EXPECT_NE(host.LogLines()[2].find(kBulkWaitingForChip), std::string::npos);
  EXPECT_EQ(host.BeepRequests(), 1);
}

TEST(BulkWait, StopsDuringInsertionAndWhenTheProgramCloses) {
  MainState state;
  state.bulk_mode = 1;
  VirtualClock clock;
  ScriptedRecognition empty{{-1}};
  empty.after_call = [&](std::size_t calls) {
    if (calls == 10) state.bulk_mode = 0;
  };
  EXPECT_EQ(Wait(state, clock, empty), BulkWaitResult::kStopped);
  EXPECT_EQ(empty.calls, 10u);

  MainState closing;
  closing.bulk_mode = 1;
  ScriptedRecognition present{{1}};
  present.after_call = [&](std::size_t calls) {
    if (calls == 5) closing.exit_request = 1;
  };
  EXPECT_EQ(Wait(closing, clock, present), BulkWaitResult::kStopped);
  EXPECT_EQ(present.calls, 5u);
}

TEST(BulkWait, UnpluggedProgrammerRestartsTheInsertionCount) {
  MainState state;
  state.bulk_mode = 1;
  VirtualClock clock;
  ScriptedRecognition script{{-1, -1, 1, -2, 1, -2, 0, 1}};
  EXPECT_EQ(Wait(state, clock, script), BulkWaitResult::kNewChip);
  EXPECT_EQ(script.calls, 8u);
}

// The program's own wait, with real recognitions of the simulated socket: the
// operator takes the chip out after a second and puts the next in a second later.
TEST(BulkWait, RecognitionsDuringTheWaitStayOffTheLog) {
  testing::OperationFixture f("W25Q32BV");
  f.Select("W25Q32BV");
  f.state.bulk_mode = 1;
  f.bus.At(1000, [](sim::SimBus& bus) { bus.Programmer().RemoveChip(); });
  f.bus.At(2000, [&f](sim::SimBus& bus) {
    bus.Programmer().InsertChip(sim::VirtualChip::FromRecord(f.Record("W25Q32BV")));
  });
  f.host.ClearRecords();
  EXPECT_EQ(WaitForNextChip(f.ctx), BulkWaitResult::kNewChip);
  EXPECT_GE(f.clock.NowMs(), 2000);
  ASSERT_EQ(f.host.LogLines().size(), 1u);
  EXPECT_NE(f.host.LogLines().front().find(kBulkWaitingForChip), std::string::npos);
  EXPECT_EQ(f.host.BeepRequests(), 0);
  // What recognition does besides talking still happens: the chip is selected.
  EXPECT_EQ(f.SelectedModel(), "W25Q32BV");
}

}  // namespace
}  // namespace tarvix
