// SPDX-License-Identifier: GPL-3.0-or-later
#include "buffer/buffer_tools.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>

#include "buffer/hex_page.h"
#include "buffer/image_buffer.h"
#include "device/host.h"

namespace tarvix {
namespace {

constexpr std::uint64_t kPageRows = kHexRows;
constexpr std::uint64_t kPageBytes = kHexRows * kHexColumns;

void InfoBox(Host& host, std::string_view text) {
  (void)host.MessageBox(text, "info", BoxIcon::kWarning, BoxButtons::kOk);
}

char Upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool IsHex(char c) {
  c = Upper(c);
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

}  // namespace

std::string HexByte(std::uint8_t b) {
  char text[3];
  std::snprintf(text, sizeof text, "%02X", b);
  return text;
}

std::uint64_t TopRowShowing(std::uint64_t address, std::uint64_t top_row, std::uint64_t row_count) {
  const std::uint64_t first = top_row * 16;
  if (address >= first && address <= first + kPageBytes - 1) return top_row;
  std::uint64_t top = address / 16;
  // The last page is always full; a short image simply starts at row 0.
  if (row_count - top < kPageRows) top = row_count > kPageRows ? row_count - kPageRows : 0;
  return top;
}

bool GoToAddress(ImageBuffer& buffer, HexPage& page, Host& host, std::uint64_t address) {
  if (address >= buffer.Size()) {
    host.ShowStatus(kAddressOutOfRange, true, false);
    InfoBox(host, kAddressOutOfRange);
    return false;
  }
  // An image of one page or less normally never scrolls, but the chip's rows can
  // have scrolled it: then the byte would be off the page, so it is moved too.
  buffer.SetTopRow(TopRowShowing(address, buffer.TopRow(), buffer.RowCount()));
  page.SetFollowFocus(true);
  page.Refresh();
  const GridCell cell{static_cast<int>(address / 16 - buffer.TopRow()) + 1,
                      static_cast<int>(address % 16) + 1};
  if (page.EditMode())
    page.OpenEditBox(cell, page.CellText(cell.row, cell.column), HexPage::Select::kBothDigits);
  page.SetFocusCell(cell);
  return true;
}

std::optional<std::uint64_t> ParseHexBox(std::string_view text, std::size_t max_digits) {
  if (text.empty() || text.size() > max_digits) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    if (!IsHex(c)) return std::nullopt;
    c = Upper(c);
    if (value > UINT64_MAX / 16) return std::nullopt;  // more than 64 bits never wraps round
    value = value * 16 + static_cast<std::uint64_t>(c < 'A' ? c - '0' : c - 'A' + 10);
  }
  return value;
}

std::optional<std::uint64_t> ParseDecimalBox(std::string_view text, std::size_t max_digits) {
  if (text.empty() || text.size() > max_digits) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

KeystrokeResult CheckKeystroke(std::string_view text, std::size_t caret, BoxCheck check,
                               Host& host) {
  KeystrokeResult result{std::string(text), caret, {}};
  if (caret == 0 || caret > text.size()) return result;
  const char c = text[caret - 1];
  const bool ok = check == BoxCheck::kDecimal ? (c >= '0' && c <= '9') : IsHex(c);
  if (ok) return result;
  // A character typed outside ASCII is several bytes: all of them go.
  std::size_t first = caret - 1;
  while (first > 0 && (static_cast<unsigned char>(text[first]) & 0xC0) == 0x80) --first;
  result.text.erase(first, caret - first);
  result.caret = first;
  result.message = check == BoxCheck::kHex ? kHexInputWarning : kHexInputWarningWide;
  InfoBox(host, result.message);
  return result;
}

std::string_view ValidateFillRequest(std::string_view address, std::string_view length,
                                     std::string_view data) {
  if (address.empty()) return kFillNoAddress;
  if (length.empty()) return kFillNoLength;
  if (data.empty()) return kFillNoData;
  // Boxes filled around the keystroke check (pasted text, scripts) still need numbers.
  if (!ParseHexBox(address, kAddressDigits) || !ParseHexBox(data, kDataDigits))
    return kHexInputWarning;
  if (!ParseDecimalBox(length, kLengthDigits)) return kHexInputWarningWide;
  return {};
}

FileFill::FileFill(ImageBuffer& buffer, HexPage& page, Host& host, std::string app_name)
    : buffer_(buffer), page_(page), host_(host), app_name_(std::move(app_name)) {}

void FileFill::SetFromEnd(bool checked) {
  from_end_ = checked;
  if (checked) {
    char text[24];
    std::snprintf(text, sizeof text, "%llX", static_cast<unsigned long long>(buffer_.Size()));
    address_ = text;
  } else {
    address_ = "0";
  }
}

std::string FillGrowsPastChipQuestion(std::uint64_t new_size, std::uint32_t capacity) {
  char text[160];
  std::snprintf(text, sizeof text,
                "the fill makes the file %llu bytes long, past the chip's %u bytes. continue ?",
                static_cast<unsigned long long>(new_size), capacity);
  return text;
}

FillOutcome FileFill::Ok(const FillProgress& progress) {
  if (const std::string_view refused = ValidateFillRequest(address_, length_, data_);
      !refused.empty()) {
    InfoBox(host_, refused);
    return FillOutcome::kRefused;
  }
  if (!page_.EditMode()) {
    state_text_ = kFillScanModeState;
    host_.ShowStatus(kFillScanMode, true, false);
    (void)host_.MessageBox(kFillScanMode, app_name_, BoxIcon::kNone, BoxButtons::kOk);
    return FillOutcome::kScanMode;
  }
  if (!buffer_.Loaded()) {
    host_.ShowStatus("file is not opened! ", true, false);
    return FillOutcome::kNotLoaded;
  }
  const std::uint64_t address = *ParseHexBox(address_, kAddressDigits);
  const std::uint64_t length = *ParseDecimalBox(length_, kLengthDigits);
  const auto value = static_cast<std::uint8_t>(*ParseHexBox(data_, kDataDigits));
  const std::uint64_t end = address + length;
  const std::uint64_t capacity = buffer_.Capacity();
  if (end > buffer_.Size() && capacity > 0 && end > capacity &&
      host_.MessageBox(FillGrowsPastChipQuestion(end, buffer_.Capacity()), "warning",
                       BoxIcon::kWarning, BoxButtons::kYesNo) != BoxAnswer::kYes)
    return FillOutcome::kDeclined;
  state_text_ = kFillFilling;

  // Filling past the end first pads the gap with blank bytes (0xFF); both go in
  // slices, so a long fill can show how far it got and be stopped.
  const std::uint64_t first = std::min(address, buffer_.Size());
  ImageBuffer::Status status = ImageBuffer::Status::kOk;
  bool stopped = false;
  for (std::uint64_t at = first; at < end && status == ImageBuffer::Status::kOk;) {
    const bool gap = at < address;
    const std::uint64_t n = std::min(kFillSlice, (gap ? address : end) - at);
    status = buffer_.Fill(at, n, gap ? std::uint8_t{0xFF} : value);
    at += n;
    if (status == ImageBuffer::Status::kOk && at < end && progress &&
        !progress(at - first, end - first)) {
      stopped = true;
      break;
    }
  }
  page_.UpdateScrollRange();
  if (status != ImageBuffer::Status::kOk) {
    // The buffer has measured the file again; show what is really there.
    state_text_ = kFillFailed;
    page_.Refresh();
    host_.ShowStatus(kFillWriteFailed, true, false);
    (void)host_.MessageBox(kFillWriteFailed, "error", BoxIcon::kError, BoxButtons::kOk);
    return FillOutcome::kFailed;
  }
  state_text_ = stopped ? kFillStopped : kFillFinished;
  if ((buffer_.Size() + 15) / 16 > kFillMaxRows)
    (void)host_.MessageBox(kTooLargeToShow, "warning", BoxIcon::kWarning, BoxButtons::kOk);
  // So that the next OK appends again.
  if (from_end_) SetFromEnd(true);
  page_.Refresh();
  host_.ShowStatus(stopped ? kFillStopped : kFillFinished, stopped, false);
  return stopped ? FillOutcome::kStopped : FillOutcome::kFilled;
}

bool MoveToAddress(ImageBuffer& buffer, HexPage& page, Host& host, std::string_view address_text) {
  if (address_text.empty()) {
    InfoBox(host, kMoveToNoAddress);
    return false;
  }
  const std::optional<std::uint64_t> address = ParseHexBox(address_text, kAddressDigits);
  if (!address) {
    InfoBox(host, kHexInputWarningWide);
    return false;
  }
  return GoToAddress(buffer, page, host, *address);
}

std::optional<std::uint64_t> ViewDataAddress(std::string_view address_text, bool word_organised,
                                             Host& host) {
  if (address_text.empty()) {
    InfoBox(host, kViewDataNoAddress);
    return std::nullopt;
  }
  const std::optional<std::uint64_t> address = ParseHexBox(address_text, kAddressDigits);
  if (!address) {
    InfoBox(host, kHexInputWarning);
    return std::nullopt;
  }
  return word_organised ? *address * 2 : *address;
}

ViewDataFile ReadViewDataFile(ImageBuffer& buffer, HexPage& page, Host& host, std::uint64_t address,
                              bool word_organised) {
  ViewDataFile result;
  if (!buffer.Loaded()) {
    result.state = "file unopened";
    return result;
  }
  if (address >= buffer.Size()) {
    result.file_data = "overflow";
    result.state = "file overflow";
    return result;
  }
  std::array<std::uint8_t, 2> bytes{};
  if (!buffer.ReadChipSized(address, bytes)) {
    result.state = "file read failed";
    return result;
  }
  result.file_data = HexByte(bytes[0]);
  if (word_organised) result.file_data += HexByte(bytes[1]);
  result.state = "file read succeed";
  (void)GoToAddress(buffer, page, host, address);
  return result;
}

}  // namespace tarvix
