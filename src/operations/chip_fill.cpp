// SPDX-License-Identifier: GPL-3.0-or-later
#include "operations/chip_fill.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "device/command_protocol.h"
#include "operations/pre_check.h"
#include "operations/recognition.h"

namespace tarvix {
namespace {

constexpr int kFillCommandTimeoutMs = 5000;
constexpr int kPieceReadTimeoutMs = 5000;
constexpr int kBlockStatusTimeoutMs = 50000;
constexpr int kBlockWriteTimeoutMs = 60000;
constexpr int kEndOfDataTimeoutMs = 5000;
constexpr int kEndStatusTimeoutMs = 60000;
constexpr std::uint64_t kPieceSize = 1024;
constexpr std::uint64_t kWriteChunk = 4096;
constexpr std::size_t kProgressLimit = 16;
// The protocol addresses blocks with 32 bits; a larger block cannot exist.
constexpr unsigned kLargestBlockBits = 32;

bool IsHexField(FillField field) {
  return field != FillField::kLength;
}

bool Takes(FillField field, char c) {
  if (c >= '0' && c <= '9') return true;
  return IsHexField(field) && c >= 'A' && c <= 'F';
}

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Leading digits of the field in `base`, as far as the field's limit reaches.
std::uint64_t ParseField(std::string_view text, FillField field, unsigned base) {
  std::uint64_t value = 0;
  const std::size_t n = std::min(text.size(), FillFieldLimit(field));
  for (std::size_t i = 0; i < n; ++i) {
    const int d = DigitValue(text[i]);
    if (d < 0 || static_cast<unsigned>(d) >= base) break;
    value = value * base + static_cast<unsigned>(d);
  }
  return value;
}

// The failure before any block: state line, then the red status.
bool RefuseFill(ChipFillDialog& dialog, Host& host, const char* state_line) {
  dialog.SetStateLine(state_line);
  host.ShowStatus(fill_text::kFailed, true, true);
  return false;
}

// One block of the range: read, merged in memory, written back.
class BlockExchange {
 public:
  BlockExchange(OperationContext& ctx, const FillPlan& plan) : ctx_(ctx), plan_(plan) {}

  // Reads block `f` from the programmer, merging the fill value into the range as the
  // bytes arrive. False when the block did not arrive whole: writing back a part of
  // it would leave the rest of a rewritten block to chance.
  bool ReadMerged(std::uint64_t f) {
    const std::uint64_t s = plan_.block_size;
    block_.clear();
    std::vector<std::uint8_t> piece(static_cast<std::size_t>(std::min(s, kPieceSize)));
    const std::size_t unit = plan_.UnitSize();
    const std::uint64_t end = plan_.start + plan_.length;
    while (block_.size() < s) {
      const auto want = static_cast<int>(std::min<std::uint64_t>(piece.size(), s - block_.size()));
      const int n = ctx_.link.BulkRead(piece.data(), want, kPieceReadTimeoutMs);
      if (n <= 0) return false;
      for (int i = 0; i < n; ++i) {
        const std::uint64_t offset = block_.size();
        const std::uint64_t unit_address = f + offset - offset % unit;
        const bool in_range = unit_address >= plan_.start && unit_address < end;
        block_.push_back(in_range ? plan_.value[offset % unit]
                                  : piece[static_cast<std::size_t>(i)]);
      }
    }
    return true;
  }

  // Sends the merged block in transfers of at most 4096 bytes; a transfer that takes
  // only part of its bytes is followed by one with the rest.
  bool WriteBack() {
    for (std::size_t done = 0; done < block_.size();) {
      const auto n = static_cast<int>(std::min<std::uint64_t>(kWriteChunk, block_.size() - done));
      const int r = ctx_.link.BulkWrite(block_.data() + done, n, kBlockWriteTimeoutMs);
      if (r <= 0) return false;
      done += static_cast<std::size_t>(r);
    }
    return true;
  }

 private:
  OperationContext& ctx_;
  const FillPlan& plan_;
  std::vector<std::uint8_t> block_;
};

}  // namespace

std::size_t FillFieldLimit(FillField field) {
  switch (field) {
    case FillField::kAddress:
    case FillField::kLength:
      return 8;
    case FillField::kDataByte:
      return 2;
    case FillField::kDataWord:
      return 4;
  }
  return 0;
}

FillFieldEdit CheckFillFieldEdit(FillField field, std::string_view text, std::size_t caret) {
  FillFieldEdit edit;
  edit.caret = std::min(caret, text.size());
  const std::size_t typed_caret = edit.caret;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (IsHexField(field)) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (Takes(field, c)) {
      edit.text.push_back(c);
    } else {
      edit.rejected = true;
      if (i < typed_caret) --edit.caret;
    }
  }
  // The edit control takes no more than its limit.
  if (edit.text.size() > FillFieldLimit(field)) edit.text.resize(FillFieldLimit(field));
  edit.caret = std::min(edit.caret, edit.text.size());
  return edit;
}

