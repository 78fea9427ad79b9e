// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/bulk_mode.h"

#include <algorithm>

#include "app/settings.h"
#include "device/clock.h"
#include "device/host.h"
#include "operations/recognition.h"

namespace tarvix {

std::string BulkRunningCaption(std::int32_t count) {
  return "Stop bulk " + std::to_string(count) + " (F2)";
}

std::string BulkStoppedText(std::int32_t count) {
  return "bulk mode stopped," + std::to_string(count) + " chips finished";
}

std::string ForeignChipText(const std::string& id_text, const std::string& run_model) {
  return "not programmed: the chip in the socket (ID " + id_text + ") is not this run's " +
         run_model;
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
    // Ended by the run itself (a production log that cannot be written): the button
    // offers bulk mode again.
    if (timer_running_.load()) commands_.SetCaption(control_id::kBulkMode, kBulkIdleCaption);
    SetTimer(false);
  }
}

void BulkMode::SetTimer(bool running) {
  const bool was = timer_running_.exchange(running);
  if (was != running && timer_listener_) timer_listener_(running);
}

namespace {

// The Host the recognition reports to during the wait: what it does to commands,
// menus and pictures goes through; its status and log lines are held back for the
// wait to decide on. It shows no boxes in its silent form, but any would go through.
class HeldStatusHost final : public Host {
 public:
  explicit HeldStatusHost(Host& inner) : inner_(inner) {}

  void ShowStatus(std::string_view text, bool red, bool /*beep*/) override {
    status_ = text;
    red_ = red;
  }
  void AppendLogLine(std::string_view /*text*/) override {}
  void ClearLog() override {}
  void SetProgress(int position, std::string_view caption, CaptionAlign align) override {
    inner_.SetProgress(position, caption, align);
  }
  void ShowProgress(bool visible) override { inner_.ShowProgress(visible); }
  [[nodiscard]] bool Confirm(std::string_view question) override {
    return inner_.Confirm(question);
  }
  BoxAnswer MessageBox(std::string_view text, std::string_view title, BoxIcon icon,
                       BoxButtons buttons) override {
    return inner_.MessageBox(text, title, icon, buttons);
  }
  void InformationBeep() override { inner_.InformationBeep(); }
  void DisableCommand(int id) override { inner_.DisableCommand(id); }
  void EnableCommand(int id) override { inner_.EnableCommand(id); }
  void GrayMenuItem(int id) override { inner_.GrayMenuItem(id); }
  void EnableMenuItem(int id) override { inner_.EnableMenuItem(id); }
  void SetBusyCaption(int id, bool busy) override { inner_.SetBusyCaption(id, busy); }
  void PlaySound(const std::filesystem::path& wave) override { inner_.PlaySound(wave); }
  void SetPicture(int control_id, int picture) override { inner_.SetPicture(control_id, picture); }
  void SetProgrammerPresent(bool present) override { inner_.SetProgrammerPresent(present); }

  // The last status held back since the previous call, and forgets it.
  SocketLook Take(int result) {
    SocketLook look{result, std::move(status_), red_};
    status_.clear();
    red_ = false;
    return look;
  }

 private:
  Host& inner_;
  std::string status_;
  bool red_ = false;
};

bool ChipInSocket(int result) {
  return result == 0 || result == 1;
}

}  // namespace

