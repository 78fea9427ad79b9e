// SPDX-License-Identifier: GPL-3.0-or-later
#include "firmware/firmware_upgrade.h"

#include <algorithm>
#include <array>
#include <span>

#include "device/command_protocol.h"
#include "firmware/firmware_scramble.h"
#include "firmware/tvx_image.h"
#include "state/control_ids.h"

namespace tarvix {
namespace {

constexpr int kFrameTimeoutMs = 500;
constexpr int kEnterTimeoutMs = 100;
constexpr int kAfterCloseWaitMs = 1000;
constexpr int kReconnectWaitMs = 100;
constexpr int kHandshakeReadMs = 50;
constexpr int kReplyReadMs = 1000;
constexpr int kEraseWaitMs = 15;
constexpr int kPieceWriteMs = 2000;
constexpr int kBeforeReadBackWaitMs = 5;
constexpr std::uint8_t kHandshakeFirst = 0x5A;
constexpr std::uint8_t kHandshakeSecond = 0xA5;

std::string Percent(const char* head, std::uint64_t percent) {
  return head + std::to_string(percent) + "%";
}

// One run of the upgrade: the link, the reporting and the file together.
class Upgrade {
 public:
  Upgrade(UsbLink& link, CommandPacket& packet, Host& host, MainState& state, Clock& clock,
          FirmwareUpgradeDialog& dialog)
      : link_(link),
        packet_(packet),
        host_(host),
        state_(state),
        clock_(clock),
        dialog_(dialog),
        file_(dialog.FilePath()) {}

  int Run() {
    if (!link_.ConnectDevice(true, upgrade_text::kUnconnectedBox)) return kUpgradeNoProgrammer;

    const std::optional<TvxInfo> info = file_.Check();
    if (!info) return FileError();
    size_ = info->size;
    last_payload_byte_ = info->last_payload_byte;
    blocks_ = UpgradeBlockCount(size_);

    if (dialog_.StopRequested()) return Stopped(false);
    if (state_.dfu_mode.load() == 0) {
      if (const int failure = EnterDfuMode(); failure != 0) return failure;
    }
    if (const int failure = Start(); failure != 0) return failure;
    if (const int failure = Erase(); failure != 0) return failure;
    if (const int failure = Transfer(); failure != 0) return failure;
    if (const int failure = ReadBack(); failure != 0) return failure;
    return Finish();
  }

 private:
  void Frame(std::uint8_t code, std::uint8_t value = 0) {
    (void)SendShortFrame(link_, code, kFrameTimeoutMs, value);
  }
  void Show(std::string_view text) { dialog_.SetBar(0, text); }
  // The error box of the failures during the exchange.
  void ErrorBox(const char* text) {
    host_.MessageBox(text, "info", BoxIcon::kError, BoxButtons::kOk);
  }
  // Reads `size` bytes; the count received, or a negative number.
  int Read(std::uint8_t* data, int size, int timeout_ms) {
    return link_.BulkRead(data, size, timeout_ms);
  }

  // Ends the exchange the way a failure does, so the loader waits for a new start.
  int Stopped(bool exchanging) {
    if (exchanging) Frame(upgrade_frame::kIdle);
    host_.ShowStatus(upgrade_text::kStopped, true, false);
    Show(upgrade_text::kStopped);
    return kUpgradeStopped;
  }

  int FileError() {
    host_.ShowStatus(upgrade_text::kFileError, true, true);
    Show(upgrade_text::kFileError);
    return 1;
  }

  int EnterDfuMode() {
    (void)SendCommand(link_, packet_, command_code::kEnterFirmwareUpgrade, kEnterTimeoutMs);
    state_.dfu_mode.store(1);
    if (link_.IsOpen()) {
      link_.CloseDevice();
      clock_.SleepMs(kAfterCloseWaitMs);
    }
    for (int i = 0; i < kReconnectTries && !link_.IsOpen(); ++i) {
      clock_.SleepMs(kReconnectWaitMs);
      link_.SetLinkParameters();
      const UsbHandle handle = link_.OpenDeviceByIds(kProgrammerVendorId, kProgrammerProductId);
      (void)link_.ConfigureDevice(handle, kLinkConfiguration, kLinkInterface);
    }
    if (!link_.IsOpen()) {
      host_.GrayMenuItem(control_id::kChipFill);
      host_.ShowStatus(upgrade_text::kReconnectFailed, true, true);
      host_.MessageBox(upgrade_text::kReconnectFailed, "info", BoxIcon::kWarning, BoxButtons::kOk);
      return 2;
    }
    bool shaken = false;
    for (int i = 0; i < kHandshakeTries && !shaken; ++i) {
      Frame(upgrade_frame::kHandshake);
      std::array<std::uint8_t, 2> reply{};
      shaken = Read(reply.data(), 2, kHandshakeReadMs) == 2 && reply[0] == kHandshakeFirst &&
               reply[1] == kHandshakeSecond;
    }
    if (!shaken) {
      Frame(upgrade_frame::kIdle);
      Show(upgrade_text::kHandshakeFailed);
      host_.MessageBox(upgrade_text::kHandshakeFailedBox, "info", BoxIcon::kWarning,
                       BoxButtons::kOk);
      return 3;
    }
    Frame(upgrade_frame::kIdle);
    Show(upgrade_text::kEnteredDfu);
    return 0;
  }

