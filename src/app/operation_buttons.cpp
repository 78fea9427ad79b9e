// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/operation_buttons.h"

#include "app/bulk_mode.h"
#include "device/host.h"

namespace tarvix {

namespace c = control_id;

std::atomic<std::uint8_t>* StopFlag(MainState& state, StopRequest request) {
  switch (request) {
    case StopRequest::kErase:
      return &state.stop_erase;
    case StopRequest::kWrite:
      return &state.stop_write;
    case StopRequest::kVerify:
      return &state.stop_verify;
    case StopRequest::kRead:
      return &state.stop_read;
    case StopRequest::kBlank:
      return &state.stop_blank;
    case StopRequest::kNone:
      break;
  }
  return nullptr;
}

const std::vector<OperationButton>& OperationButtonTable() {
  namespace w = worker_command;
  static const std::vector<OperationButton> kButtons = {
      {c::kAuto, w::kAuto, StopRequest::kNone},
      {c::kErase, w::kErase, StopRequest::kErase},
      {c::kWrite, w::kWrite, StopRequest::kWrite},
      {c::kVerify, w::kVerify, StopRequest::kVerify},
      {c::kRead, w::kRead, StopRequest::kRead},
      {c::kBlank, w::kBlankCheck, StopRequest::kBlank},
      {c::kTest, w::kChipTest, StopRequest::kNone},
  };
  return kButtons;
}

const OperationButton* FindOperationButton(int id) {
  for (const OperationButton& b : OperationButtonTable())
    if (b.id == id) return &b;
  return nullptr;
}

OperationCommands::OperationCommands(MainState& state, CommandState& commands, Worker& worker,
                                     BulkMode* bulk, Host* host)
    : state_(state), commands_(commands), worker_(worker), bulk_(bulk), host_(host) {}

bool OperationCommands::RefusedInBulkMode() {
  if (state_.bulk_mode.load() == 0) return false;
  if (host_ != nullptr) host_->ShowStatus(kBulkModeHoldsTheProgrammer, true, true);
  return true;
}

bool OperationCommands::Press(int id) {
  if (id == c::kAuto) {
    AutoPressed();
    return true;
  }
  if (id == c::kTest) {
    TestPressed();
    return true;
  }
  if (id == c::kBulkMode) {
    if (bulk_ != nullptr) bulk_->Press();
    return bulk_ != nullptr;
  }
  const OperationButton* button = FindOperationButton(id);
  if (button == nullptr) return false;
  ButtonPressed(*button);
  return true;
}

void OperationCommands::ButtonPressed(const OperationButton& button) {
  std::atomic<std::uint8_t>* stop = StopFlag(state_, button.stop);
  // The caption is the button's state: a running operation shows its stop caption.
  if (commands_.Caption(button.id).compare(0, 4, "Stop") == 0) {
    if (stop != nullptr) stop->store(1);
    return;
  }
  if (RefusedInBulkMode()) return;
  if (button.command == worker_command::kRead && read_guard_ && !read_guard_()) return;
  if (stop != nullptr) stop->store(0);
  worker_.Give(button.command);
}

void OperationCommands::AutoPressed() {
  if (RefusedInBulkMode()) return;
  state_.stop_erase.store(0);
  state_.stop_write.store(0);
  state_.stop_verify.store(0);
  worker_.Give(worker_command::kAuto);
}

void OperationCommands::TestPressed() {
  if (RefusedInBulkMode()) return;
  worker_.Give(worker_command::kChipTest);
}

const std::vector<KeyBinding>& KeyMap() {
  static const std::vector<KeyBinding> kKeys = {
      {Key::kF9, false, c::kAuto, true},  {Key::kF4, false, c::kErase, true},
      {Key::kF6, false, c::kWrite, true}, {Key::kF8, false, c::kVerify, true},
      {Key::kF7, false, c::kRead, true},  {Key::kF3, false, c::kBlank, true},
      {Key::kF5, false, c::kTest, true},  {Key::kF2, false, c::kBulkMode, false},
      {Key::kO, true, c::kBrowse, true},
  };
  return kKeys;
}

KeyOutcome TranslateKey(Key key, bool ctrl, const CommandState& commands, bool window_has_focus) {
  KeyOutcome out;
  if (key == Key::kEscape) {
    out.swallowed = true;  // the window does not close on Escape
    return out;
  }
  if (key == Key::kEnter) {
    out.swallowed = true;
    out.commit_cell = window_has_focus;
    return out;
  }
  for (const KeyBinding& b : KeyMap()) {
    if (b.key != key || (b.ctrl && !ctrl)) continue;
    // A bound key is swallowed even when its button is grayed.
    out.swallowed = true;
    if (!b.when_enabled || commands.IsEnabled(b.command)) out.send = b.command;
    return out;
  }
  return out;
}

}  // namespace tarvix
