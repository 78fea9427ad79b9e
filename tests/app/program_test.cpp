// SPDX-License-Identifier: GPL-3.0-or-later
// The program without a window: start-up over the simulated programmer, hand-over
// of commands to the worker thread, device-change notices, window close and Exist.
#include "app/program.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <set>
#include <thread>

#include "device/recording_host.h"
#include "operations/auto_sequence.h"
#include "operations/operation_fixture.h"

namespace tarvix::testing {
namespace {

using namespace std::chrono_literals;
namespace c = control_id;
namespace w = worker_command;
using Kind = HostRecord::Kind;

// A recording host that can hold the worker inside a read, so the test can act while
// the read runs.
class HoldingHost : public RecordingHost {
 public:
  void SetProgress(int position, std::string_view caption, CaptionAlign align) override {
    RecordingHost::SetProgress(position, caption, align);
    if (position > 0 && hold_.exchange(false)) {
      held_ = true;
      const auto deadline = std::chrono::steady_clock::now() + 20s;
      while (!release_ && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    }
  }
  void HoldNextProgress() { hold_ = true; }
  [[nodiscard]] bool WaitHeld() const {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!held_ && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
    return held_;
  }
  void Release() { release_ = true; }

 private:
  std::atomic<bool> hold_{false}, held_{false}, release_{false};
};

class ProgramFixture : public ::testing::Test {
 protected:
  ProgramFixture() {
    catalogue_.Load(TARVIX_DATABASE_DAT, [](std::string_view, std::string_view) {});
    chip_record_ = FindRecord("W25Q32BV");
    programmer_.InsertChip(sim::VirtualChip::FromRecord(catalogue_.Record(chip_record_)));
  }
  ~ProgramFixture() override {
    host_.Release();
    program_.reset();
  }

  std::uint32_t FindRecord(std::string_view model) const {
    for (std::uint32_t i = 0; i < catalogue_.Count(); ++i)
      if (catalogue_.Record(i).model == model) return i;
    ADD_FAILURE() << model;
    return 0;
  }

  void Make(bool with_database = true, bool thread = true) {
    if (with_database) std::filesystem::copy_file(TARVIX_DATABASE_DAT, dir_.path / "database.dat");
    ProgramOptions options;
    options.base = dir_.path;
    options.worker_thread = thread;
    program_ = std::make_unique<Program>(options, traffic_, clock_, host_);
  }
  void StartUp() {
    program_->StartUp();
    ASSERT_TRUE(program_->TheWorker().WaitForIdle(20s));
  }
  [[nodiscard]] MainState& State() { return program_->State(); }
  [[nodiscard]] std::vector<SentCommand> CommandsWith(std::uint8_t code) const {
    std::vector<SentCommand> out;
    for (const SentCommand& s : traffic_.Commands())
      if (s.code == code) out.push_back(s);
    return out;
  }

