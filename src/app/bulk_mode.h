// SPDX-License-Identifier: GPL-3.0-or-later
// Bulk mode: the production loop. Once started, the worker runs the auto sequence,
// waits until the chip has been taken out and another put in, and runs it again,
// until the Bulk Mode button (or F2) switches it off. The button, its caption and the
// 20 ms animation timer are window-thread state here; the wait for the next chip
// runs on the worker.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "app/worker.h"
#include "operations/operation_context.h"
#include "state/command_state.h"
#include "state/main_state.h"

namespace tarvix {

class Clock;
class Host;
class Settings;

inline constexpr char kBulkNeedsAutoRecognize[] =
    "Please select \"Auto Recognize\" in menu \"Settings\"!   ";
inline constexpr char kBulkIdleCaption[] = "Bulk Mode(F2)";
inline constexpr int kBulkTimerId = 1;
inline constexpr int kBulkTimerPeriodMs = 20;
inline constexpr int kBulkAnimationFrames = 4;
// Pause between recognitions while waiting for the next chip.
inline constexpr int kBulkPollMs = 10;
// The one status line of the wait for the next chip. Repeated, it refreshes its line
// in the log pane (HostModel reports it with `replaced`), so a front end shows one
// line for the whole wait instead of one per look at the socket.
inline constexpr char kBulkWaitingForChip[] = "waiting for a chip";
// The refreshed line is shown again at most this often (its time stamp has seconds).
inline constexpr int kBulkWaitRefreshMs = 1000;

// "bulk mode stopped,%d chips finished": the wait's last line once the user ends it.
[[nodiscard]] std::string BulkStoppedText(std::int32_t count);
// A chip that is not the run's (another model, or an ID the catalogue does not
// know) is refused with this line (red), not programmed and not counted:
// "not programmed: the chip in the socket (ID %s) is not this run's %s".
[[nodiscard]] std::string ForeignChipText(const std::string& id_text, const std::string& run_model);

// "Stop bulk %d (F2)" with the chips finished in this run.
[[nodiscard]] std::string BulkRunningCaption(std::int32_t count);

class BulkMode {
 public:
  // The timer started or stopped; the window starts or stops its 20 ms timer.
  using TimerListener = std::function<void(bool running)>;

  BulkMode(MainState& state, const Settings& settings, Host& host, CommandState& commands,
           Worker& worker);

  // The Bulk Mode button and F2: switches bulk mode on (only with "Auto Recognize"
  // checked) or off. Off does not stop an auto run under way; it only keeps the
  // worker from starting another.
  void Press();
  // A window timer fired; ids other than the bulk timer are not ours.
  void TimerTick(int timer_id);

  [[nodiscard]] bool TimerRunning() const { return timer_running_.load(); }
  // The button's animation image, 0 to 3.
  [[nodiscard]] std::int32_t AnimationFrame() const { return state_.bulk_animation_frame.load(); }
  void SetTimerListener(TimerListener listener) { timer_listener_ = std::move(listener); }

 private:
  void SetTimer(bool running);

  MainState& state_;
  const Settings& settings_;
  Host& host_;
  CommandState& commands_;
  Worker& worker_;
  std::atomic<bool> timer_running_{false};
  TimerListener timer_listener_;
};

// One look at the socket: the chip recognition's result, read as -1 the socket is
// empty, 0 or 1 a chip is in it, anything else neither (the programmer is missing);
// and the status line the recognition would have shown.
struct SocketLook {
  int result = -1;
  std::string status;
  bool red = false;
};

// The worker's wait for the next chip (after-run step C). Waits for one empty socket,
// then for two detections in a row, pausing 10 ms on `clock` after every look (a
// recognition that answers at once must not spin a core). Returns kStopped as soon as
// bulk mode is off (or the program is closing).
// While it waits, `host` shows kBulkWaitingForChip, or the recognition's own status
// while the programmer is missing (with one warning beep when it goes), each again
// only when it changes or once a second. A `standing` line (a refused chip's) stays
// instead while the chip it is about is still in the socket.
[[nodiscard]] BulkWaitResult WaitForNextChip(MainState& state, Clock& clock, Host& host,
                                             const std::function<SocketLook()>& look,
                                             std::string_view standing = {});

// The wait as the program runs it: chip recognition on `ctx`, its status lines held
// back so that only the wait's own line shows. The chip the run was made for is the
// one selected when the wait starts; a different chip put in is refused (ForeignChipText)
// and the wait goes on for the next. Ended by the user, it says so (BulkStoppedText).
// With `silent_limit_ms` above 0 a programmer that has not answered for that long ends
// the wait too (`*silent` set): a gang's programmer is then given up by its own worker.
[[nodiscard]] BulkWaitResult WaitForNextChip(OperationContext& ctx,
                                             std::int64_t silent_limit_ms = 0,
                                             bool* silent = nullptr);

}  // namespace tarvix
