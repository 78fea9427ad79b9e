// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/operation_buttons.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "app/bulk_mode.h"
#include "app/settings.h"
#include "device/recording_host.h"
#include "operations/blank_check.h"
#include "operations/erase.h"
#include "operations/operation_fixture.h"
#include "operations/read.h"
#include "operations/verify.h"
#include "operations/write.h"

namespace tarvix {
namespace {

namespace c = control_id;
namespace w = worker_command;

// The handlers only hand commands over; a worker that is never started keeps the
// code they set, so the tests read it back.
class ButtonsFixture : public ::testing::Test {
 protected:
  ButtonsFixture()
      : settings_(std::filesystem::temp_directory_path() / "tarvix_buttons_kest2.dll"),
        host_(&state_),
        worker_(state_, {}),
        bulk_(state_, settings_, host_, host_.Commands(), worker_),
        buttons_(state_, host_.Commands(), worker_, &bulk_) {
    state_.command_code = w::kIdle;
  }
  ~ButtonsFixture() override {
    std::filesystem::remove(std::filesystem::temp_directory_path() / "tarvix_buttons_kest2.dll");
  }

  // What the write operation does to the controls at its start.
  void StartWrite() {
    const OperationControls& controls = ControlsOf(RunningOperation::kWrite);
    for (int id : controls.commands) host_.Commands().DisableCommand(id);
    for (int id : controls.menu_grayed) host_.Commands().GrayMenuItem(id);
    host_.Commands().SetBusyCaption(controls.button, true);
  }