  ScratchFolder dir_;
  ChipCatalogue catalogue_;
  std::uint32_t chip_record_ = 0;
  VirtualClock clock_;
  sim::SimBus bus_{clock_};
  sim::VirtualProgrammer& programmer_{bus_.AddProgrammer()};
  sim::SimBackend backend_{bus_};
  UsbTraffic traffic_{backend_, clock_};
  HoldingHost host_;
  std::unique_ptr<Program> program_;
};

TEST_F(ProgramFixture, StartUpRecognisesTheChipSendsCode9AndGoesIdle) {
  Make();
  StartUp();
  EXPECT_EQ(State().command_code.load(), w::kIdle);
  EXPECT_EQ(State().link_event.load(), 0);
  EXPECT_EQ(program_->TheWorker().Runs(), 1u);
  // Recognition probed the socket and selected a record of the chip's ID.
  EXPECT_GE(traffic_.CountCommand(7), 1u);
  const ChipRecord* current = program_->Selection().CurrentRecord();
  ASSERT_NE(current, nullptr);
  EXPECT_EQ(current->main_id, catalogue_.Record(chip_record_).main_id);
  // The worker's own end-of-run command comes last.
  const auto commands = traffic_.Commands();
  ASSERT_FALSE(commands.empty());
  EXPECT_EQ(commands.back().code, 9);
  EXPECT_EQ(commands.back().timeout_ms, 1000);
  EXPECT_TRUE(program_->Link().IsOpen());
  // The private files live in the base folder.
  EXPECT_TRUE(std::filesystem::exists(dir_.path / "kest2.dll"));
  EXPECT_TRUE(std::filesystem::exists(dir_.path / kChangeLogName));
  EXPECT_EQ(program_->PrivatePaths().working_copy, dir_.path / "k_est1.dll");
  EXPECT_EQ(host_.Count(Kind::kMessageBox), 0u);
}

TEST_F(ProgramFixture, WriteFromFileAddressIsUsableAfterStartUpUntilAWriteHoldsTheImage) {
  Make();
  EXPECT_TRUE(host_.Commands().IsMenuGrayed(c::kWriteFromFileAddress));
  StartUp();
  EXPECT_FALSE(host_.Commands().IsMenuGrayed(c::kWriteFromFileAddress));
  // The write grays Open and with it this other way of loading an image.
  const auto image = dir_.path / "image.bin";
  std::ofstream(image, std::ios::binary) << std::string(4096, '\x5A');
  ASSERT_TRUE(program_->Files().Load(image, true));
  host_.HoldNextProgress();
  program_->TheWorker().Give(w::kWrite);
  ASSERT_TRUE(host_.WaitHeld());
  EXPECT_TRUE(host_.Commands().IsMenuGrayed(c::kWriteFromFileAddress));
  host_.Release();
  ASSERT_TRUE(program_->TheWorker().WaitForIdle(20s));
  EXPECT_FALSE(host_.Commands().IsMenuGrayed(c::kWriteFromFileAddress));
}

TEST_F(ProgramFixture, WithoutTheDatabaseTheListsStayEmptyAndRecognitionStillRuns) {
  Make(false);
  StartUp();
  const auto boxes = host_.RecordsOf(Kind::kMessageBox);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "cannot find database file ");
  EXPECT_EQ(boxes[0].title, "warning");
  EXPECT_EQ(boxes[0].icon, BoxIcon::kWarning);
  EXPECT_TRUE(program_->Selection().Types().empty());
  EXPECT_TRUE(program_->Selection().Manufacturers().empty());
  EXPECT_TRUE(program_->Selection().Models().empty());
  EXPECT_EQ(program_->TheWorker().Runs(), 1u);
  EXPECT_EQ(State().command_code.load(), w::kIdle);
}

TEST_F(ProgramFixture, ADatabaseThatCannotBeOpenedForWritingCountsAsMissing) {
  // A folder of that name can be read but never opened for writing, whatever the
  // rights of the user (root included).
  std::filesystem::create_directory(dir_.path / "database.dat");
  Make(false);
  StartUp();
  EXPECT_EQ(host_.BoxTexts(), (std::vector<std::string>{"cannot find database file "}));
  EXPECT_TRUE(program_->Selection().Types().empty());
}

TEST_F(ProgramFixture, AReadOnlyDatabaseCountsAsMissing) {
  std::filesystem::copy_file(TARVIX_DATABASE_DAT, dir_.path / "database.dat");
  std::filesystem::permissions(dir_.path / "database.dat", std::filesystem::perms::owner_read);
  if (::access((dir_.path / "database.dat").c_str(), W_OK) == 0)
    GTEST_SKIP() << "running with rights that ignore file modes (the folder case covers it)";
  Make(false);
  StartUp();
  EXPECT_EQ(host_.BoxTexts(), (std::vector<std::string>{"cannot find database file "}));
  EXPECT_TRUE(program_->Selection().Types().empty());
}

TEST_F(ProgramFixture, SynchronousWorkerRunsTheStartUpRecognitionOnTheCaller) {
  Make(true, false);
  program_->StartUp();
  EXPECT_EQ(State().command_code.load(), w::kRecognition);
  EXPECT_EQ(program_->TheWorker().Runs(), 0u);
  program_->TheWorker().RunUntilIdle();
  EXPECT_EQ(program_->TheWorker().Runs(), 1u);
  EXPECT_EQ(State().command_code.load(), w::kIdle);
}

TEST_F(ProgramFixture, EraseWhileIdleRunsOnceThenIdle) {
  Make();
  StartUp();
  programmer_.chip()->Load(0, std::vector<std::uint8_t>(32, 0x12).data(), 32);
  traffic_.Clear();
  EXPECT_TRUE(program_->Buttons().Press(c::kErase));
  ASSERT_TRUE(program_->TheWorker().WaitForIdle(20s));
  EXPECT_EQ(traffic_.CountCommand(5), 1u);
  EXPECT_EQ(program_->TheWorker().Runs(), 2u);
  EXPECT_EQ(State().command_code.load(), w::kIdle);
  EXPECT_EQ(programmer_.chip()->ReadByte(0), 0xFF);
  EXPECT_EQ(host_.Commands().Caption(c::kErase), "Erase(F4)");
  EXPECT_EQ(host_.LastStatus().text.rfind("erase succeed.", 0), 0u) << host_.LastStatus().text;
}

TEST_F(ProgramFixture, VersionAndChipFillCommandsReachTheirRoutines) {
  Make();
  StartUp();
  program_->TheWorker().Give(w::kFirmwareVersion);
  ASSERT_TRUE(program_->TheWorker().WaitForIdle(20s));
  const auto boxes = host_.RecordsOf(Kind::kMessageBox);
  ASSERT_FALSE(boxes.empty());
  EXPECT_EQ(boxes.back().title, "version information");

  ChipFillDialog& fill = program_->ChipFill();
  fill.Open(program_->Packet());
  FillFields fields = fill.Fields();
  fields.address = "10";
  fields.length = "16";
  fields.data_byte = "5A";
  fill.SetFields(fields);
  ASSERT_TRUE(fill.Accept(host_));
  program_->TheWorker().Give(w::kChipFill);
  ASSERT_TRUE(program_->TheWorker().WaitForIdle(20s));
  EXPECT_EQ(programmer_.chip()->ReadRange(0x10, 16), std::vector<std::uint8_t>(16, 0x5A))
      << fill.StateLine();
  EXPECT_EQ(programmer_.chip()->ReadByte(0x20), 0xFF);
}

TEST_F(ProgramFixture, ViewDataReadsTheChipOnTheWorker) {
  Make();
  StartUp();
  const std::uint8_t bytes[] = {0xC3, 0x3C};
  programmer_.chip()->Load(0x1000, bytes, 2);
  const std::uint64_t runs = program_->TheWorker().Runs();
  traffic_.Clear();
  ViewDataDialog& view = program_->ViewData();
  view.SetAddressText("1000");
  program_->ViewDataOk();
  ASSERT_TRUE(program_->TheWorker().WaitForIdle(20s));
  EXPECT_EQ(program_->TheWorker().Runs(), runs + 1);
  EXPECT_EQ(view.Texts().chip_data, "C3");
  EXPECT_EQ(view.Texts().state, "file unopened,chip read succeed...");
  EXPECT_FALSE(view.ChipReadPending());
  EXPECT_EQ(host_.LastStatus().text, "finished...");
  EXPECT_EQ(CommandsWith(17).size(), 1u);
  // The worker's end-of-run command follows, as after every command.
  EXPECT_EQ(traffic_.Commands().back().code, 9);
  EXPECT_EQ(State().command_code.load(), w::kIdle);
}

TEST_F(ProgramFixture, ViewDataWithoutAWorkerThreadRunsOnTheCaller) {
  Make(true, false);
  program_->StartUp();
  program_->TheWorker().RunUntilIdle();
  const std::uint8_t byte = 0x6D;
  programmer_.chip()->Load(0x20, &byte, 1);
  program_->ViewData().SetAddressText("20");
  program_->ViewDataOk();
  EXPECT_EQ(program_->ViewData().Texts().chip_data, "6D");
  EXPECT_EQ(State().command_code.load(), w::kIdle);
}

TEST_F(ProgramFixture, EachDeviceChangeNoticeRunsOneRecognition) {
  Make();
  StartUp();
  const std::uint64_t runs = program_->TheWorker().Runs();
  bus_.Unplug();
  ASSERT_TRUE(program_->TheWorker().WaitForIdle(20s));
  EXPECT_EQ(program_->TheWorker().Runs(), runs + 1);
  EXPECT_EQ(host_.LastStatus().text, "device is unconnected");
  bus_.Replug();
  ASSERT_TRUE(program_->TheWorker().WaitForIdle(20s));
  EXPECT_EQ(program_->TheWorker().Runs(), runs + 2);
  EXPECT_EQ(State().device_change_count.load(), 0);
  EXPECT_EQ(State().link_event.load(), 0);
  EXPECT_TRUE(program_->Link().IsOpen());
}

TEST_F(ProgramFixture, ANewCurrentChipRecomputesTheImagesChipRows) {
  Make();
  StartUp();
  std::ofstream(dir_.path / "small.bin", std::ios::binary) << std::string(100, 'x');
  ASSERT_TRUE(program_->Files().Load(dir_.path / "small.bin", true));
  program_->Selection().SelectRecord(static_cast<std::int32_t>(FindRecord("AT24C02")));
  EXPECT_EQ(program_->Image().ChipRows(), 256u / 16);
  program_->Selection().SelectRecord(static_cast<std::int32_t>(FindRecord("W25Q128FV")));
  EXPECT_EQ(program_->Image().ChipRows(), 16u * 1024 * 1024 / 16);
}

TEST_F(ProgramFixture, CloseWhileIdleAsksNothingAndCleansUp) {
  Make();
  StartUp();
  std::filesystem::create_directory(dir_.path / "temp");
  std::ofstream(dir_.path / "temp" / "tempFile.bin") << "scratch";
  std::ofstream(dir_.path / "image.bin", std::ios::binary) << std::string(64, 'a');
  ASSERT_TRUE(program_->Files().Load(dir_.path / "image.bin", true));
  ASSERT_TRUE(program_->Link().IsOpen());

  EXPECT_TRUE(program_->CloseWindow());
  EXPECT_EQ(host_.Count(Kind::kMessageBox), 0u);
  EXPECT_FALSE(program_->Link().IsOpen());
  EXPECT_FALSE(program_->Image().Loaded());
  EXPECT_FALSE(std::filesystem::exists(dir_.path / "temp"));
  EXPECT_TRUE(program_->TheWorker().Ended());
  EXPECT_EQ(State().exit_request.load(), 1);
}

TEST_F(ProgramFixture, CloseKeepsATempFolderThatHoldsOtherFiles) {
  Make();
  StartUp();
  std::filesystem::create_directory(dir_.path / "temp");
  std::ofstream(dir_.path / "temp" / "tempFile.bin") << "scratch";
  std::ofstream(dir_.path / "temp" / "mine.txt") << "keep";
  EXPECT_TRUE(program_->CloseWindow());
  EXPECT_FALSE(std::filesystem::exists(dir_.path / "temp" / "tempFile.bin"));
  EXPECT_TRUE(std::filesystem::exists(dir_.path / "temp" / "mine.txt"));
}

// The questions look only at the busy flags; here all four are set and the answers
// decide how far the close goes.
TEST_F(ProgramFixture, CloseAsksTheFourQuestionsInOrderAndCancelKeepsTheWindow) {
  Make();
  StartUp();
  traffic_.Clear();
  for (auto* busy : {&State().busy_erasing, &State().busy_writing, &State().busy_verifying,
                     &State().busy_reading})
    busy->store(1);
  for (BoxAnswer a : {BoxAnswer::kOk, BoxAnswer::kOk, BoxAnswer::kOk, BoxAnswer::kCancel})
    host_.QueueAnswer(a);

  EXPECT_FALSE(program_->CloseWindow());
  const auto boxes = host_.RecordsOf(Kind::kMessageBox);
  ASSERT_EQ(boxes.size(), 4u);
  EXPECT_EQ(boxes[0].text, "chip is erasing,still exist?      ");
  EXPECT_EQ(boxes[1].text, "chip is writing,still exist?      ");
  EXPECT_EQ(boxes[2].text, "file is verifying,still exist?      ");
  EXPECT_EQ(boxes[3].text, "chip is reading,still exist?      ");
  for (const HostRecord& b : boxes) {
    EXPECT_EQ(b.title, "info");
    EXPECT_EQ(b.icon, BoxIcon::kQuestion);
    EXPECT_EQ(b.buttons, BoxButtons::kOkCancel);
  }
  EXPECT_EQ(State().stop_erase.load(), 1);
  EXPECT_EQ(State().stop_write.load(), 1);
  EXPECT_EQ(State().read_abandoned.load(), 0);
  // Code 9 at 100 ms for the erase and for the verify.
  const auto nines = CommandsWith(9);
  ASSERT_EQ(nines.size(), 2u);
  for (const SentCommand& s : nines) EXPECT_EQ(s.timeout_ms, 100);
  // Nothing was closed; the worker still serves.
  EXPECT_TRUE(program_->Link().IsOpen());
  EXPECT_EQ(State().exit_request.load(), 0);
  EXPECT_FALSE(program_->TheWorker().Ended());
}

TEST_F(ProgramFixture, CancelAtTheFirstQuestionChangesNothing) {
  Make();
  StartUp();
  traffic_.Clear();
  State().busy_writing = 1;
  host_.QueueAnswer(BoxAnswer::kCancel);
  EXPECT_FALSE(program_->CloseWindow());
  EXPECT_EQ(State().stop_write.load(), 0);
  EXPECT_TRUE(traffic_.Transfers().empty());
  State().busy_writing = 0;
}

class ProgramReadClose : public ProgramFixture {
 protected:
  // Starts a read of the chip and holds the worker inside it. Callers assert on the
  // result: a failed ASSERT inside a helper only leaves the helper, and the test would
  // then wait for a read that never runs.
  [[nodiscard]] ::testing::AssertionResult StartHeldRead() {
    Make();
    StartUp();
    if (::testing::Test::HasFatalFailure())
      return ::testing::AssertionFailure() << "start-up failed";
    program_->Selection().SelectRecord(static_cast<std::int32_t>(chip_record_));
    traffic_.Clear();
    host_.HoldNextProgress();
    if (!program_->Buttons().Press(c::kRead))
      return ::testing::AssertionFailure() << "the Read button did not start a read";
    if (!host_.WaitHeld()) return ::testing::AssertionFailure() << "the read never showed progress";
    if (State().busy_reading.load() != 1)
      return ::testing::AssertionFailure() << "the held read does not say it is reading";
    return ::testing::AssertionSuccess();
  }
  // Waits, with a bound, for `done`; false when it never came.
  static bool WaitFor(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!done()) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(1ms);
    }
    return true;
  }
};

