// SPDX-License-Identifier: GPL-3.0-or-later
// The auto sequence: which steps run, which of them checks the chip and asks, the
// pauses between steps, the finish text and the bulk counter; then whole runs
// against the simulated programmer.
#include "operations/auto_sequence.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "operation_fixture.h"
#include "operations/erase.h"
#include "operations/write.h"

namespace tarvix::testing {
namespace {

using Kind = HostRecord::Kind;

// Steps that only write down their calls (and may take time or fail).
class AutoStepsFixture : public ::testing::Test {
 protected:
  AutoStepsFixture() {
    f.Select("W25Q32BV");
    EXPECT_TRUE(f.link.OpenSequence());
    EXPECT_TRUE(f.LoadImageOfSize(4096));
    f.state.command_code = 14;
    f.host.ClearRecords();
    f.traffic.Clear();
    steps.erase = [this](bool pre) { return Step("erase", pre, erase_ok); };
    steps.write = [this](bool pre, bool overflow_accepted) {
      return Step(overflow_accepted ? "write(overflow accepted)" : "write", pre, write_ok);
    };
    steps.verify = [this](bool pre) { return Step("verify", pre, verify_ok); };
  }

  bool Step(const std::string& name, bool pre_check, bool ok) {
    calls.push_back(name + (pre_check ? "+check" : ""));
    f.clock.Advance(step_ms);
    return ok;
  }
  void Bulk(bool erase, bool write, bool verify) {
    f.state.bulk_mode = 1;
    f.SetSetting(SettingItem::kBulkErase, erase);
    f.SetSetting(SettingItem::kBulkWrite, write);
    f.SetSetting(SettingItem::kBulkVerify, verify);
  }
  [[nodiscard]] std::size_t Pauses() const { return f.traffic.CountCommand(25); }

