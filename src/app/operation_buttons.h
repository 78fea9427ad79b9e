// SPDX-License-Identifier: GPL-3.0-or-later
// The operation buttons, their keys and the menu: what each button starts or stops,
// which controls each running operation grays, how the function keys reach the
// buttons, and the menu bar as the window builds it. Captions and tooltips live in
// CommandState (command_state.h); this file holds the logic behind the presses.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string_view>
#include <vector>

#include "app/help_contents.h"
#include "app/worker.h"
#include "state/command_state.h"
#include "state/gray_sets.h"
#include "state/main_state.h"

namespace tarvix {

class BulkMode;
class Host;

// A command pressed while bulk mode has the programmer would take the next chip's turn
// (or wait unseen): it is refused with this red line instead.
inline constexpr char kBulkModeHoldsTheProgrammer[] =
    "bulk mode is running! press F2 to stop it first";

// The flag a busy button raises.
enum class StopRequest : std::uint8_t { kNone, kErase, kWrite, kVerify, kRead, kBlank };

// The main-state flag of a stop request; null for kNone.
[[nodiscard]] std::atomic<std::uint8_t>* StopFlag(MainState& state, StopRequest request);

struct OperationButton {
  int id;
  WorkerCommand command;
  StopRequest stop;
};

// Auto, Erase, Write, Verify, Read, Blank and Test, in window order. Bulk Mode has a
// handler of its own (bulk_mode.h).
[[nodiscard]] const std::vector<OperationButton>& OperationButtonTable();
[[nodiscard]] const OperationButton* FindOperationButton(int id);

// Presses of the operation buttons, their menu items and their keys. Runs on the
// window thread; it only sets flags and hands commands to the worker.
class OperationCommands {
 public:
  // `bulk` handles the Bulk Mode button (1026); may be null where there is none.
  // `host` shows the refusal of a press while bulk mode runs (none without it).
  OperationCommands(MainState& state, CommandState& commands, Worker& worker, BulkMode* bulk,
                    Host* host = nullptr);

  // Asked before a read would replace the image (unsaved edits: save, let go, or
  // cancel); false keeps the read from starting.
  void SetReadGuard(std::function<bool()> guard) { read_guard_ = std::move(guard); }

  // A click, menu choice or key for command `id`. False when `id` is not one of the
  // operation commands (the caller dispatches it elsewhere).
  bool Press(int id);

  // Erase, Write, Verify, Read, Blank: a busy caption ("Stop...") raises the stop
  // request; otherwise the request is cleared and the command handed over.
  void ButtonPressed(const OperationButton& button);
  // Auto: command 14 with the erase, write and verify stop requests cleared.
  void AutoPressed();
  // Test: command 23.
  void TestPressed();

 private:
  // Bulk mode has the programmer: says so (red) and returns true.
  bool RefusedInBulkMode();

 public:
 private:
  MainState& state_;
  CommandState& commands_;
  Worker& worker_;
  BulkMode* bulk_;
  Host* host_;
  std::function<bool()> read_guard_;
};

// Keys the window looks at before normal dispatch.
enum class Key : std::uint8_t {
  kEscape,
  kEnter,
  kF2,
  kF3,
  kF4,
  kF5,
  kF6,
  kF7,
  kF8,
  kF9,
  kO,
  kOther
};

struct KeyBinding {
  Key key;
  bool ctrl;          // the key counts only with Ctrl held
  int command;        // the command sent to the window
  bool when_enabled;  // sent only while the control of that id is enabled
};
[[nodiscard]] const std::vector<KeyBinding>& KeyMap();

struct KeyOutcome {
  bool swallowed = false;    // not dispatched further
  int send = 0;              // the command to send to the window, 0 for none
  bool commit_cell = false;  // Enter: commit the hex view's cell edit
};
// `window_has_focus`: any window of the program has the keyboard focus.
[[nodiscard]] KeyOutcome TranslateKey(Key key, bool ctrl, const CommandState& commands,
                                      bool window_has_focus);

}  // namespace tarvix