TEST_F(ProgramReadClose, OkAbandonsTheReadAndEndsTheProgram) {
  ASSERT_TRUE(StartHeldRead());
  std::filesystem::create_directory(dir_.path / "temp");
  std::ofstream(dir_.path / "temp" / "tempFile.bin") << "scratch";
  host_.QueueAnswer(BoxAnswer::kOk);
  // The read goes on once the close has asked it to stop (or, should the close never
  // ask, after the bound, so the test fails instead of hanging).
  std::atomic<bool> asked{false};
  std::thread release([this, &asked] {
    asked = WaitFor([this] { return State().read_abandoned.load() != 0; });
    host_.Release();
  });
  EXPECT_TRUE(program_->CloseWindow());
  release.join();
  EXPECT_TRUE(asked.load());
  EXPECT_EQ(host_.BoxTexts(), (std::vector<std::string>{"chip is reading,still exist?      "}));
  EXPECT_EQ(State().read_abandoned.load(), 1);
  bool sent_100 = false;
  for (const SentCommand& s : CommandsWith(9)) sent_100 = sent_100 || s.timeout_ms == 100;
  EXPECT_TRUE(sent_100);
  EXPECT_FALSE(program_->Link().IsOpen());
  EXPECT_FALSE(std::filesystem::exists(dir_.path / "temp"));
  EXPECT_TRUE(program_->TheWorker().Ended());
}

