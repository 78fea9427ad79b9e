// SPDX-License-Identifier: GPL-3.0-or-later
#include "operations/write.h"

#include <algorithm>
#include <array>
#include <span>

#include "device/command_protocol.h"
#include "device/operation_clock.h"
#include "device/version_notice.h"
#include "operations/image_stream.h"
#include "operations/operation_controls.h"
#include "operations/pre_check.h"
#include "state/control_ids.h"

namespace tarvix {
namespace {

constexpr WorkerCommand kPlainWriteCommand = 1;
constexpr int kBeginTimeoutMs = 5000;
constexpr int kEndOfDataTimeoutMs = 1000;
constexpr int kEndTimeoutMs = 1000;
constexpr int kAfterBeginWaitMs = 50;
constexpr int kBeforeEndOfDataWaitMs = 30;
constexpr int kAfterEndWaitMs = 50;
constexpr int kAfterRunWaitMs = 50;
constexpr char kSpiFlashType[] = "25 SPI FLASH";

std::string BytesAndTime(const char* head, std::uint64_t bytes, std::int64_t elapsed) {
  return head + std::to_string(bytes) + " bytes," + FormatElapsed(elapsed);
}

std::string ProgressCaption(int percent) {
  return "written" + std::to_string(percent) + "%";
}

// A link or file failure ends the stream at once: no code 2, no code 9.
bool AbandonStream(OperationContext& ctx, const char* text) {
  ctx.host.ShowStatus(text, true, true);
  ctx.state.busy_writing = 0;
  return false;
}

}  // namespace

std::string WriteSucceedText(std::uint64_t bytes, std::int64_t elapsed_seconds) {
  return BytesAndTime("write succeed,", bytes, elapsed_seconds);
}

std::string WriteBrokenText(std::uint64_t bytes, std::int64_t elapsed_seconds) {
  return BytesAndTime("write is broken!", bytes, elapsed_seconds);
}

std::string WriteOverflowText(std::uint64_t bytes, std::int64_t elapsed_seconds) {
  return BytesAndTime("datas is overflow,overflow part is unwritten.", bytes, elapsed_seconds);
}

bool WriteChip(OperationContext& ctx, bool pre_check, bool overflow_accepted) {
  MainState& state = ctx.state;
  Host& host = ctx.host;
  state.stop_write = 0;
  if (RefuseInDfuMode(ctx)) return false;

  if (pre_check) {
    if (!RunPreCheck(ctx)) return false;
    if (state.bulk_mode.load() == 0 && !host.Confirm(kWriteConfirmText)) return false;
    ShowVersionNotice(host, ctx.selection.CurrentRecord());
  }

  const ByteSource* image = OperationImage(ctx);
  if (image == nullptr) {
    host.ShowStatus(kFileNotOpened, true, false);
    (void)host.MessageBox(kFileNotOpened, "info", BoxIcon::kWarning, BoxButtons::kOk);
    return false;
  }
  if (image->Size() > state.chip_capacity.load() && !overflow_accepted &&
      host.MessageBox(kWriteOverflowQuestion, "info", BoxIcon::kQuestion, BoxButtons::kYesNo) !=
          BoxAnswer::kYes)
    return false;

  GrayOperationControls(host, RunningOperation::kWrite);
  const bool result = WriteStream(ctx);
  RestoreOperationControls(ctx, RunningOperation::kWrite);
  ctx.clock.SleepMs(kAfterRunWaitMs);
  return result;
}

bool WriteStream(OperationContext& ctx) {
  MainState& state = ctx.state;
  Host& host = ctx.host;
  const ByteSource* image = OperationImage(ctx);
  if (!ctx.link.IsOpen() || image == nullptr) return false;

  state.busy_writing = 1;
  host.ShowProgress(true);
  const OperationClock clock(ctx.clock);
  host.ShowStatus(kWriteStart, false, false);
  std::string caption = ProgressCaption(0);
  host.SetProgress(0, caption, CaptionAlign::kCentre);

  (void)SendCommand(ctx.link, ctx.packet, command_code::kBeginWrite, kBeginTimeoutMs);
  ctx.clock.SleepMs(kAfterBeginWaitMs);

  const std::uint64_t capacity = state.chip_capacity.load();
  const std::uint64_t image_size = image->Size();
  const ChipRecord* record = ctx.selection.CurrentRecord();
  // SPI FLASH pages past the image keep what an erase left; the other families are
  // written whole, so the rest of the chip gets the blank byte.
  const std::uint64_t total = record != nullptr && record->type == kSpiFlashType
                                  ? std::min(image_size, capacity)
                                  : capacity;

  ImageStream stream(*image);
  std::array<std::uint8_t, kWriteChunkSize> blank{};
  blank.fill(0xFF);
  std::uint64_t written = 0;
  int last_percent = 0;
  // Nothing to send (empty SPI image, capacity 0): no empty transfer, no 0/0 percentage.
  while (written < total) {
    std::uint64_t chunk = std::min<std::uint64_t>(kWriteChunkSize, total - written);
    const std::uint8_t* data = blank.data();
    if (written < image_size) {
      // Reading at the accepted count is the same as moving the position back by
      // what the device did not take: those bytes go out again.
      std::span<const std::uint8_t> part;
      if (!stream.View(written, static_cast<std::size_t>(chunk), &part) || part.empty())
        return AbandonStream(ctx, kWorkingCopyReadFailed);
      data = part.data();
      chunk = part.size();
    }

    const int accepted = ctx.link.BulkWrite(data, static_cast<int>(chunk), kWriteChunkTimeoutMs);
    if (accepted < 0) return AbandonStream(ctx, kDeviceConnectError);
    written += std::min<std::uint64_t>(static_cast<std::uint64_t>(accepted), chunk);

    const int percent =
        static_cast<int>(static_cast<double>(written) / static_cast<double>(total) * 100.0);
    if (percent > last_percent) {
      caption = ProgressCaption(percent);
      host.SetProgress(percent, caption, CaptionAlign::kCentre);
      last_percent = percent;
    }
    if (written >= total) break;
    if (state.stop_write.load() != 0) break;
  }

  const std::int64_t elapsed = clock.ElapsedSeconds();
  bool confirmed = true;
  if (state.stop_write.load() != 0) {
    host.ShowStatus(WriteBrokenText(written, elapsed), true, false);
  } else {
    ctx.clock.SleepMs(kBeforeEndOfDataWaitMs);
    const auto count = BigEndian32(static_cast<std::uint32_t>(written));
    (void)SendCommand(ctx.link, ctx.packet, command_code::kEndOfData, kEndOfDataTimeoutMs, count);
    if (written >= image_size) {
      host.ShowStatus(WriteSucceedText(written, elapsed), false, false);
    } else if (state.stop_write.load() == 0) {
      host.ShowStatus(WriteOverflowText(capacity, elapsed), true, false);
    } else {
      host.ShowStatus(kWriteFinished, true, false);
    }

    std::uint8_t mark = 0;
    confirmed = false;
    for (int i = 0; i < kWriteEndMarkReads && !confirmed; ++i)
      confirmed = ctx.link.BulkRead(&mark, 1, kWriteEndMarkTimeoutMs) >= 1 && mark == kWriteEndMark;
    // The end mark says the programmer has stored everything; without it the chip
    // may hold only part of the image, which must not stand as a success.
    if (!confirmed) host.ShowStatus(kWriteNotConfirmed, true, true);
  }

  const bool plain_write = state.command_code.load() == kPlainWriteCommand;
  if (written < image_size && plain_write && state.stop_write.load() == 0)
    (void)host.MessageBox(kWriteOverflowBox, "info", BoxIcon::kWarning, BoxButtons::kOk);
  if (plain_write) PlayRemindSound(ctx, state.paths.finish_sound);

  (void)SendCommand(ctx.link, ctx.packet, command_code::kEndOperation, kEndTimeoutMs);
  ctx.clock.SleepMs(kAfterEndWaitMs);
  state.busy_writing = 0;
  host.SetProgress(0, caption, CaptionAlign::kCentre);
  host.ShowProgress(false);
  return confirmed;
}

}  // namespace tarvix