  OperationFixture f{"W25Q32BV"};
  AutoSteps steps;
  std::vector<std::string> calls;
  bool erase_ok = true, write_ok = true, verify_ok = true;
  std::int64_t step_ms = 0;
};

TEST_F(AutoStepsFixture, OutsideBulkModeAllThreeStepsRunAndOnlyTheFirstChecks) {
  f.state.bulk_success_count = 5;
  step_ms = 14000;  // 42 s in all
  EXPECT_TRUE(AutoSequence(f.ctx, steps));
  EXPECT_EQ(calls, (std::vector<std::string>{"erase+check", "write", "verify"}));
  EXPECT_EQ(Pauses(), 1u);
  EXPECT_EQ(f.LastStatusText(), "Auto Erase Write Verify finished,0:42");
  EXPECT_FALSE(f.host.LastStatus().red);
  // The counter belongs to bulk mode.
  EXPECT_EQ(f.state.bulk_success_count.load(), 5);
  // The log is cleared before anything else.
  ASSERT_FALSE(f.host.Records().empty());
  EXPECT_EQ(f.host.Records().front().kind, Kind::kClearLog);
  // The finish sound, as "Remind Sound" is on.
  const auto sounds = f.host.RecordsOf(Kind::kSound);
  ASSERT_EQ(sounds.size(), 1u);
  EXPECT_EQ(sounds[0].text, f.state.paths.finish_sound.string());
}

TEST_F(AutoStepsFixture, PauseResetsAndResendsTheSelectedChipsParameters) {
  EXPECT_TRUE(AutoSequence(f.ctx, steps));
  const auto commands = f.traffic.Commands();
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[0].code, 25);
  EXPECT_EQ(commands[0].timeout_ms, 1000);
  EXPECT_EQ(commands[1].code, 0);
  EXPECT_EQ(commands[1].timeout_ms, 1000);
  EXPECT_EQ(commands[1].at_ms - commands[0].at_ms, 20);
  // Code 0 carries the selected record's parameters.
  CommandPacket expected;
  std::uint32_t capacity = 0;
  ASSERT_TRUE(expected.LoadChipParameters(f.catalogue, f.RecordIndex("W25Q32BV"), &capacity));
  for (std::size_t i = 2; i <= 12; ++i) EXPECT_EQ(commands[1].bytes[i], expected.Byte(i)) << i;
  EXPECT_EQ(f.state.chip_capacity.load(), capacity);
}

TEST_F(AutoStepsFixture, BulkStepChoicesDecideChecksAndPauses) {
  struct Case {
    bool erase, write, verify;
    std::vector<std::string> calls;
    std::size_t pauses;
    const char* status;
  };
  const Case cases[] = {
      {false, true, true, {"write+check", "verify"}, 0, "Auto Write Verify finished,0:0"},
      {true, false, true, {"erase+check", "verify"}, 1, "Auto Erase Verify finished,0:0"},
      {false, false, true, {"verify+check"}, 0, "Auto Verify finished,0:0"},
      {true, true, false, {"erase+check", "write"}, 1, "Auto Erase Write finished,0:0"},
      {false, false, false, {}, 0, "Auto finished,0:0"},
  };
  int count = 0;
  for (const Case& c : cases) {
    calls.clear();
    f.traffic.Clear();
    Bulk(c.erase, c.write, c.verify);
    EXPECT_TRUE(AutoSequence(f.ctx, steps));
    EXPECT_EQ(calls, c.calls);
    EXPECT_EQ(Pauses(), c.pauses);
    EXPECT_EQ(f.LastStatusText(), c.status);
    EXPECT_EQ(f.state.bulk_success_count.load(), ++count);
  }
}

TEST_F(AutoStepsFixture, AFailingStepEndsTheRunWithoutTheFinishText) {
  Bulk(true, true, true);
  erase_ok = false;
  EXPECT_FALSE(AutoSequence(f.ctx, steps));
  EXPECT_EQ(calls, (std::vector<std::string>{"erase+check"}));
  EXPECT_EQ(Pauses(), 0u);

  calls.clear();
  erase_ok = true;
  write_ok = false;
  EXPECT_FALSE(AutoSequence(f.ctx, steps));
  EXPECT_EQ(calls, (std::vector<std::string>{"erase+check", "write"}));

  calls.clear();
  write_ok = true;
  verify_ok = false;
  EXPECT_FALSE(AutoSequence(f.ctx, steps));
  EXPECT_EQ(calls, (std::vector<std::string>{"erase+check", "write", "verify"}));

  EXPECT_EQ(f.state.bulk_success_count.load(), 0);
  for (const std::string& text : f.host.StatusTexts())
    EXPECT_EQ(text.find("finished"), std::string::npos) << text;
  EXPECT_EQ(f.host.Count(Kind::kSound), 0u);
}

TEST_F(AutoStepsFixture, AStopInAnyStepEndsTheWholeRunWithOneRedLine) {
  // A stopped step reports its own stop and returns as the real ones do (a stopped
  // erase or write returns true): the run must end there all the same.
  struct Case {
    std::atomic<std::uint8_t>* request;
    const char* step;
    std::vector<std::string> calls;
  };
  const Case cases[] = {
      {&f.state.stop_erase, "erase", {"erase+check"}},
      {&f.state.stop_write, "write", {"erase+check", "write"}},
      {&f.state.stop_verify, "verify", {"erase+check", "write", "verify"}},
  };
  Bulk(true, true, true);
  for (const Case& c : cases) {
    calls.clear();
    f.host.ClearRecords();
    const auto stop_in = [&](const std::string& name, bool pre) {
      if (name == c.step) c.request->store(1);
      return Step(name, pre, true);
    };
    AutoSteps stopping;
    stopping.erase = [&](bool pre) { return stop_in("erase", pre); };
    stopping.write = [&](bool pre, bool) { return stop_in("write", pre); };
    stopping.verify = [&](bool pre) { return stop_in("verify", pre); };
    EXPECT_FALSE(AutoSequence(f.ctx, stopping)) << c.step;
    EXPECT_EQ(calls, c.calls) << c.step;
    EXPECT_EQ(f.LastStatusText(), std::string("Auto stopped in its ") + c.step + " step,0:0");
    EXPECT_TRUE(f.host.LastStatus().red);
    c.request->store(0);
  }
  EXPECT_EQ(f.state.bulk_success_count.load(), 0);
}

TEST_F(AutoStepsFixture, NoImageAndDfuModeRefuseBeforeTouchingTheDevice) {
  f.image.Close();
  EXPECT_FALSE(AutoSequence(f.ctx, steps));
  EXPECT_EQ(f.LastStatusText(), "file is not opened!");
  EXPECT_TRUE(f.host.LastStatus().red);
  const auto boxes = f.host.RecordsOf(Kind::kMessageBox);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "file is not opened!      ");
  EXPECT_EQ(boxes[0].title, "info");
  EXPECT_EQ(boxes[0].icon, BoxIcon::kWarning);

  ASSERT_TRUE(f.LoadImageOfSize(16));
  f.state.dfu_mode = 1;
  EXPECT_FALSE(AutoSequence(f.ctx, steps));
  EXPECT_EQ(f.LastStatusText(), "device is in dfu mode");
  EXPECT_TRUE(f.host.LastStatus().beep);