TEST_F(ProgramReadClose, CancelLeavesTheReadRunning) {
  ASSERT_TRUE(StartHeldRead());
  host_.QueueAnswer(BoxAnswer::kCancel);
  EXPECT_FALSE(program_->CloseWindow());
  EXPECT_EQ(State().read_abandoned.load(), 0);
  EXPECT_EQ(State().busy_reading.load(), 1);
  EXPECT_TRUE(CommandsWith(9).empty());
  host_.Release();
  ASSERT_TRUE(program_->TheWorker().WaitForIdle(20s));
  // The read ran to its end and loaded the chip's data.
  EXPECT_TRUE(program_->Image().Loaded());
  EXPECT_EQ(program_->Image().Size(), programmer_.chip()->capacity());
  EXPECT_FALSE(program_->TheWorker().Ended());
}

TEST_F(ProgramFixture, CloseDuringAVerifyStopsItBeforeTheLinkCloses) {
  Make();
  StartUp();
  program_->Selection().SelectRecord(static_cast<std::int32_t>(chip_record_));
  const auto image = dir_.path / "image.bin";
  std::ofstream(image, std::ios::binary) << std::string(4096, '\x5A');
  ASSERT_TRUE(program_->Files().Load(image, true));
  host_.HoldNextProgress();
  host_.QueueAnswer(BoxAnswer::kOk);  // "verify ... continue ?" pre-check, if asked
  EXPECT_TRUE(program_->Buttons().Press(c::kVerify));
  ASSERT_TRUE(host_.WaitHeld());
  ASSERT_EQ(State().busy_verifying.load(), 1);
  host_.QueueAnswer(BoxAnswer::kOk);
  // The window's half: questions and stop requests, no waiting.
  ASSERT_TRUE(program_->BeginClose());
  EXPECT_EQ(State().stop_verify.load(), 1);
  EXPECT_EQ(State().exit_request.load(), 1);
  EXPECT_FALSE(program_->WorkerEnded());
  EXPECT_TRUE(program_->Link().IsOpen());  // still in use by the verify
  host_.Release();
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (!program_->WorkerEnded() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(1ms);
  ASSERT_TRUE(program_->WorkerEnded());
  program_->FinishClose();
  EXPECT_FALSE(program_->Link().IsOpen());
  EXPECT_FALSE(program_->Image().Loaded());
}

TEST_F(ProgramReadClose, ViewDataWhileAReadRunsLeavesTheProgrammerToTheRead) {
  ASSERT_TRUE(StartHeldRead());
  ViewDataDialog& view = program_->ViewData();
  view.SetAddressText("10");
  program_->ViewDataOk();
  EXPECT_EQ(view.Texts().chip_data, "null");
  EXPECT_EQ(view.Texts().state, "file unopened,device is busy...");
  EXPECT_FALSE(view.ChipReadPending());
  EXPECT_EQ(State().command_code.load(), w::kRead);
  host_.Release();
  ASSERT_TRUE(program_->TheWorker().WaitForIdle(20s));
  EXPECT_TRUE(CommandsWith(17).empty());
  // The read ran to its end undisturbed.
  EXPECT_TRUE(program_->Image().Loaded());
  EXPECT_EQ(program_->Image().Size(), programmer_.chip()->capacity());
  EXPECT_EQ(view.Texts().state, "file unopened,device is busy...");
}

TEST_F(ProgramFixture, ExistEndsWithoutQuestionsOrCleanUp) {
  Make();
  StartUp();
  std::filesystem::create_directory(dir_.path / "temp");
  std::ofstream(dir_.path / "temp" / "tempFile.bin") << "scratch";
  State().busy_writing = 1;
  program_->Exist();
  EXPECT_TRUE(program_->ExistRequested());
  EXPECT_EQ(host_.Count(Kind::kMessageBox), 0u);
  EXPECT_TRUE(program_->Link().IsOpen());
  EXPECT_TRUE(std::filesystem::exists(dir_.path / "temp" / "tempFile.bin"));
  EXPECT_EQ(State().exit_request.load(), 0);
  State().busy_writing = 0;
}

// Bulk mode on the worker thread with the real auto sequence: the test plays the
// operator, swapping chips through the simulated bus.
class ProgramBulk : public ProgramFixture {
 protected:
  void SetUp() override {
    Make();
    StartUp();
    std::ofstream(dir_.path / "image.bin", std::ios::binary) << std::string(5000, 'Z');
    ASSERT_TRUE(program_->Files().Load(dir_.path / "image.bin", true));
    program_->SetOperation(w::kAuto, [this] {
      const bool ok = AutoSequence(program_->Context());
      programmed_.push_back(programmer_.chip());
      results_.push_back(ok);
      if (on_done_) on_done_();
    });
  }
  // A fresh chip of the same part, numbered by the order it went in.
  void SwapLater(std::int64_t remove_after_ms, std::int64_t insert_after_ms) {
    const std::int64_t now = clock_.NowMs();
    bus_.At(now + remove_after_ms,
            [this](sim::SimBus& bus) { kept_.push_back(bus.Programmer().RemoveChip()); });
    bus_.At(now + insert_after_ms, [this](sim::SimBus& bus) {
      bus.Programmer().InsertChip(sim::VirtualChip::FromRecord(catalogue_.Record(chip_record_)));
    });
  }

  std::vector<const sim::VirtualChip*> programmed_;
  std::vector<bool> results_;
  std::vector<std::unique_ptr<sim::VirtualChip>> kept_;  // chips taken out stay alive
  std::function<void()> on_done_;
  std::string caption_;
};

TEST_F(ProgramBulk, EverySwappedChipIsProgrammedOnce) {
  on_done_ = [this] {
    if (programmed_.size() == 4) {
      program_->Bulk().TimerTick(kBulkTimerId);  // the window's timer, within 20 ms
      caption_ = host_.Commands().Caption(c::kBulkMode);
      program_->State().bulk_mode = 0;
    } else {
      SwapLater(1000, 2000);
    }
  };
  program_->Bulk().Press();
  ASSERT_TRUE(program_->TheWorker().WaitForIdle(60s));
  ASSERT_EQ(programmed_.size(), 4u);
  EXPECT_EQ(std::set<const sim::VirtualChip*>(programmed_.begin(), programmed_.end()).size(), 4u);
  EXPECT_EQ(results_, std::vector<bool>(4, true));
  EXPECT_EQ(program_->State().bulk_success_count.load(), 4);
  for (const auto& chip : kept_) EXPECT_EQ(chip->ReadByte(4999), 'Z');
  EXPECT_EQ(program_->State().command_code.load(), w::kIdle);
  EXPECT_EQ(caption_, "Stop bulk 4 (F2)");
}

TEST_F(ProgramBulk, AChipLeftInTheSocketIsNotProgrammedAgain) {
  // Nobody swaps: after a minute of waiting the operator switches bulk mode off.
  on_done_ = [this] {
    bus_.At(clock_.NowMs() + 60000, [this](sim::SimBus&) { program_->State().bulk_mode = 0; });
  };
  program_->Bulk().Press();
  ASSERT_TRUE(program_->TheWorker().WaitForIdle(60s));
  EXPECT_EQ(programmed_.size(), 1u);
  EXPECT_GE(clock_.NowMs(), 60000);
}

TEST_F(ProgramBulk, AChipTakenOutAndPutBackIsProgrammedAgainOnlyAfterTheEmptySocketWasSeen) {
  // Out for a while, then the same chip back: it counts as a new insertion.
  on_done_ = [this] {
    if (programmed_.size() == 2) {
      program_->State().bulk_mode = 0;
      return;
    }
    const std::int64_t now = clock_.NowMs();
    bus_.At(now + 1000,
            [this](sim::SimBus& bus) { kept_.push_back(bus.Programmer().RemoveChip()); });
    bus_.At(now + 2000, [this](sim::SimBus& bus) {
      bus.Programmer().InsertChip(std::move(kept_.back()));
      kept_.pop_back();
    });
  };
  program_->Bulk().Press();
  ASSERT_TRUE(program_->TheWorker().WaitForIdle(60s));
  ASSERT_EQ(programmed_.size(), 2u);
  EXPECT_EQ(programmed_[0], programmed_[1]);
}

// The guards keep their locks in a folder of the test's own.
class StartUpGuards : public ::testing::Test {
 protected:
  StartUpGuards() {
    if (const char* old = ::getenv("XDG_RUNTIME_DIR")) old_ = old;
    ::setenv("XDG_RUNTIME_DIR", dir_.path.c_str(), 1);
  }
  ~StartUpGuards() override {
    if (old_.empty())
      ::unsetenv("XDG_RUNTIME_DIR");
    else
      ::setenv("XDG_RUNTIME_DIR", old_.c_str(), 1);
  }
  ScratchFolder dir_;
  std::string old_;
};

TEST_F(StartUpGuards, SecondCopyAndSiblingProgramAreRefusedWithTheirMessages) {
  RecordingHost host;
  {
    InstanceGuard sibling(InstanceGuard::kSiblingLock);
    ASSERT_TRUE(sibling.Held());
    EXPECT_EQ(PassStartUpGuards(host), nullptr);
  }
  auto first = PassStartUpGuards(host);
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(first->Held());
  EXPECT_EQ(PassStartUpGuards(host), nullptr);
  // After the sibling ended it starts; the sibling's lock is not kept.
  InstanceGuard sibling_again(InstanceGuard::kSiblingLock);
  EXPECT_TRUE(sibling_again.Held());

  const auto boxes = host.RecordsOf(Kind::kMessageBox);
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, "请关闭VRNT_HalcyrinII Inner！    ");
  EXPECT_EQ(boxes[1].text, "VRNT_Tarvix 高速编程器已经在运行！    ");
  for (const HostRecord& b : boxes) {
    EXPECT_EQ(b.title, "提示");
    EXPECT_EQ(b.icon, BoxIcon::kWarning);
  }
}

