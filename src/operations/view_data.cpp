// SPDX-License-Identifier: GPL-3.0-or-later
#include "operations/view_data.h"

#include <array>
#include <cctype>

#include "buffer/hex_page.h"
#include "device/command_protocol.h"
#include "operations/recognition.h"

namespace tarvix {
namespace {

ViewDataChip Unconnected() {
  return {view_data_text::kNull, view_data_text::kUnconnected};
}

}  // namespace

ViewDataChip ReadViewDataChip(OperationContext& ctx, int recognition, std::uint64_t address,
                              bool word_organised) {
  using namespace view_data_text;
  if (ctx.state.dfu_mode.load() != 0) return {kNull, kDfuMode};
  if (recognition == kNoProgrammer) return Unconnected();
  const std::uint64_t capacity = ctx.state.chip_capacity.load();
  // Also covers a doubled word address beyond 32 bits and a chip of no size.
  if (address >= capacity) return {kOverflow, kChipOverflow};

  const auto payload = BigEndian32(static_cast<std::uint32_t>(address));
  const bool sent =
      SendCommand(ctx.link, ctx.packet, command_code::kReadAtAddress, kReadAtTimeoutMs, payload);
  if (recognition < 0) return Unconnected();
  // Nothing to read when the command never left: a stale reply would be taken instead.
  if (!sent) return Unconnected();
  std::array<std::uint8_t, kReadAtReplySize> reply{};
  const int got = ctx.link.BulkRead(reply.data(), kReadAtReplySize, kReadAtTimeoutMs);
  // A short reply would show bytes that never came.
  if (got < (word_organised ? 2 : 1)) return Unconnected();
  ViewDataChip chip{HexByte(reply[0]), kChipRead};
  if (word_organised) chip.chip_data += HexByte(reply[1]);
  return chip;
}

void ViewDataDialog::Open() {
  {
    std::lock_guard lock(mutex_);
    address_.clear();
    texts_ = ViewDataTexts{};
    request_.reset();
    pending_ = false;
    ++oks_;  // a result still on its way belongs to the closed dialog
  }
  Notify();
}

std::string ViewDataDialog::AddressText() const {
  std::lock_guard lock(mutex_);
  return address_;
}

void ViewDataDialog::SetAddressText(std::string_view text) {
  std::lock_guard lock(mutex_);
  address_ = std::string(text.substr(0, kAddressDigits));
}

KeystrokeResult ViewDataDialog::EditAddress(std::string_view text, std::size_t caret, Host& host) {
  std::string upper(text);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  KeystrokeResult result = CheckKeystroke(upper, caret, BoxCheck::kHex, host);
  // The box takes no more characters than it holds.
  if (result.text.size() > kAddressDigits) {
    result.text.resize(kAddressDigits);
    if (result.caret > kAddressDigits) result.caret = kAddressDigits;
  }
  SetAddressText(result.text);
  return result;
}

ViewDataTexts ViewDataDialog::Texts() const {
  std::lock_guard lock(mutex_);
  return texts_;
}

bool ViewDataDialog::ChipReadPending() const {
  std::lock_guard lock(mutex_);
  return pending_;
}

std::optional<ViewDataRequest> ViewDataDialog::Ok(ImageBuffer& buffer, HexPage& page, Host& host,
                                                  const CommandPacket& packet) {
  const bool word_organised = packet.WordOrganised();
  const std::optional<std::uint64_t> address = ViewDataAddress(AddressText(), word_organised, host);
  if (!address) return std::nullopt;
  const ViewDataFile file = ReadViewDataFile(buffer, page, host, *address, word_organised);
  ViewDataRequest request{*address, word_organised, 0};
  {
    std::lock_guard lock(mutex_);
    request.number = ++oks_;
    texts_.file_data = file.file_data;
    // A chip byte of an earlier address must not stand beside this one.
    texts_.chip_data = view_data_text::kNull;
    texts_.state = file.state;
    request_ = request;
    pending_ = true;
  }
  Notify();
  return request;
}

std::optional<ViewDataRequest> ViewDataDialog::TakeRequest() {
  std::lock_guard lock(mutex_);
  std::optional<ViewDataRequest> request = request_;
  request_.reset();
  return request;
}

void ViewDataDialog::FinishChipSide(const ViewDataRequest& request, const ViewDataChip& chip,
                                    Host& host) {
  {
    std::lock_guard lock(mutex_);
    if (request.number != oks_) return;
    texts_.chip_data = chip.chip_data;
    texts_.state += chip.state;
    texts_.state += view_data_text::kEnd;
    request_.reset();
    pending_ = false;
  }
  Notify();
  host.ShowStatus(view_data_text::kFinished, false, false);
}

void ViewDataDialog::SetListener(Listener listener) {
  std::lock_guard lock(mutex_);
  listener_ = std::move(listener);
}

void ViewDataDialog::Notify() {
  Listener listener;
  {
    std::lock_guard lock(mutex_);
    listener = listener_;
  }
  if (listener) listener();
}

void RunViewData(OperationContext& ctx, ViewDataDialog& dialog) {
  const std::optional<ViewDataRequest> request = dialog.TakeRequest();
  if (!request) return;
  const int recognition = ChipRecognition(ctx, true);
  // Without "Auto Recognize" the recognition opens nothing; a programmer that no
  // operation has opened yet is opened here rather than reported unconnected.
  if (!ctx.settings.IsOn(SettingItem::kAutoRecognize) && !ctx.link.IsOpen())
    (void)ctx.link.ConnectDevice(false);
  dialog.FinishChipSide(
      *request, ReadViewDataChip(ctx, recognition, request->address, request->word_organised),
      ctx.host);
}

}  // namespace tarvix
