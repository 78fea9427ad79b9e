// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/update_check.h"

#include "firmware/firmware_version.h"

namespace tarvix {

std::optional<std::uint8_t> ReadFirmwareVersionByte(UsbLink& link, CommandPacket& packet) {
  if (!link.ConnectDevice(false)) return std::nullopt;
  const std::optional<std::uint8_t> version = ReadFirmwareVersionReply(link, packet);
  if (version == kNoFirmwareVersion) return std::nullopt;
  return version;
}

UpdateCheckResult RunUpdateCheck(const UpdateCheckConfig& config,
                                 const FirmwareByteSource& firmware, ExchangeControl& control) {
  UpdateCheckResult result;
  result.link_url = config.link_url;
  FetchRequest request;
  request.url = config.url;
  request.agent = config.agent;
  request.class_flags = status_class::k2xx;
  request.max_bytes = kVersionDocumentBytes;
  const FetchResult fetched = FetchDocument(request, control);
  result.http_status = fetched.status;
  if (fetched.cancelled) {
    result.cancelled = true;
    return result;
  }
  if (!fetched.ok) {
    result.boxes.push_back({fetched.box_text, kApplicationName, BoxIcon::kNone});
    result.boxes.push_back({kVersionAccessFailed, "error", BoxIcon::kWarning});
    return result;
  }
  if (firmware) {
    control.Step("reading the programmer's firmware version");
    result.firmware = firmware(control);
  }
  if (control.Cancelled()) {
    result.cancelled = true;
    return result;
  }
  result.lines = MakeVersionLines(ParseVersionDocument(fetched.document), result.firmware.byte);
  result.ok = true;
  return result;
}

void ShowUpdateCheckBoxes(const UpdateCheckResult& result, Host& host) {
  for (const NetMessage& box : result.boxes)
    host.MessageBox(box.text, box.title, box.icon, BoxButtons::kOk);
}

bool UpdateCheck::Start() {
  return Launch([config = config_, firmware = firmware_](
                    ExchangeControl& control) { return RunUpdateCheck(config, firmware, control); },
                config_.timeout);
}

}  // namespace tarvix