  MainState state_;
  Settings settings_;
  RecordingHost host_;
  Worker worker_;
  BulkMode bulk_;
  OperationCommands buttons_;
};

TEST_F(ButtonsFixture, IdleButtonClearsItsStopRequestAndHandsItsCommandOver) {
  struct Case {
    int id;
    WorkerCommand code;
    std::atomic<std::uint8_t>* stop;
  };
  for (const Case k : {Case{c::kErase, w::kErase, &state_.stop_erase},
                       Case{c::kWrite, w::kWrite, &state_.stop_write},
                       Case{c::kVerify, w::kVerify, &state_.stop_verify},
                       Case{c::kRead, w::kRead, &state_.stop_read},
                       Case{c::kBlank, w::kBlankCheck, &state_.stop_blank}}) {
    state_.command_code = w::kIdle;
    k.stop->store(1);
    EXPECT_TRUE(buttons_.Press(k.id));
    EXPECT_EQ(state_.command_code.load(), k.code) << k.id;
    EXPECT_EQ(k.stop->load(), 0) << k.id;
  }
}

TEST_F(ButtonsFixture, BusyButtonOnlyRaisesItsStopRequest) {
  for (int id : {c::kErase, c::kWrite, c::kVerify, c::kRead, c::kBlank}) {
    host_.Commands().SetBusyCaption(id, true);
    state_.command_code = 77;  // the running command
    const OperationButton* button = FindOperationButton(id);
    ASSERT_NE(button, nullptr);
    std::atomic<std::uint8_t>* stop = StopFlag(state_, button->stop);
    stop->store(0);
    EXPECT_TRUE(buttons_.Press(id));
    EXPECT_EQ(stop->load(), 1) << id;
    EXPECT_EQ(state_.command_code.load(), 77) << "a second run was started by " << id;
    host_.Commands().SetBusyCaption(id, false);
  }
}

TEST_F(ButtonsFixture, CaptionsNotStartingWithStopStartTheOperation) {
  host_.Commands().SetCaption(c::kErase, "Sto erase(F4)");
  EXPECT_TRUE(buttons_.Press(c::kErase));
  EXPECT_EQ(state_.command_code.load(), w::kErase);
  EXPECT_EQ(state_.stop_erase.load(), 0);
}

TEST_F(ButtonsFixture, AutoClearsEraseWriteVerifyStopsButNotReadAndBlank) {
  for (auto* flag : {&state_.stop_erase, &state_.stop_write, &state_.stop_verify, &state_.stop_read,
                     &state_.stop_blank})
    flag->store(1);
  EXPECT_TRUE(buttons_.Press(c::kAuto));
  EXPECT_EQ(state_.command_code.load(), w::kAuto);
  EXPECT_EQ(state_.stop_erase.load(), 0);
  EXPECT_EQ(state_.stop_write.load(), 0);
  EXPECT_EQ(state_.stop_verify.load(), 0);
  EXPECT_EQ(state_.stop_read.load(), 1);
  EXPECT_EQ(state_.stop_blank.load(), 1);
}

TEST_F(ButtonsFixture, TestHandsOverCommand23AndOtherIdsAreNotOurs) {
  EXPECT_TRUE(buttons_.Press(c::kTest));
  EXPECT_EQ(state_.command_code.load(), w::kChipTest);
  state_.command_code = w::kIdle;
  EXPECT_FALSE(buttons_.Press(c::kBrowse));
  EXPECT_FALSE(buttons_.Press(32806));
  EXPECT_EQ(state_.command_code.load(), w::kIdle);
}

TEST_F(ButtonsFixture, FunctionKeysDuringAWrite) {
  StartWrite();
  for (Key key : {Key::kF4, Key::kF7, Key::kF8, Key::kF3, Key::kF5, Key::kF9}) {
    const KeyOutcome out = TranslateKey(key, false, host_.Commands(), true);
    EXPECT_TRUE(out.swallowed) << static_cast<int>(key);
    EXPECT_EQ(out.send, 0) << static_cast<int>(key);
  }
  const KeyOutcome open = TranslateKey(Key::kO, true, host_.Commands(), true);
  EXPECT_TRUE(open.swallowed);
  EXPECT_EQ(open.send, 0);

  // F6 reaches the busy Write button, which stops the write.
  const KeyOutcome f6 = TranslateKey(Key::kF6, false, host_.Commands(), true);
  ASSERT_EQ(f6.send, c::kWrite);
  state_.command_code = w::kWrite;
  EXPECT_TRUE(buttons_.Press(f6.send));
  EXPECT_EQ(state_.stop_write.load(), 1);
  EXPECT_EQ(state_.command_code.load(), w::kWrite);

  // F2 still toggles bulk mode.
  const KeyOutcome f2 = TranslateKey(Key::kF2, false, host_.Commands(), true);
  ASSERT_EQ(f2.send, c::kBulkMode);
  EXPECT_TRUE(buttons_.Press(f2.send));
  EXPECT_EQ(state_.bulk_mode.load(), 1);
}

TEST_F(ButtonsFixture, KeysWhileIdle) {
  const struct {
    Key key;
    int id;
  } kKeys[] = {{Key::kF9, c::kAuto},   {Key::kF4, c::kErase},   {Key::kF6, c::kWrite},
               {Key::kF8, c::kVerify}, {Key::kF7, c::kRead},    {Key::kF3, c::kBlank},
               {Key::kF5, c::kTest},   {Key::kF2, c::kBulkMode}};
  for (const auto& k : kKeys) {
    const KeyOutcome out = TranslateKey(k.key, false, host_.Commands(), true);
    EXPECT_TRUE(out.swallowed);
    EXPECT_EQ(out.send, k.id);
  }
  EXPECT_EQ(TranslateKey(Key::kO, true, host_.Commands(), true).send, c::kBrowse);
  // Plain O and other keys go on to normal dispatch.
  EXPECT_FALSE(TranslateKey(Key::kO, false, host_.Commands(), true).swallowed);
  EXPECT_FALSE(TranslateKey(Key::kOther, true, host_.Commands(), true).swallowed);
}

TEST_F(ButtonsFixture, EscapeNeverClosesAndEnterCommitsOnlyWithFocus) {
  const KeyOutcome escape = TranslateKey(Key::kEscape, false, host_.Commands(), true);
  EXPECT_TRUE(escape.swallowed);
  EXPECT_EQ(escape.send, 0);
  EXPECT_FALSE(escape.commit_cell);
  const KeyOutcome enter = TranslateKey(Key::kEnter, false, host_.Commands(), true);
  EXPECT_TRUE(enter.swallowed);
  EXPECT_TRUE(enter.commit_cell);
  const KeyOutcome unfocused = TranslateKey(Key::kEnter, false, host_.Commands(), false);
  EXPECT_TRUE(unfocused.swallowed);
  EXPECT_FALSE(unfocused.commit_cell);
}

TEST(OperationControls, EveryGrayedControlComesBackAndBulkModeIsNeverGrayed) {
  for (RunningOperation op :
       {RunningOperation::kWrite, RunningOperation::kErase, RunningOperation::kBlankCheck,
        RunningOperation::kRead, RunningOperation::kVerify}) {
    const OperationControls& controls = ControlsOf(op);
    const std::set<int> commands(controls.commands.begin(), controls.commands.end());
    EXPECT_EQ(commands.count(c::kBulkMode), 0u);
    // The running operation's own button stays enabled so a press can stop it.
    EXPECT_EQ(commands.count(controls.button), 0u);
    const std::set<int> enabled(controls.menu_enabled.begin(), controls.menu_enabled.end());
    for (int id : controls.menu_grayed) {
      const bool conditional = id == c::kFileFill && controls.file_fill_when_edit_mode;
      EXPECT_TRUE(enabled.count(id) || conditional) << "menu item " << id << " left grayed";
    }
  }
  // Spot checks against the window's table.
  EXPECT_EQ(ControlsOf(RunningOperation::kWrite).commands,
            (std::vector<int>{1004, 1022, 1023, 1020, 1019, 1024, 1035}));
  EXPECT_EQ(ControlsOf(RunningOperation::kBlankCheck).commands.size(), 6u);
  EXPECT_EQ(ControlsOf(RunningOperation::kVerify).button, c::kVerify);
}

TEST(MainMenu, InitialStatesMatchTheCommandModelAndTheSettings) {
  std::set<int> grayed, checked;
  for (const MenuEntry& e : MainMenu()) {
    if (e.state == MenuState::kGrayed) grayed.insert(e.id);
    if (e.state == MenuState::kChecked) checked.insert(e.id);
    if (e.state == MenuState::kSeparator) {
      EXPECT_EQ(e.id, 0);
      EXPECT_TRUE(e.text.empty());
    }
  }
  EXPECT_EQ(grayed,
            std::set<int>(InitiallyGrayedMenuItems().begin(), InitiallyGrayedMenuItems().end()));
  std::set<int> settings;
  for (SettingItem item :
       {SettingItem::kRemindSound, SettingItem::kAutoRecognize, SettingItem::kBulkErase,
        SettingItem::kBulkWrite, SettingItem::kBulkVerify}) {
    settings.insert(SettingCommandId(item));
    const auto it = std::find_if(MainMenu().begin(), MainMenu().end(), [&](const MenuEntry& e) {
      return e.id == SettingCommandId(item);
    });
    ASSERT_NE(it, MainMenu().end());
    EXPECT_EQ(it->text, SettingCaption(item));
  }
  EXPECT_EQ(checked, settings);
  // Menu items of the operations carry the buttons' ids.
  for (const OperationButton& b : OperationButtonTable()) {
    EXPECT_TRUE(std::any_of(MainMenu().begin(), MainMenu().end(), [&](const MenuEntry& e) {
      return e.id == b.id;
    })) << b.id;
  }
}

}  // namespace
}  // namespace tarvix

