// SPDX-License-Identifier: GPL-3.0-or-later
#include "operations/read.h"

#include <algorithm>
#include <array>
#include <optional>
#include <span>
#include <vector>

#include "buffer/file_sink.h"
#include "buffer/hex_page.h"
#include "device/command_protocol.h"
#include "device/operation_clock.h"
#include "device/version_notice.h"
#include "operations/operation_controls.h"
#include "operations/pre_check.h"
#include "state/control_ids.h"

namespace tarvix {
namespace {

constexpr int kReadCommandTimeoutMs = 5000;
constexpr std::size_t kStagingSize = 32 * kReadChunkSize;

std::string ProgressCaption(int percent) {
  return "Read" + std::to_string(percent) + "%";
}

void ReportChipDataFailure(Host& host) {
  host.ShowStatus(kChipDataFailedStatus, true, false);
  (void)host.MessageBox(kChipDataFailedBox, "error", BoxIcon::kError, BoxButtons::kOk);
}

}  // namespace

std::string ReadSucceedText(std::int64_t elapsed_seconds) {
  return "Read succeed." + FormatElapsed(elapsed_seconds);
}

std::string ReadStoppedText(std::uint64_t received, std::uint32_t capacity,
                            std::int64_t elapsed_seconds) {
  return "Read stopped," + std::to_string(received) + " of " + std::to_string(capacity) +
         " bytes read," + FormatElapsed(elapsed_seconds);
}

std::string PartialChipDataText(std::uint64_t received, std::uint32_t capacity) {
  return "partial chip datas! " + std::to_string(received) + " of " + std::to_string(capacity) +
         " bytes";
}

bool ReadChip(OperationContext& ctx) {
  MainState& state = ctx.state;
  Host& host = ctx.host;
  state.stop_read = 0;
  if (RefuseInDfuMode(ctx)) return false;
  if (!RunPreCheck(ctx)) return false;
  ShowVersionNotice(host, ctx.selection.CurrentRecord());

  if (!SendCommand(ctx.link, ctx.packet, command_code::kReadChip, kReadCommandTimeoutMs)) {
    host.ShowProgress(false);
    host.ShowStatus(kDeviceConnectError, true, true);
    return false;
  }

  // The window's chip bytes go to a new file beside the chip data file and take its
  // place only once the read has ended well. An earlier chip read may be the image
  // shown, with that file as its source: a failed read must not change it under the
  // image. A front end with its own sink gets the bytes there instead.
  const std::filesystem::path& chip_data = state.paths.chip_data;
  std::optional<FileSink> chip_data_sink;
  if (ctx.read_sink == nullptr) chip_data_sink.emplace(chip_data, false);
  ByteSink& sink = ctx.read_sink != nullptr ? *ctx.read_sink : *chip_data_sink;
  const std::uint32_t capacity = state.chip_capacity.load();
  if (!sink.Begin(capacity)) {
    ReportChipDataFailure(host);
    return false;
  }

  GrayOperationControls(host, RunningOperation::kRead);
  if (EditModeOn(ctx)) {
    host.WindowCall([&] { ctx.hex->LeaveEditMode(); });
    host.ShowStatus(kScanModeSelected, false, false);
  }

  const OperationClock clock(ctx.clock);
  host.ShowProgress(true);
  host.SetProgress(0, ProgressCaption(0), CaptionAlign::kCentre);
  state.busy_reading = 1;

  const int ask = static_cast<int>(std::min<std::uint32_t>(capacity, kReadChunkSize));
  // Replies land in a staging area that is appended to the file when full, so a chip
  // costs a few large writes instead of one per reply.
  std::vector<std::uint8_t> staging(kStagingSize);
  std::size_t staged = 0;
  std::uint64_t received = 0;
  const auto flush = [&] {
    if (ctx.chip_data_tap != nullptr && staged > 0)
      ctx.chip_data_tap->ChipData(received - staged, std::span(staging.data(), staged));
    const bool ok = staged == 0 || sink.Append(std::span(staging.data(), staged));
    staged = 0;
    return ok;
  };
  if (ctx.chip_data_tap != nullptr) ctx.chip_data_tap->Begin(capacity);
  std::uint8_t last_percent = 0;
  bool success = true;
  bool file_failed = false;
  while (capacity > 0) {
    if (state.read_abandoned.load() != 0 || state.stop_read.load() != 0) break;
    if (staging.size() - staged < static_cast<std::size_t>(ask) && !flush()) {
      file_failed = true;
      break;
    }
    const int got = ctx.link.BulkRead(staging.data() + staged, ask, kReadTimeoutMs);
    if (got <= 0) {
      success = false;
      break;
    }
    const int kept = std::min(got, ask);
    staged += static_cast<std::size_t>(kept);
    received += static_cast<std::uint64_t>(kept);
    const auto percent = static_cast<std::uint8_t>(static_cast<std::uint64_t>(
        static_cast<double>(received) * 100.0 / static_cast<double>(capacity)));
    if (percent > last_percent) {
      host.SetProgress(percent, ProgressCaption(percent), CaptionAlign::kCentre);
      last_percent = percent;
    }
    if (received >= capacity) break;
  }
  if (success && !file_failed && !flush()) file_failed = true;
  if (!success || file_failed) {
    host.ShowProgress(false);
    state.busy_reading = 0;
    success = false;
  }
  // Part of a chip is never passed off as the chip: after a failure the chip data
  // file stays as it was.
  if (success && !sink.Commit()) {
    host.ShowProgress(false);
    file_failed = true;
    success = false;
  }
  if (!success) sink.Abandon();
  if (ctx.chip_data_tap != nullptr) ctx.chip_data_tap->End(success && received >= capacity);
  state.busy_reading = 0;
  RestoreOperationControls(ctx, RunningOperation::kRead);

  if (!success) {
    if (file_failed) {
      ReportChipDataFailure(host);
    } else {
      host.ShowStatus(kDeviceConnectError, true, true);
    }
    return false;
  }

  // Part of a chip is shown as what it is: never as the chip's data.
  const bool stopped = received < capacity;
  const std::int64_t elapsed = clock.ElapsedSeconds();
  host.ShowProgress(false);
  if (!stopped) PlayRemindSound(ctx, state.paths.finish_sound);
  // The load reports its own failure; the read must not then claim success.
  if (chip_data_sink) {
    bool loaded = false;
    host.WindowCall([&] {
      loaded = stopped ? ctx.files.LoadPartialChipData(chip_data,
                                                       PartialChipDataText(received, capacity))
                       : ctx.files.Load(chip_data, false);
    });
    if (!loaded) return false;
  }
  if (stopped) {
    host.ShowStatus(ReadStoppedText(received, capacity, elapsed), true, false);
    return false;
  }
  host.ShowStatus(ReadSucceedText(elapsed), false, false);
  return true;
}

}  // namespace tarvix