// The update check's firmware byte goes through the worker, never beside it.
TEST_F(ProgramFixture, UpdateCheckAsksTheIdleWorkerForTheFirmwareByte) {
  Make();
  StartUp();
  traffic_.Clear();
  const std::uint64_t runs = program_->TheWorker().Runs();
  ExchangeControl control(20s);
  const FirmwareByteReply reply = program_->FirmwareByteForUpdateCheck(control);
  EXPECT_FALSE(reply.busy);
  EXPECT_EQ(reply.byte, 0x12);
  ASSERT_TRUE(program_->TheWorker().WaitForIdle(20s));
  EXPECT_EQ(program_->TheWorker().Runs(), runs + 1);
  const auto version = CommandsWith(18);
  ASSERT_EQ(version.size(), 1u);
  EXPECT_EQ(version[0].timeout_ms, 100);
  // Quietly: no box, and the worker is idle again.
  EXPECT_EQ(host_.Count(Kind::kMessageBox), 0u);
  EXPECT_EQ(State().command_code.load(), w::kIdle);

  // A check that runs out of time as it asks still leaves the query to be answered
  // quietly: it must not turn into the menu's "Firmware Version" with its box.
  ExchangeControl expired(0ms);
  (void)program_->FirmwareByteForUpdateCheck(expired);
  ASSERT_TRUE(program_->TheWorker().WaitForIdle(20s));
  EXPECT_EQ(host_.Count(Kind::kMessageBox), 0u);
  EXPECT_EQ(State().command_code.load(), w::kIdle);

  // The menu's "Firmware Version" still shows its box afterwards.
  program_->TheWorker().Give(w::kFirmwareVersion);
  ASSERT_TRUE(program_->TheWorker().WaitForIdle(20s));
  const auto boxes = host_.RecordsOf(Kind::kMessageBox);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].title, "version information");
}

