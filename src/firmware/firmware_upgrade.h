// SPDX-License-Identifier: GPL-3.0-or-later
// Firmware upgrade (worker command 21): checks a ".tvx" file, switches the programmer
// into its firmware-update (DFU) mode, erases its firmware area block by block, sends
// the scrambled image in 64-byte pieces, reads it back in 1024-byte blocks and asks
// the programmer to accept it. Every failure carries its number (1 to 11) so that a
// user can report it.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "device/clock.h"
#include "device/command_packet.h"
#include "device/host.h"
#include "device/usb_link.h"
#include "operations/operation_context.h"
#include "state/main_state.h"

namespace tarvix {

// The dialog's own texts.
inline constexpr char kUpgradeDialogTitle[] = "VRNT_Tarvix Firmware Upgrade";
inline constexpr char kUpgradeFileFilter[] = "(*.tvx)|*.tvx||";
inline constexpr char kUpgradeDefaultExtension[] = "*.tvx";
inline constexpr char kSelectFirmwareText[] = "please select firmware file...";
inline constexpr char kUpgradeReadyText[] = "upgrade is ready";

// Texts of the run, in the order they can appear.
namespace upgrade_text {
inline constexpr char kUnconnectedBox[] = "device is unconnected!       ";
inline constexpr char kFileError[] = "file error#1";
inline constexpr char kReconnectFailed[] = "device connect error#2!       ";
inline constexpr char kHandshakeFailed[] = "device enter dfu mode failed#3...";
inline constexpr char kHandshakeFailedBox[] = "device enter dfu mode failed#3！       ";
inline constexpr char kEnteredDfu[] = "device enter dfu mode";
inline constexpr char kStartRefused[] = "firmware upgrade failed#4";
inline constexpr char kStartUnanswered[] = "firmware upgrade failed#5";
inline constexpr char kErasing[] = "firmware erasing...";
inline constexpr char kEraseFailed[] = "device connect error#6";
inline constexpr char kEraseFailedBox[] = "device connect error\r\nfirmware upgrade failed#6    ";
inline constexpr char kSendFailed[] = "device connect error! firmware upgrade failed#7";
inline constexpr char kSendFailedBox[] = "device connect error\r\nfirmware upgrade failed#7   ";
inline constexpr char kReadBackDiffers[] = "device connect error! firmware upgrade failed#8";
inline constexpr char kReadBackDiffersBox[] =
    "device connect error\r\nfirmware upgrade failed#8   ";
inline constexpr char kReadBackShort[] = "device connect error! firmware upgrade failed#9   ";
inline constexpr char kReadBackShortBox[] = "device connect error\r\nfirmware upgrade failed#9   ";
inline constexpr char kFinishRefused[] = "verify failed#10";
inline constexpr char kFinishUnanswered[] = "verify failed#11";
inline constexpr char kVerifiedAll[] = "verified100%";
inline constexpr char kSucceeded[] = "firmware upgrade succeed.please restart the device.";
// A stop asked for between blocks (the command-line tool's Ctrl-C; the dialog cannot
// close while an upgrade runs). A programmer already switched stays in its update mode.
inline constexpr char kStopped[] = "firmware upgrade stopped";
}  // namespace upgrade_text

// ShortFrame codes of the update exchange.
namespace upgrade_frame {
inline constexpr std::uint8_t kIdle = 1;  // between phases and after failures
inline constexpr std::uint8_t kEraseBlock = 2;
inline constexpr std::uint8_t kBeginTransfer = 4;
inline constexpr std::uint8_t kEndTransfer = 5;
inline constexpr std::uint8_t kReadBackBlock = 6;
inline constexpr std::uint8_t kHandshake = 8;
inline constexpr std::uint8_t kBeginReadBack = 9;
inline constexpr std::uint8_t kAfterFinish = 10;
inline constexpr std::uint8_t kFinish = 12;
inline constexpr std::uint8_t kStart = 13;
}  // namespace upgrade_frame

inline constexpr std::uint64_t kUpgradeBlockSize = 1024;
inline constexpr std::uint64_t kUpgradePieceSize = 64;
// Reopen attempts after the programmer left for its update mode, and handshakes.
inline constexpr int kReconnectTries = 100;
inline constexpr int kHandshakeTries = 20;

// 1024-byte blocks of a file of `size` bytes, the last one partial.
[[nodiscard]] constexpr std::uint64_t UpgradeBlockCount(std::uint64_t size) {
  return (size + kUpgradeBlockSize - 1) / kUpgradeBlockSize;
}

// The upgrade dialog without its window: the chosen file, the bar (position and the
// text drawn on it) and the upgrade-running flag. The front end keeps one for the life
// of the program, so the worker never writes into a closed dialog; the window thread
// and the worker both use it.
class FirmwareUpgradeDialog {
 public:
  struct Bar {
    int position = 0;
    std::string text;
  };
  // Called on the thread that changed the bar.
  using BarListener = std::function<void(const Bar&)>;

  FirmwareUpgradeDialog();

  // The dialog opens: no file, "upgrade" disabled, the bar shows 0 and "please select
  // firmware file...".
  void Open();
  // "..." answered with a file: stored, "upgrade" enabled, the bar says it is ready.
  void ChooseFile(const std::filesystem::path& path);
  [[nodiscard]] std::filesystem::path FilePath() const;
  [[nodiscard]] bool UpgradeEnabled() const;

  // The "upgrade" button: true when the caller should hand worker command 21 over
  // (a file is chosen and no upgrade runs).
  [[nodiscard]] bool PressUpgrade() const;
  // Closing is refused while an upgrade runs.
  [[nodiscard]] bool CanClose() const { return !Running(); }
  [[nodiscard]] bool Running() const { return running_.load(); }
  void SetRunning(bool running) { running_.store(running); }

  void SetBar(int position, std::string_view text);
  [[nodiscard]] Bar CurrentBar() const;
  void SetBarListener(BarListener listener);

  // Asks a running upgrade to stop before its next block; the next upgrade clears it.
  void RequestStop() { stop_.store(true); }
  [[nodiscard]] bool StopRequested() const { return stop_.load(); }
  void ClearStop() { stop_.store(false); }

 private:
  mutable std::mutex mutex_;
  std::filesystem::path path_;
  bool upgrade_enabled_ = false;
  Bar bar_;
  BarListener listener_;
  std::atomic<bool> running_{false};
  std::atomic<bool> stop_{false};
};

// 0 on success; otherwise the failure number (1 to 11), or kUpgradeNoProgrammer when
// the programmer could not be opened at the start.
inline constexpr int kUpgradeSucceeded = 0;
inline constexpr int kUpgradeNoProgrammer = -1;
inline constexpr int kUpgradeStopped = -2;

// Worker command 21 on the file the dialog holds. Reports through `host` and the
// dialog's bar; leaves the DFU-mode flag set whatever happens after the switch.
[[nodiscard]] int UpgradeFirmware(UsbLink& link, CommandPacket& packet, Host& host,
                                  MainState& state, Clock& clock, FirmwareUpgradeDialog& dialog);
[[nodiscard]] inline int UpgradeFirmware(OperationContext& ctx, FirmwareUpgradeDialog& dialog) {
  return UpgradeFirmware(ctx.link, ctx.packet, ctx.host, ctx.state, ctx.clock, dialog);
}

}  // namespace tarvix
