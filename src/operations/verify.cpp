// SPDX-License-Identifier: GPL-3.0-or-later
#include "operations/verify.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
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

constexpr WorkerCommand kPlainVerifyCommand = 8;
constexpr int kVerifyCommandTimeoutMs = 5000;
constexpr int kCancelEndTimeoutMs = 1000;

std::string ProgressCaption(int percent) {
  return "verified" + std::to_string(percent) + "%";
}

int Percent(std::uint64_t address, std::uint64_t capacity) {
  return static_cast<int>(static_cast<double>(address) * 100.0 / static_cast<double>(capacity));
}

// One verify run's comparison state.
struct Comparison {
  OperationContext& ctx;
  std::uint64_t address = 0;  // bytes compared so far
  std::uint64_t errors = 0;
  bool prompting = true;
  bool cancelled = false;

  // Counts one mismatch at `address` and asks the user while prompting is on.
  // False when the user cancelled the verify.
  bool Mismatch(std::uint8_t file_byte, std::uint8_t chip_byte, bool end_at_once) {
    ++errors;
    if (!prompting) return true;
    const BoxAnswer answer =
        ctx.host.MessageBox(VerifyMismatchText(address, file_byte, chip_byte), kVerifyMismatchTitle,
                            BoxIcon::kWarning, BoxButtons::kYesNoCancel);
    if (answer == BoxAnswer::kCancel) {
      cancelled = true;
      if (end_at_once)
        (void)SendCommand(ctx.link, ctx.packet, command_code::kEndOperation, kCancelEndTimeoutMs);
      return false;
    }
    if (answer == BoxAnswer::kNo) prompting = false;
    return true;
  }

  // A whole block: equal blocks cost one memcmp, unequal ones jump from mismatch to
  // mismatch.
  void CompareBlock(const std::uint8_t* file, const std::uint8_t* chip, std::size_t size) {
    if (std::memcmp(file, chip, size) == 0) {
      address += size;
      return;
    }
    std::size_t i = 0;
    while (i < size) {
      const auto [f, c] = std::mismatch(file + i, file + size, chip + i);
      const auto at = static_cast<std::size_t>(f - file);
      address += at - i;
      if (at == size) return;
      if (!Mismatch(*f, *c, true)) return;
      ++address;
      i = at + 1;
    }
  }
};

// The image's bytes at `offset` as the chip should hold them (0xFF past the image):
// straight from the stream's window when it has them all, else assembled in `area`.
bool ImageBlock(ImageStream& stream, std::uint64_t offset, std::span<std::uint8_t> area,
                const std::uint8_t** out) {
  std::span<const std::uint8_t> part;
  if (!stream.View(offset, area.size(), &part)) return false;
  if (part.size() == area.size()) {
    *out = part.data();
    return true;
  }
  *out = area.data();
  return stream.ReadChipSized(offset, area);
}

// Receives exactly `size` bytes of chip data. A short reply is completed by further
// reads rather than compared against what an earlier block left in the area.
bool ReceiveChipData(UsbLink& link, std::uint8_t* area, int size) {
  int have = 0;
  while (have < size) {
    const int got = link.BulkRead(area + have, size - have, kVerifyReadTimeoutMs);
    if (got <= 0) return false;
    have += std::min(got, size - have);
  }
  return true;
}

}  // namespace

std::string VerifyMismatchText(std::uint64_t address, std::uint8_t file_byte,
                               std::uint8_t chip_byte) {
  char head[32];
  std::snprintf(head, sizeof head, "%llXH error! ", static_cast<unsigned long long>(address));
  char bytes[48];
  std::snprintf(bytes, sizeof bytes, "file data:%02XH chip data:%02XH", file_byte, chip_byte);
  return std::string(head) + "\r\n" + bytes + "     " +
         "\r\nno remind \"NO\",stop verify \"Cancel\"   ";
}

std::string VerifyErrorsText(std::uint64_t errors, bool overflow, std::int64_t elapsed_seconds) {
  return "verify finished." + std::to_string(errors) +
         (overflow ? " error(s)!overflow part not verified " : " error(s)! ") +
         FormatElapsed(elapsed_seconds);
}

std::string VerifySucceedText(std::int64_t elapsed_seconds) {
  return "verify succeed! " + FormatElapsed(elapsed_seconds);
}

std::string VerifyStoppedText(std::uint64_t compared, std::uint64_t errors,
                              std::int64_t elapsed_seconds) {
  return "verify stopped." + std::to_string(compared) + " bytes compared," +
         std::to_string(errors) + " error(s)! " + FormatElapsed(elapsed_seconds);
}

