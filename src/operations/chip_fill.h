// SPDX-License-Identifier: GPL-3.0-or-later
// Chip fill (worker command 19): one fill value into an address range of the chip
// itself. The programmer rewrites whole blocks, so each block the range touches is
// read from the chip, merged with the fill value in memory and written back; the rest
// of the chip and the loaded image stay as they are.
//
// ChipFillDialog is the "Fill chip data" dialog without its window: the four fields,
// their checks while typing and on OK, the state line the worker writes and the
// Cancel button the worker disables. The front end keeps one for the life of the
// program, so the worker never writes into a closed dialog.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "device/command_packet.h"
#include "device/host.h"
#include "operations/operation_context.h"

namespace tarvix {

inline constexpr char kFillDialogTitle[] = "Fill chip data";
inline constexpr char kFillNote[] = "note：\r\n    Only support EEPROM and some SPI FLASH；";

namespace fill_text {
inline constexpr char kHexOnlyBox[] = "please input hex data!    ";
inline constexpr char kNoAddress[] = "please input fill address";
inline constexpr char kNoAddressBox[] = "please input fill address!   ";
inline constexpr char kNoLength[] = "please input fill length";
inline constexpr char kNoLengthBox[] = "please input fill length!   ";
inline constexpr char kNoData[] = "please input fill data";
inline constexpr char kNoDataBox[] = "please input fill data!   ";
inline constexpr char kNotSupported[] = "this chip is not support this function";
inline constexpr char kFailed[] = "chip fill failed";
inline constexpr char kOutOfRange[] = "the address is out of chip range";
inline constexpr char kFilling[] = "chip filling...";
inline constexpr char kLinkError[] = "device connect error!";
inline constexpr char kSucceeded[] = "Fill succeed";
// A stop asked for between blocks (the command-line tool's Ctrl-C; the dialog's Cancel
// is disabled while blocks are written).
inline constexpr char kStopped[] = "chip fill stopped";
}  // namespace fill_text

enum class FillField : std::uint8_t { kAddress, kLength, kDataByte, kDataWord };

// Characters a field holds at most.
[[nodiscard]] std::size_t FillFieldLimit(FillField field);

// A field after the user changed it: letters in upper case, and any character the
// field does not take (hex digits; decimal digits in the length) removed again with
// the caret moved back over it. `rejected` asks for the "please input hex data!" box.
struct FillFieldEdit {
  std::string text;
  std::size_t caret = 0;
  bool rejected = false;
};
[[nodiscard]] FillFieldEdit CheckFillFieldEdit(FillField field, std::string_view text,
                                               std::size_t caret);

struct FillFields {
  std::string address = "0";  // hexadecimal; counts words on a 16-bit chip
  std::string length = "1";   // decimal; counts words on a 16-bit chip
  std::string data_byte = "FF";
  std::string data_word = "FFFF";
};

class ChipFillDialog {
 public:
  using Listener = std::function<void()>;

  ChipFillDialog() = default;

  // The dialog opens for the selected chip: the fields at their first values, an empty
  // state line, and the word field instead of the byte field when the packet marks a
  // 16-bit organisation. While a fill runs (Cancel disabled) nothing changes.
  void Open(const CommandPacket& packet);
  [[nodiscard]] bool ShowsWordField() const;

  [[nodiscard]] FillFields Fields() const;
  void SetFields(const FillFields& fields);
  // Typing into a field: checked by CheckFillFieldEdit; a rejected character brings up
  // the box through `host`. Returns the field as it stands afterwards.
  FillFieldEdit Edit(FillField field, std::string_view text, std::size_t caret, Host& host);

  // OK (or Enter): true when worker command 19 may be handed over. An empty address,
  // length or two-digit data field is refused with the state line and a box.
  [[nodiscard]] bool Accept(Host& host);

  [[nodiscard]] std::string StateLine() const;
  void SetStateLine(std::string_view text);
  [[nodiscard]] bool CancelEnabled() const;
  void EnableCancel(bool enabled);

  // Called on the thread that changed the state line or the Cancel button.
  void SetListener(Listener listener);

  // Asks a running fill to stop before its next block; the next fill clears it.
  void RequestStop() { stop_.store(true); }
  [[nodiscard]] bool StopRequested() const { return stop_.load(); }
  void ClearStop() { stop_.store(false); }

 private:
  void Notify();

  mutable std::mutex mutex_;
  FillFields fields_;
  bool word_field_ = false;
  std::string state_line_;
  bool cancel_enabled_ = true;
  Listener listener_;
  std::atomic<bool> stop_{false};
};

// Size in bytes of the block the programmer rewrites, from the packet's sector and
// page size codes; nothing when the chip does not support the fill.
[[nodiscard]] std::optional<std::uint64_t> FillBlockSize(std::uint8_t sector_size_code,
                                                         std::uint8_t page_size_code,
                                                         bool word_organisation);

// What the fill works with, in bytes.
struct FillPlan {
  bool word_organisation = false;
  std::uint64_t block_size = 0;
  std::uint64_t start = 0;   // A
  std::uint64_t length = 0;  // L
  std::array<std::uint8_t, 2> value{0xFF, 0xFF};
  [[nodiscard]] std::size_t UnitSize() const { return word_organisation ? 2 : 1; }
};
// Nothing when the packet's chip does not support the fill.
[[nodiscard]] std::optional<FillPlan> MakeFillPlan(const FillFields& fields,
                                                   const CommandPacket& packet);

// Block starts [first, end) a range touches; empty for a length of 0.
struct FillBlocks {
  std::uint64_t first = 0;
  std::uint64_t end = 0;
  [[nodiscard]] std::uint64_t Count(std::uint64_t block_size) const {
    return (end - first) / block_size;
  }
};
[[nodiscard]] FillBlocks BlocksOfRange(std::uint64_t start, std::uint64_t length,
                                       std::uint64_t block_size);

// The state line after block `index` (from 0): every second block adds a dot; past
// 16 characters the text starts again.
[[nodiscard]] std::string NextFillProgress(const std::string& current, std::uint64_t index);

// Worker command 19: fills the range the dialog names. True on success.
[[nodiscard]] bool RunChipFill(OperationContext& ctx, ChipFillDialog& dialog);

}  // namespace tarvix