void ChipFillDialog::Open(const CommandPacket& packet) {
  {
    std::lock_guard lock(mutex_);
    // A fill still writing keeps its fields and state line; a new dialog starts afresh.
    if (cancel_enabled_) {
      word_field_ = packet.WordOrganised();
      fields_ = FillFields{};
      state_line_.clear();
    }
  }
  Notify();
}

bool ChipFillDialog::ShowsWordField() const {
  std::lock_guard lock(mutex_);
  return word_field_;
}

FillFields ChipFillDialog::Fields() const {
  std::lock_guard lock(mutex_);
  return fields_;
}

void ChipFillDialog::SetFields(const FillFields& fields) {
  std::lock_guard lock(mutex_);
  fields_ = fields;
}

FillFieldEdit ChipFillDialog::Edit(FillField field, std::string_view text, std::size_t caret,
                                   Host& host) {
  FillFieldEdit edit = CheckFillFieldEdit(field, text, caret);
  {
    std::lock_guard lock(mutex_);
    switch (field) {
      case FillField::kAddress:
        fields_.address = edit.text;
        break;
      case FillField::kLength:
        fields_.length = edit.text;
        break;
      case FillField::kDataByte:
        fields_.data_byte = edit.text;
        break;
      case FillField::kDataWord:
        fields_.data_word = edit.text;
        break;
    }
  }
  if (edit.rejected)
    host.MessageBox(fill_text::kHexOnlyBox, "info", BoxIcon::kWarning, BoxButtons::kOk);
  return edit;
}

bool ChipFillDialog::Accept(Host& host) {
  const FillFields f = Fields();
  // The data field checked is the one the dialog shows: an empty word field would
  // otherwise fill with zeros.
  const std::string& data = ShowsWordField() ? f.data_word : f.data_byte;
  const char* line = nullptr;
  const char* box = nullptr;
  if (f.address.empty()) {
    line = fill_text::kNoAddress;
    box = fill_text::kNoAddressBox;
  } else if (f.length.empty()) {
    line = fill_text::kNoLength;
    box = fill_text::kNoLengthBox;
  } else if (data.empty()) {
    line = fill_text::kNoData;
    box = fill_text::kNoDataBox;
  }
  if (line == nullptr) return true;
  SetStateLine(line);
  host.MessageBox(box, "info", BoxIcon::kWarning, BoxButtons::kOk);
  return false;
}

std::string ChipFillDialog::StateLine() const {
  std::lock_guard lock(mutex_);
  return state_line_;
}

void ChipFillDialog::SetStateLine(std::string_view text) {
  {
    std::lock_guard lock(mutex_);
    state_line_ = std::string(text);
  }
  Notify();
}

bool ChipFillDialog::CancelEnabled() const {
  std::lock_guard lock(mutex_);
  return cancel_enabled_;
}

void ChipFillDialog::EnableCancel(bool enabled) {
  {
    std::lock_guard lock(mutex_);
    cancel_enabled_ = enabled;
  }
  Notify();
}

void ChipFillDialog::SetListener(Listener listener) {
  std::lock_guard lock(mutex_);
  listener_ = std::move(listener);
}

void ChipFillDialog::Notify() {
  Listener listener;
  {
    std::lock_guard lock(mutex_);
    listener = listener_;
  }
  if (listener) listener();
}

std::optional<std::uint64_t> FillBlockSize(std::uint8_t sector_size_code,
                                           std::uint8_t page_size_code, bool word_organisation) {
  if (sector_size_code == 0xFF) return std::nullopt;
  if (sector_size_code != 0) {
    const unsigned bits = sector_size_code + 10u;
    if (bits > kLargestBlockBits) return std::nullopt;
    return std::uint64_t{1} << bits;
  }
  if (page_size_code == 0xFF) return 256;
  const unsigned bits = page_size_code + (word_organisation ? 1u : 0u);
  if (bits > kLargestBlockBits) return std::nullopt;
  return std::uint64_t{1} << bits;
}