  int Start() {
    Frame(upgrade_frame::kIdle);
    Frame(upgrade_frame::kStart);
    std::uint8_t reply = 0;
    const int n = Read(&reply, 1, kReplyReadMs);
    if (n >= 1 && reply == upgrade_frame::kStart) return 0;
    const char* text = n < 1 ? upgrade_text::kStartUnanswered : upgrade_text::kStartRefused;
    host_.ShowStatus(text, true, true);
    Show(text);
    return n < 1 ? 5 : 4;
  }

  int Erase() {
    Show(upgrade_text::kErasing);
    for (std::uint64_t b = 0; b < blocks_; ++b) {
      if (dialog_.StopRequested()) return Stopped(true);
      Frame(upgrade_frame::kEraseBlock, static_cast<std::uint8_t>(b & 0xFF));
      clock_.SleepMs(kEraseWaitMs);
      std::uint8_t reply = 0;
      if (Read(&reply, 1, kReplyReadMs) < 1) {
        Show(upgrade_text::kEraseFailed);
        dialog_.SetRunning(false);
        Frame(upgrade_frame::kIdle);
        ErrorBox(upgrade_text::kEraseFailedBox);
        return 6;
      }
      dialog_.SetBar(static_cast<int>(100 * (b + 1) / blocks_),
                     Percent("erased", 100 * (b + 1) / blocks_));
    }
    return 0;
  }

  // A file that passed the check but cannot be read again is reported as a file error.
  int FileFailedLater() {
    Frame(upgrade_frame::kIdle);
    return FileError();
  }

  int Transfer() {
    Frame(upgrade_frame::kIdle);
    Frame(upgrade_frame::kBeginTransfer);
    std::array<std::uint8_t, kUpgradePieceSize> piece{};
    for (std::uint64_t sent = 0;;) {
      if (sent % kUpgradeBlockSize == 0 && dialog_.StopRequested()) return Stopped(true);
      const std::int64_t n = file_.ReadAt(sent, piece);
      if (n < 0) return FileFailedLater();
      if (n == 0) break;
      const auto count = static_cast<std::size_t>(n);
      ScrambleFirmware(std::span(piece).first(count), sent);
      // A programmer that takes part of a piece gets the rest in the next transfer.
      for (std::size_t done = 0; done < count;) {
        const int r =
            link_.BulkWrite(piece.data() + done, static_cast<int>(count - done), kPieceWriteMs);
        if (r <= 0) {
          Show(upgrade_text::kSendFailed);
          Frame(upgrade_frame::kIdle);
          ErrorBox(upgrade_text::kSendFailedBox);
          return 7;
        }
        done += static_cast<std::size_t>(r);
      }
      sent += count;
      const std::uint64_t percent = 100 * sent / size_;
      dialog_.SetBar(static_cast<int>(percent), Percent("written", percent));
      if (count < kUpgradePieceSize) break;
    }
    return 0;
  }

