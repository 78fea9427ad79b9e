#include "app/bulk_mode.h"

#include "app/settings.h"
#include "device/clock.h"
#include "device/host.h"

namespace tarvix {

std::string BulkRunningCaption(std::int32_t count) {
  return "Stop bulk " + std::to_string(count) + " (F2)";
}

BulkMode::BulkMode(MainState& state, const Settings& settings, Host& host, CommandState& commands,
                   Worker& worker)
    : state_(state), settings_(settings), host_(host), commands_(commands), worker_(worker) {}

void BulkMode::Press() {
  if (state_.bulk_mode.load() != 0) {
    state_.bulk_mode.store(0);
    commands_.SetCaption(control_id::kBulkMode, kBulkIdleCaption);
    SetTimer(false);
    return;
  }
  // The wait for the next chip is done by recognition, which needs this setting.
  if (!settings_.IsOn(SettingItem::kAutoRecognize)) {
    host_.MessageBox(kBulkNeedsAutoRecognize, "info", BoxIcon::kInformation, BoxButtons::kOk);
    return;
  }
  state_.bulk_mode.store(1);
  state_.bulk_success_count.store(0);
  worker_.Give(worker_command::kAuto);
  commands_.SetCaption(control_id::kBulkMode, BulkRunningCaption(0));
  SetTimer(true);
}

void BulkMode::TimerTick(int timer_id) {
  if (timer_id != kBulkTimerId) return;
  const std::int32_t frame = (state_.bulk_animation_frame.load() + 1) % kBulkAnimationFrames;
  state_.bulk_animation_frame.store(frame);
  if (state_.bulk_mode.load() != 0) {
    commands_.SetCaption(control_id::kBulkMode,
                         BulkRunningCaption(state_.bulk_success_count.load()));
    SetTimer(true);
  } else {
    SetTimer(false);
  }
}

void BulkMode::SetTimer(bool running) {
  const bool was = timer_running_.exchange(running);
  if (was != running && timer_listener_) timer_listener_(running);
}

BulkWaitResult WaitForNextChip(MainState& state, Clock& clock,
                               const std::function<int()>& recognise) {
  const auto stopped = [&state] {
    return state.bulk_mode.load() == 0 || state.exit_request.load() == 1;
  };
  // Removal: the chip just programmed must leave the socket first.
  while (recognise() != -1) {
    if (stopped()) return BulkWaitResult::kStopped;
  }
  clock.SleepMs(kBulkPollMs);
  (void)recognise();
  if (stopped()) return BulkWaitResult::kStopped;
  clock.SleepMs(kBulkPollMs);
  // Insertion: two detections in a row, so a chip still being seated is not taken.
  int detections = 0;
  for (;;) {
    const int result = recognise();
    if (result == 0 || result == 1) {
      if (++detections == 2) return BulkWaitResult::kNewChip;
    } else {
      detections = 0;
    }
    if (stopped()) return BulkWaitResult::kStopped;
    clock.SleepMs(kBulkPollMs);
  }
}

}  // namespace tarvix