std::optional<FillPlan> MakeFillPlan(const FillFields& fields, const CommandPacket& packet) {
  FillPlan plan;
  plan.word_organisation = packet.WordOrganised();
  const auto size = FillBlockSize(packet.Byte(5), packet.Byte(4), plan.word_organisation);
  if (!size) return std::nullopt;
  plan.block_size = *size;
  // The fields count words on a 16-bit chip; the plan counts bytes.
  const std::uint64_t factor = plan.word_organisation ? 2 : 1;
  plan.start = ParseField(fields.address, FillField::kAddress, 16) * factor;
  plan.length = ParseField(fields.length, FillField::kLength, 10) * factor;
  if (plan.word_organisation) {
    const std::uint64_t word = ParseField(fields.data_word, FillField::kDataWord, 16);
    plan.value = {static_cast<std::uint8_t>(word >> 8), static_cast<std::uint8_t>(word)};
  } else {
    const auto byte =
        static_cast<std::uint8_t>(ParseField(fields.data_byte, FillField::kDataByte, 16));
    plan.value = {byte, byte};
  }
  return plan;
}

FillBlocks BlocksOfRange(std::uint64_t start, std::uint64_t length, std::uint64_t block_size) {
  const std::uint64_t first = start - start % block_size;
  if (length == 0) return {first, first};
  const std::uint64_t last = start + length - 1;
  return {first, last - last % block_size + block_size};
}

std::string NextFillProgress(const std::string& current, std::uint64_t index) {
  if (index % 2 == 0) return current;
  std::string next = current + ".";
  if (next.size() > kProgressLimit) next = fill_text::kFilling;
  return next;
}

bool RunChipFill(OperationContext& ctx, ChipFillDialog& dialog) {
  Host& host = ctx.host;
  dialog.ClearStop();
  if (RefuseInDfuMode(ctx)) return false;

  const FillFields fields = dialog.Fields();
  if (!MakeFillPlan(fields, ctx.packet)) return RefuseFill(dialog, host, fill_text::kNotSupported);

  const bool auto_recognize = ctx.settings.IsOn(SettingItem::kAutoRecognize);
  if (auto_recognize) {
    const int result = ChipTest(ctx);
    if (result == kNoChip || result == kNoProgrammer) {
      dialog.SetStateLine(fill_text::kFailed);
      return false;
    }
  } else if (ctx.link.CheckDeviceOpen() == kDeviceRefused) {
    dialog.SetStateLine(fill_text::kFailed);
    return false;
  }
  if (auto_recognize && ctx.state.selection_changed.load() != 0) return false;

  // The test may have selected another chip: the blocks are those of the chip the
  // programmer now has, not of the one selected when the fill was asked for.
  const std::optional<FillPlan> plan = MakeFillPlan(fields, ctx.packet);
  if (!plan) return RefuseFill(dialog, host, fill_text::kNotSupported);
  if (plan->start + plan->length > ctx.state.chip_capacity.load())
    return RefuseFill(dialog, host, fill_text::kOutOfRange);

  const FillBlocks blocks = BlocksOfRange(plan->start, plan->length, plan->block_size);
  std::string progress = fill_text::kFilling;
  dialog.SetStateLine(progress);
  dialog.EnableCancel(false);

  BlockExchange exchange(ctx, *plan);
  bool link_error = false;
  bool stopped = false;
  std::uint64_t index = 0;
  for (std::uint64_t f = blocks.first; f < blocks.end; f += plan->block_size, ++index) {
    // Between blocks only: a block read from the chip is always written back whole.
    if (dialog.StopRequested()) {
      stopped = true;
      break;
    }
    const auto address = BigEndian32(static_cast<std::uint32_t>(f));
    if (!SendCommand(ctx.link, ctx.packet, command_code::kChipFill, kFillCommandTimeoutMs,
                     address)) {
      dialog.SetStateLine(fill_text::kLinkError);
      host.ShowStatus(fill_text::kLinkError, true, true);
      dialog.EnableCancel(true);
      return false;
    }
    std::uint8_t status = 0;
    if (!exchange.ReadMerged(f) || ctx.link.BulkRead(&status, 1, kBlockStatusTimeoutMs) < 1) {
      link_error = true;
      break;
    }
    progress = NextFillProgress(progress, index);
    dialog.SetStateLine(progress);
    if (!exchange.WriteBack() ||
        !SendCommand(ctx.link, ctx.packet, command_code::kEndOfData, kEndOfDataTimeoutMs) ||
        ctx.link.BulkRead(&status, 1, kEndStatusTimeoutMs) < 1) {
      link_error = true;
      break;
    }
  }

  if (link_error) {
    dialog.SetStateLine(fill_text::kLinkError);
    host.ShowStatus(fill_text::kLinkError, true, true);
  } else if (stopped) {
    dialog.SetStateLine(fill_text::kStopped);
    host.ShowStatus(fill_text::kStopped, true, false);
  } else {
    dialog.SetStateLine(fill_text::kSucceeded);
    host.ShowStatus(fill_text::kSucceeded, false, false);
  }
  dialog.EnableCancel(true);
  return !link_error && !stopped;
}

}  // namespace tarvix