  EXPECT_TRUE(calls.empty());
  EXPECT_TRUE(f.traffic.Transfers().empty());
}

TEST_F(AutoStepsFixture, ImageLongerThanTheChipIsAskedAboutBeforeAnythingRuns) {
  ASSERT_TRUE(f.LoadImageOfSize(f.state.chip_capacity.load() + 1));
  f.host.ClearRecords();
  f.host.QueueAnswer(BoxAnswer::kNo);
  EXPECT_FALSE(AutoSequence(f.ctx, steps));
  EXPECT_TRUE(calls.empty());
  EXPECT_TRUE(f.traffic.Transfers().empty());
  EXPECT_EQ(f.host.BoxTexts(), (std::vector<std::string>{kWriteOverflowQuestion}));
  EXPECT_EQ(f.LastStatusText(), kAutoOverflowRefused);
  EXPECT_TRUE(f.host.LastStatus().red);

  // Yes: the write step is told, so it does not ask again.
  f.host.ClearRecords();
  f.host.QueueAnswer(BoxAnswer::kYes);
  EXPECT_TRUE(AutoSequence(f.ctx, steps));
  EXPECT_EQ(calls, (std::vector<std::string>{"erase+check", "write(overflow accepted)", "verify"}));
  EXPECT_EQ(f.host.BoxTexts().size(), 1u);

  // Without a write step there is nothing to ask.
  calls.clear();
  f.host.ClearRecords();
  Bulk(true, false, true);
  EXPECT_TRUE(AutoSequence(f.ctx, steps));
  EXPECT_TRUE(f.host.BoxTexts().empty());
  EXPECT_EQ(calls, (std::vector<std::string>{"erase+check", "verify"}));
}

// The log's time of day passes midnight during the run; the elapsed time comes from
// the monotonic clock and stays right.
TEST_F(AutoStepsFixture, ElapsedTimeAcrossMidnight) {
  f.host.SetTime({23, 59, 30});
  steps.write = [this](bool pre, bool) {
    f.host.SetTime({0, 1, 35});
    return Step("write", pre, true);
  };
  step_ms = 41000;
  EXPECT_TRUE(AutoSequence(f.ctx, steps));
  // Three steps of 41 s and the pause's 70 ms.
  EXPECT_EQ(f.LastStatusText(), "Auto Erase Write Verify finished,2:3");
}

TEST(AutoFinishedText, NamesTheStepsThatRan) {
  EXPECT_EQ(AutoFinishedText(true, true, true, 42), "Auto Erase Write Verify finished,0:42");
  EXPECT_EQ(AutoFinishedText(false, false, false, 65), "Auto finished,1:5");
  EXPECT_EQ(AutoFinishedText(true, false, true, 0), "Auto Erase Verify finished,0:0");
}

// Whole runs of the real steps on the simulated programmer.
class AutoOnSimulator : public ::testing::Test {
 protected:
  AutoOnSimulator() {
    f.Select("W25Q32BV");
    f.state.command_code = 14;
  }
  OperationFixture f{"W25Q32BV"};
};

TEST_F(AutoOnSimulator, ProgramsTheImageAskingOnlyOnceByTheErase) {
  // Something on the chip the write alone could not clear.
  f.FillChip(0, std::vector<std::uint8_t>(64, 0x00));
  ASSERT_TRUE(f.LoadImageOfSize(100000));
  f.host.ClearRecords();
  EXPECT_TRUE(AutoSequence(f.ctx));
  EXPECT_EQ(f.ChipMemory(0, 100000), f.ImageBytes(0, 100000));
  EXPECT_EQ(f.ChipMemory(100000, 16), std::vector<std::uint8_t>(16, 0xFF));
  const auto confirms = f.host.RecordsOf(Kind::kConfirm);
  ASSERT_EQ(confirms.size(), 1u);
  EXPECT_EQ(confirms[0].text, kEraseConfirmText);
  EXPECT_EQ(f.LastStatusText().rfind("Auto Erase Write Verify finished,", 0), 0u)
      << f.LastStatusText();
  // Inside Auto only the auto run plays the finish sound.
  EXPECT_EQ(f.host.Count(Kind::kSound), 2u);  // the erase sound and the auto finish
}

TEST_F(AutoOnSimulator, CancelAtTheEraseQuestionRunsNothingElse) {
  ASSERT_TRUE(f.LoadImageOfSize(4096));
  f.host.QueueConfirm(false);
  f.traffic.Clear();
  EXPECT_FALSE(AutoSequence(f.ctx));
  EXPECT_EQ(f.traffic.CountCommand(5), 0u);
  EXPECT_EQ(f.traffic.CountCommand(1), 0u);
  EXPECT_EQ(f.traffic.CountCommand(8), 0u);
  EXPECT_EQ(f.ChipMemory(0, 16), std::vector<std::uint8_t>(16, 0xFF));
}