TEST_F(ProgramReadClose, UpdateCheckLeavesTheProgrammerToARunningRead) {
  ASSERT_TRUE(StartHeldRead());
  ExchangeControl control(20s);
  const FirmwareByteReply reply = program_->FirmwareByteForUpdateCheck(control);
  EXPECT_TRUE(reply.busy);
  EXPECT_EQ(reply.byte, std::nullopt);
  EXPECT_EQ(CommandsWith(18).size(), 0u);
  host_.Release();
  ASSERT_TRUE(program_->TheWorker().WaitForIdle(20s));
  // The read finished undisturbed and no version query ran after it.
  EXPECT_EQ(CommandsWith(18).size(), 0u);
  EXPECT_EQ(host_.Count(Kind::kMessageBox), 0u);
  EXPECT_EQ(State().command_code.load(), w::kIdle);
}

TEST_F(ProgramFixture, UpdateCheckWithoutAWorkerThreadReadsDirectly) {
  Make(true, false);
  program_->StartUp();
  program_->TheWorker().RunUntilIdle();
  traffic_.Clear();
  ExchangeControl control(20s);
  const FirmwareByteReply reply = program_->FirmwareByteForUpdateCheck(control);
  EXPECT_EQ(reply.byte, 0x12);
  EXPECT_EQ(CommandsWith(18).size(), 1u);
}

}  // namespace
}  // namespace tarvix::testing