bool VerifyChip(OperationContext& ctx, bool pre_check) {
  MainState& state = ctx.state;
  Host& host = ctx.host;
  state.stop_verify = 0;
  if (RefuseInDfuMode(ctx)) return false;
  if (pre_check) {
    if (!RunPreCheck(ctx)) return false;
    ShowVersionNotice(host, ctx.selection.CurrentRecord());
  }
  if (state.busy_verifying.load() != 0) return false;
  const ByteSource* image = OperationImage(ctx);
  if (image == nullptr) {
    host.ShowStatus(kVerifyNoImageStatus, true, false);
    (void)host.MessageBox(kVerifyNoImageBox, "info", BoxIcon::kWarning, BoxButtons::kOk);
    return false;
  }

  host.ShowStatus(kVerifyBegin, false, false);
  const std::uint32_t capacity = state.chip_capacity.load();
  if (!SendCommand(ctx.link, ctx.packet, command_code::kVerify, kVerifyCommandTimeoutMs,
                   BigEndian32(capacity))) {
    host.ShowStatus(kDeviceConnectError, true, true);
    (void)SendCommand(ctx.link, ctx.packet, command_code::kEndOperation, kCancelEndTimeoutMs);
    return false;
  }

  GrayOperationControls(host, RunningOperation::kVerify);
  const std::uint32_t blocks = capacity / kVerifyBlockSize;
  const std::uint32_t rest = capacity % kVerifyBlockSize;
  state.busy_verifying = 1;
  host.ShowProgress(true);
  host.SetProgress(0, ProgressCaption(0), CaptionAlign::kCentre);
  const OperationClock clock(ctx.clock);

  std::array<std::uint8_t, kVerifyBlockSize> compare{};
  std::array<std::uint8_t, kVerifyBlockSize> receive{};
  ImageStream stream(*image);
  const std::uint8_t* file = nullptr;
  Comparison run{ctx};
  bool link_error = false;
  const auto fail = [&](const char* text) {
    host.ShowStatus(text, true, true);
    state.busy_verifying = 0;
    link_error = true;
  };
  ChipDataTap* const tap = ctx.chip_data_tap;
  if (tap != nullptr) tap->Begin(capacity);
  const auto watch = [&](std::uint64_t offset, std::size_t size) {
    if (tap == nullptr) return;
    tap->ChipData(offset, std::span(receive.data(), size));
    tap->Compared(offset, std::span(file, size), std::span(receive.data(), size));
  };

  for (std::uint32_t block = 0; block < blocks; ++block) {
    if (state.stop_verify.load() != 0) break;
    const std::uint64_t offset = std::uint64_t{block} * kVerifyBlockSize;
    if (!ImageBlock(stream, offset, compare, &file)) {
      fail(kWorkingCopyReadFailed);
      break;
    }
    if (!ReceiveChipData(ctx.link, receive.data(), kVerifyBlockSize)) {
      fail(kDeviceConnectError);
      break;
    }
    watch(offset, kVerifyBlockSize);
    run.CompareBlock(file, receive.data(), kVerifyBlockSize);
    if (run.cancelled) break;
    const int percent = Percent(run.address, capacity);
    host.SetProgress(percent, ProgressCaption(percent), CaptionAlign::kCentre);
  }

  if (state.stop_verify.load() == 0 && !link_error && rest > 0 && !run.cancelled) {
    const std::uint64_t offset = std::uint64_t{blocks} * kVerifyBlockSize;
    if (!ImageBlock(stream, offset, std::span(compare.data(), rest), &file)) {
      fail(kWorkingCopyReadFailed);
    } else if (!ReceiveChipData(ctx.link, receive.data(), static_cast<int>(rest))) {
      fail(kDeviceConnectError);
    } else {
      watch(offset, rest);
      int last_percent = 0;
      for (std::uint32_t i = 0; i < rest; ++i) {
        // Code 9 for a cancel here is sent with the end of the run.
        if (file[i] != receive[i] && !run.Mismatch(file[i], receive[i], false)) break;
        ++run.address;
        const int percent = Percent(run.address, capacity);
        if (percent > last_percent) {
          host.SetProgress(percent, ProgressCaption(percent), CaptionAlign::kCentre);
          last_percent = percent;
        }
      }
    }
  }

  if (tap != nullptr) tap->End(!link_error && !run.cancelled && run.address >= capacity);
  host.ShowProgress(false);
  if (state.command_code.load() == kPlainVerifyCommand)
    PlayRemindSound(ctx, state.paths.finish_sound);

  bool result = false;
  if (!link_error) {
    const std::int64_t elapsed = clock.ElapsedSeconds();
    const bool overflow = image->Size() > capacity;
    // Only a chip compared to its end can be called verified.
    const bool stopped = state.stop_verify.load() != 0 && !run.cancelled && run.address < capacity;
    if (stopped) {
      host.ShowStatus(VerifyStoppedText(run.address, run.errors, elapsed), true, false);
    } else if (run.errors > 0) {
      host.ShowStatus(VerifyErrorsText(run.errors, overflow, elapsed), true, true);
    } else if (overflow) {
      host.ShowStatus(kVerifyOverflowSucceed, true, false);
      (void)host.MessageBox(kVerifyOverflowBox, "提示", BoxIcon::kWarning, BoxButtons::kOk);
      result = true;
    } else {
      host.ShowStatus(VerifySucceedText(elapsed), false, false);
      result = true;
    }
  }

  (void)SendCommand(ctx.link, ctx.packet, command_code::kEndOperation, kVerifyEndTimeoutMs);
  RestoreOperationControls(ctx, RunningOperation::kVerify);
  state.busy_verifying = 0;
  return result;
}

}  // namespace tarvix