TEST_F(AutoOnSimulator, BulkRunAsksNothingAndCountsTheChip) {
  ASSERT_TRUE(f.LoadImageOfSize(8192));
  f.state.bulk_mode = 1;
  EXPECT_TRUE(AutoSequence(f.ctx));
  EXPECT_EQ(f.host.Count(Kind::kConfirm), 0u);
  EXPECT_EQ(f.state.bulk_success_count.load(), 1);
  EXPECT_EQ(f.ChipMemory(0, 8192), f.ImageBytes(0, 8192));
}

// A chip smaller than the images used on it.
class AutoOnSmallChip : public ::testing::Test {
 protected:
  AutoOnSmallChip() {
    f.Select("W25X05");
    f.state.command_code = 14;
    capacity_ = f.state.chip_capacity.load();
  }
  OperationFixture f{"W25X05"};
  std::uint32_t capacity_ = 0;
};

// The overflow question answered No: the chip must not be left erased.
class NoToTheOverflowQuestion : public RecordingHost {
 public:
  using RecordingHost::RecordingHost;
  BoxAnswer MessageBox(std::string_view text, std::string_view title, BoxIcon icon,
                       BoxButtons buttons) override {
    const BoxAnswer answer = RecordingHost::MessageBox(text, title, icon, buttons);
    return text == kWriteOverflowQuestion ? BoxAnswer::kNo : answer;
  }
};

TEST_F(AutoOnSmallChip, NoToTheLengthQuestionLeavesTheChipAsItWas) {
  const std::vector<std::uint8_t> old_contents(64, 0x12);
  f.FillChip(0, old_contents);
  ASSERT_TRUE(f.LoadImageOfSize(capacity_ + 4096));
  NoToTheOverflowQuestion host(&f.state);
  OperationContext ctx = f.ctx;
  OperationContext quiet{ctx.state,    ctx.link,  ctx.packet,    host,
                         ctx.settings, ctx.clock, ctx.catalogue, ctx.selection,
                         ctx.image,    ctx.files, ctx.hex};
  f.traffic.Clear();
  EXPECT_FALSE(AutoSequence(quiet));
  EXPECT_EQ(f.traffic.CountCommand(5), 0u);
  EXPECT_EQ(f.traffic.CountCommand(1), 0u);
  EXPECT_EQ(f.ChipMemory(0, 64), old_contents);
  ASSERT_FALSE(host.StatusTexts().empty());
  EXPECT_EQ(host.StatusTexts().back(), kAutoOverflowRefused);
  for (const std::string& text : host.StatusTexts())
    EXPECT_EQ(text.find("succeed"), std::string::npos) << text;
  EXPECT_EQ(host.BoxTexts().front(), kWriteOverflowQuestion);
}

TEST_F(AutoOnSmallChip, YesIsAskedOnceAndTheChipGetsWhatFits) {
  ASSERT_TRUE(f.LoadImageOfSize(capacity_ + 4096));
  f.host.ClearRecords();
  EXPECT_TRUE(AutoSequence(f.ctx));  // unscripted: OK and Yes
  std::size_t questions = 0;
  for (const std::string& text : f.host.BoxTexts()) questions += text == kWriteOverflowQuestion;
  EXPECT_EQ(questions, 1u);
  EXPECT_EQ(f.ChipMemory(0, capacity_), f.ImageBytes(0, capacity_));
}

TEST_F(AutoOnSimulator, AStoppedVerifyIsNotAVerifiedChip) {
  ASSERT_TRUE(f.LoadImageOfSize(8192));
  f.state.bulk_mode = 1;
  f.host.AddListener([&](HostModel::Change change) {
    const ProgressState progress = f.host.Progress();
    if (change == HostModel::Change::kProgress && progress.position > 0 &&
        progress.caption.rfind("verified", 0) == 0)
      f.state.stop_verify = 1;
  });
  EXPECT_FALSE(AutoSequence(f.ctx));
  EXPECT_EQ(f.state.bulk_success_count.load(), 0);
  EXPECT_EQ(f.LastStatusText(), "Auto stopped in its verify step,0:0");
  bool verify_said = false;
  for (const std::string& text : f.host.StatusTexts())
    verify_said |= text.rfind("verify stopped.", 0) == 0;
  EXPECT_TRUE(verify_said);
}

}  // namespace
}  // namespace tarvix::testing