  int ReadBack() {
    Frame(upgrade_frame::kEndTransfer);
    Frame(upgrade_frame::kIdle);
    Frame(upgrade_frame::kBeginReadBack);
    clock_.SleepMs(kBeforeReadBackWaitMs);
    std::array<std::uint8_t, kUpgradeBlockSize> expected{};
    std::array<std::uint8_t, kUpgradeBlockSize> got{};
    for (std::uint64_t k = 1; k <= blocks_; ++k) {
      if (dialog_.StopRequested()) return Stopped(true);
      const std::uint64_t offset = (k - 1) * kUpgradeBlockSize;
      Frame(upgrade_frame::kReadBackBlock);
      const std::int64_t n = file_.ReadAt(offset, expected);
      const auto want = std::min<std::uint64_t>(kUpgradeBlockSize, size_ - offset);
      if (n != static_cast<std::int64_t>(want)) return FileFailedLater();
      if (Read(got.data(), static_cast<int>(got.size()), kReplyReadMs) !=
          static_cast<int>(got.size())) {
        Show(upgrade_text::kReadBackShort);
        Frame(upgrade_frame::kIdle);
        ErrorBox(upgrade_text::kReadBackShortBox);
        return 9;
      }
      for (std::size_t i = 0; i < want; ++i) {
        if (ScrambleFirmwareByte(expected[i], offset + i) != got[i]) {
          Show(upgrade_text::kReadBackDiffers);
          Frame(upgrade_frame::kIdle);
          ErrorBox(upgrade_text::kReadBackDiffersBox);
          return 8;
        }
      }
      const std::uint64_t percent = 99 * k / blocks_;
      dialog_.SetBar(static_cast<int>(percent), Percent("verified", percent));
    }
    return 0;
  }

  int Finish() {
    Frame(upgrade_frame::kIdle);
    Frame(upgrade_frame::kFinish, last_payload_byte_);
    std::uint8_t reply = 0;
    const int n = Read(&reply, 1, kReplyReadMs);
    if (n >= 1 && reply == upgrade_frame::kFinish) {
      dialog_.SetBar(100, upgrade_text::kVerifiedAll);
      Frame(upgrade_frame::kAfterFinish);
      host_.InformationBeep();
      dialog_.SetBar(100, upgrade_text::kSucceeded);
      // The restart the user is asked for raises its own device change.
      state_.link_event.store(0);
      return kUpgradeSucceeded;
    }
    host_.ShowStatus(n < 1 ? upgrade_text::kFinishUnanswered : upgrade_text::kFinishRefused, false,
                     false);
    Frame(upgrade_frame::kAfterFinish);
    Frame(upgrade_frame::kIdle);
    return n < 1 ? 11 : 10;
  }

  UsbLink& link_;
  CommandPacket& packet_;
  Host& host_;
  MainState& state_;
  Clock& clock_;
  FirmwareUpgradeDialog& dialog_;
  TvxFile file_;
  std::uint64_t size_ = 0;
  std::uint8_t last_payload_byte_ = 0;
  std::uint64_t blocks_ = 0;
};

}  // namespace

FirmwareUpgradeDialog::FirmwareUpgradeDialog() {
  bar_.text = kSelectFirmwareText;
}

void FirmwareUpgradeDialog::Open() {
  {
    std::lock_guard lock(mutex_);
    // A new dialog has no file yet: "upgrade" waits for "..." again.
    path_.clear();
    upgrade_enabled_ = false;
  }
  SetBar(0, kSelectFirmwareText);
}

void FirmwareUpgradeDialog::ChooseFile(const std::filesystem::path& path) {
  {
    std::lock_guard lock(mutex_);
    path_ = path;
    upgrade_enabled_ = true;
  }
  SetBar(0, kUpgradeReadyText);
}

std::filesystem::path FirmwareUpgradeDialog::FilePath() const {
  std::lock_guard lock(mutex_);
  return path_;
}

bool FirmwareUpgradeDialog::UpgradeEnabled() const {
  std::lock_guard lock(mutex_);
  return upgrade_enabled_;
}

bool FirmwareUpgradeDialog::PressUpgrade() const {
  return UpgradeEnabled() && !Running();
}

void FirmwareUpgradeDialog::SetBar(int position, std::string_view text) {
  BarListener listener;
  Bar bar;
  {
    std::lock_guard lock(mutex_);
    bar_.position = std::clamp(position, 0, 100);
    bar_.text = std::string(text);
    bar = bar_;
    listener = listener_;
  }
  if (listener) listener(bar);
}

FirmwareUpgradeDialog::Bar FirmwareUpgradeDialog::CurrentBar() const {
  std::lock_guard lock(mutex_);
  return bar_;
}

void FirmwareUpgradeDialog::SetBarListener(BarListener listener) {
  std::lock_guard lock(mutex_);
  listener_ = std::move(listener);
}

int UpgradeFirmware(UsbLink& link, CommandPacket& packet, Host& host, MainState& state,
                    Clock& clock, FirmwareUpgradeDialog& dialog) {
  // Running from the first step, not only from the start frame: the dialog must not
  // close (or start a second run) while the worker still reports into it.
  dialog.SetRunning(true);
  dialog.ClearStop();
  Upgrade upgrade(link, packet, host, state, clock, dialog);
  const int result = upgrade.Run();
  dialog.SetRunning(false);
  return result;
}

}  // namespace tarvix