namespace tarvix::testing {
namespace {

namespace c = control_id;

// The operations gray their controls themselves; the table the window and the keys
// rely on must say the same.
TEST(OperationControlsMatchTheOperations, EachOperationGraysAndRestoresItsTableSet) {
  struct Case {
    RunningOperation operation;
    std::function<bool(OperationContext&)> run;
  };
  const Case cases[] = {
      {RunningOperation::kWrite, [](OperationContext& c) { return WriteChip(c, false); }},
      {RunningOperation::kErase, [](OperationContext& c) { return EraseChip(c, false); }},
      {RunningOperation::kBlankCheck, [](OperationContext& c) { return BlankCheck(c); }},
      {RunningOperation::kRead, [](OperationContext& c) { return ReadChip(c); }},
      {RunningOperation::kVerify, [](OperationContext& c) { return VerifyChip(c, false); }},
  };
  for (const Case& k : cases) {
    OperationFixture f("W25Q32BV");
    f.Select("W25Q32BV");
    f.SetAutoRecognize(false);
    ASSERT_TRUE(f.link.OpenSequence());
    ASSERT_TRUE(f.LoadImageOfSize(4096));
    f.host.ClearRecords();
    (void)k.run(f.ctx);
    const OperationControls& table = ControlsOf(k.operation);
    const auto ids = [&](HostRecord::Kind kind) {
      std::set<int> out;
      for (const HostRecord& r : f.host.RecordsOf(kind)) out.insert(r.id);
      return out;
    };
    const auto set_of = [](const std::vector<int>& v) { return std::set<int>(v.begin(), v.end()); };
    const int op = static_cast<int>(k.operation);
    EXPECT_EQ(ids(HostRecord::Kind::kDisableCommand), set_of(table.commands)) << op;
    EXPECT_EQ(ids(HostRecord::Kind::kEnableCommand), set_of(table.commands)) << op;
    EXPECT_EQ(ids(HostRecord::Kind::kGrayMenuItem), set_of(table.menu_grayed)) << op;
    std::set<int> enabled = ids(HostRecord::Kind::kEnableMenuItem);
    if (k.operation == RunningOperation::kRead) {
      // Loading the chip data it read enables Save and Edit Mode itself.
      enabled.erase(c::kSave);
      enabled.erase(c::kEditMode);
    }
    EXPECT_EQ(enabled, set_of(table.menu_enabled)) << op;
    const auto busy = f.host.RecordsOf(HostRecord::Kind::kBusyCaption);
    ASSERT_EQ(busy.size(), 2u) << op;
    EXPECT_EQ(busy[0].id, table.button);
    EXPECT_TRUE(busy[0].flag);
    EXPECT_FALSE(busy[1].flag);
  }
}

}  // namespace
}  // namespace tarvix::testing
