// SPDX-License-Identifier: GPL-3.0-or-later
// "Check New": fetches the version document, reads the programmer's firmware byte
// and builds the five lines of the "Version" dialog. The exchange runs off the
// window thread (UpdateCheck); the dialog only shows what the result holds.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "device/command_packet.h"
#include "device/host.h"
#include "device/usb_link.h"
#include "net/http_fetch.h"
#include "net/net_job.h"
#include "net/net_message.h"
#include "net/service_config.h"
#include "net/version_document.h"

namespace tarvix {

inline constexpr char kVersionAccessFailed[] = "version access failed    ";
inline constexpr char kVersionDialogTitle[] = "Version";
inline constexpr char kUpgradeLinkLabel[] = "Click for upgrade:";

// The programmer's answer to code 18 for the current-firmware line.
struct FirmwareByteReply {
  std::optional<std::uint8_t> byte;  // nothing: absent, silent or not asked
  bool busy = false;                 // not asked: an operation was using the programmer
};
using FirmwareByteSource = std::function<FirmwareByteReply(ExchangeControl&)>;

// Code 18 through `ConnectDevice` without its message: the link opened, the command
// sent with a 100 ms time-out and one byte read within 100 ms. Nothing on any failure
// and for 0xFF. Use it only where no operation can be using the link.
[[nodiscard]] std::optional<std::uint8_t> ReadFirmwareVersionByte(UsbLink& link,
                                                                  CommandPacket& packet);

struct UpdateCheckResult {
  bool ok = false;         // fetched: the "Version" dialog shows `lines`
  bool cancelled = false;  // stopped by the user; nothing to show
  unsigned http_status = 0;
  // The boxes of a failed fetch: the fetch routine's own, then "version access failed    ".
  std::vector<NetMessage> boxes;
  VersionLines lines;
  std::string link_url;  // the hyperlink beside "Click for upgrade:"
  FirmwareByteReply firmware;
};

// The whole check on the calling thread. `firmware` may be empty (no programmer).
[[nodiscard]] UpdateCheckResult RunUpdateCheck(const UpdateCheckConfig& config,
                                               const FirmwareByteSource& firmware,
                                               ExchangeControl& control);

// Shows the failure boxes of `result` through `host`, in order.
void ShowUpdateCheckBoxes(const UpdateCheckResult& result, Host& host);

// The check as a window drives it: Start() returns at once, Progress() tells what it
// is doing, Result() holds the outcome once Running() is false. Destroying it cancels
// the check and waits for its thread; `firmware` must outlive that. The window's
// source is Program::FirmwareByteForUpdateCheck, which asks the worker, so the check
// never talks to the programmer while an operation does.
class UpdateCheck : public NetJob<UpdateCheckResult> {
 public:
  UpdateCheck(UpdateCheckConfig config, FirmwareByteSource firmware)
      : config_(std::move(config)), firmware_(std::move(firmware)) {}
  // False while a check is still running.
  bool Start();

 private:
  UpdateCheckConfig config_;
  FirmwareByteSource firmware_;
};

}  // namespace tarvix