BulkWaitResult WaitForNextChip(MainState& state, Clock& clock, Host& host,
                               const std::function<SocketLook()>& look, std::string_view standing) {
  const auto stopped = [&state] {
    return state.bulk_mode.load() == 0 || state.exit_request.load() == 1;
  };
  std::string shown(standing);
  std::int64_t shown_at = clock.NowMs();
  bool keep_standing = !standing.empty();
  // One look, and the wait's line for it: changed texts at once, a repeat only to
  // refresh its time stamp.
  const auto look_once = [&] {
    const SocketLook l = look();
    // The refused chip is still in the socket: its line stays.
    if (keep_standing && ChipInSocket(l.result)) return l.result;
    keep_standing = false;
    const bool lost = l.result != -1 && !ChipInSocket(l.result);
    const std::string text = lost && !l.status.empty() ? l.status : kBulkWaitingForChip;
    const std::int64_t now = clock.NowMs();
    if (text != shown || now - shown_at >= kBulkWaitRefreshMs) {
      host.ShowStatus(text, lost, lost && text != shown);
      shown = text;
      shown_at = now;
    }
    return l.result;
  };

  // Removal: the chip just programmed must leave the socket first.
  while (look_once() != -1) {
    if (stopped()) return BulkWaitResult::kStopped;
    clock.SleepMs(kBulkPollMs);
  }
  clock.SleepMs(kBulkPollMs);
  (void)look_once();
  if (stopped()) return BulkWaitResult::kStopped;
  clock.SleepMs(kBulkPollMs);
  // Insertion: two detections in a row, so a chip still being seated is not taken.
  int detections = 0;
  for (;;) {
    if (ChipInSocket(look_once())) {
      if (++detections == 2) return BulkWaitResult::kNewChip;
    } else {
      detections = 0;
    }
    if (stopped()) return BulkWaitResult::kStopped;
    clock.SleepMs(kBulkPollMs);
  }
}

BulkWaitResult WaitForNextChip(OperationContext& ctx, std::int64_t silent_limit_ms, bool* silent) {
  HeldStatusHost held(ctx.host);
  std::int64_t silent_since = -1;
  const auto note_answer = [&](int result) {
    if (silent_limit_ms <= 0) return;
    const std::int64_t now = ctx.clock.NowMs();
    if (result != kNoProgrammer) {
      silent_since = -1;
    } else if (silent_since < 0) {
      silent_since = now;
    } else if (now - silent_since >= silent_limit_ms) {
      if (silent != nullptr) *silent = true;
      ctx.state.bulk_mode = 0;
    }
  };
  OperationContext quiet{ctx.state,    ctx.link,  ctx.packet,    held,
                         ctx.settings, ctx.clock, ctx.catalogue, ctx.selection,
                         ctx.image,    ctx.files, ctx.hex};
  const std::int32_t run_chip = ctx.state.selected_chip_index.load();
  std::string refusal;
  for (;;) {
    int result = kNoChip;
    RecognitionFindings found;
    const BulkWaitResult waited = WaitForNextChip(
        ctx.state, ctx.clock, ctx.host,
        [&] {
          found = {};
          result = ChipRecognition(quiet, true, &found);
          note_answer(result);
          return held.Take(result);
        },
        refusal);
    if (waited == BulkWaitResult::kStopped) {
      // The wait's line would stand for a wait that is over.
      if (ctx.state.exit_request.load() == 0 && (silent == nullptr || !*silent))
        ctx.host.ShowStatus(BulkStoppedText(ctx.state.bulk_success_count.load()), false, false);
      return waited;
    }
    // The same model again, as the recognition found it; a family answer (the EEPROMs
    // tell no model) counts when it left the run's record selected.
    const bool family_id = found.id_text >= "000001" && found.id_text <= "000004";
    const bool unknown_id = result == kRecognisedFamily && found.matches.empty() && !family_id;
    const bool same =
        ctx.state.selected_chip_index.load() == run_chip && !unknown_id &&
        (found.matches.empty() ||
         std::find(found.matches.begin(), found.matches.end(), run_chip) != found.matches.end());
    if (same) return BulkWaitResult::kNewChip;
    const ChipRecord* record = run_chip >= 0 && ctx.catalogue.IsValidIndex(run_chip)
                                   ? &ctx.catalogue.Record(static_cast<std::uint32_t>(run_chip))
                                   : nullptr;
    refusal = ForeignChipText(found.id_text, record != nullptr ? record->model : std::string());
    ctx.host.ShowStatus(refusal, true, true);
    // The next chip is judged against the run's chip again.
    if (ctx.state.selected_chip_index.load() != run_chip && record != nullptr)
      ctx.host.WindowCall([&] { ctx.selection.SelectRecord(run_chip); });
  }
}

}  // namespace tarvix
