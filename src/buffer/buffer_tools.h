// SPDX-License-Identifier: GPL-3.0-or-later
// The "Addr Operate" tools on the loaded image: go to address (shared by View Data,
// Move To and Find), File Fill with "Fill from the end", Move To, and the file side of
// View Data. The dialogs only show these models' texts and forward their buttons;
// validation and messages live here.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tarvix {

class HexPage;
class Host;
class ImageBuffer;

inline constexpr std::string_view kAddressOutOfRange = "address is out of range!";
inline constexpr std::string_view kHexInputWarning = "please input hex data!   ";
inline constexpr std::string_view kHexInputWarningWide = "please input hex data!    ";

inline constexpr std::string_view kFillTitle = "Fill file data";
inline constexpr std::string_view kFillNoAddress = "please input fill address!   ";
inline constexpr std::string_view kFillNoLength = "please input fill length!   ";
inline constexpr std::string_view kFillNoData = "please input fill data!   ";
inline constexpr std::string_view kFillScanModeState = "file is in scan mode ";
inline constexpr std::string_view kFillScanMode = "file is in scan mode! ";
inline constexpr std::string_view kFillFilling = "file filling...";
inline constexpr std::string_view kFillFinished = "fill finished";
inline constexpr std::string_view kFillFailed = "fill failed";
inline constexpr std::string_view kFillWriteFailed = "file write failed!   ";
inline constexpr std::string_view kFillStopped = "fill stopped";
inline constexpr std::string_view kTooLargeToShow = "file is too large to show";
// A fill goes in slices this long; between them the caller shows progress and may stop it.
inline constexpr std::uint64_t kFillSlice = 16u << 20;
// A fill that leaves more rows than this warns kTooLargeToShow.
inline constexpr std::uint64_t kFillMaxRows = 134217754;

inline constexpr std::string_view kMoveToTitle = "Move to specify addr";
inline constexpr std::string_view kMoveToNoAddress = "please input address! ";

inline constexpr std::string_view kViewDataTitle = "View Data";
inline constexpr std::string_view kViewDataNoAddress = "please input the address!   ";

// Box sizes: how many characters each box takes.
inline constexpr std::size_t kAddressDigits = 8;
inline constexpr std::size_t kLengthDigits = 10;
inline constexpr std::size_t kDataDigits = 2;

// ---- go to address -------------------------------------------------------------

// The top row that shows byte `address`: unchanged while the byte is on the page;
// otherwise the byte's row, moved up so that the last page is always full.
[[nodiscard]] std::uint64_t TopRowShowing(std::uint64_t address, std::uint64_t top_row,
                                          std::uint64_t row_count);

// Scrolls the hex view to byte `address`, focuses its cell and, in edit mode, opens
// the edit box on it with both digits selected. Past the image's end it reports
// "address is out of range!" (status line and box) and returns false.
bool GoToAddress(ImageBuffer& buffer, HexPage& page, Host& host, std::uint64_t address);

// ---- box texts -------------------------------------------------------------------

// Digits converted one by one (value * 16 + digit); nothing for an empty text, a
// character that is no digit, more digits than the box holds, or a number past 64 bits. Lower-case
// letters count as upper-case ones (the boxes turn every letter to upper case).
[[nodiscard]] std::optional<std::uint64_t> ParseHexBox(std::string_view text,
                                                       std::size_t max_digits);
[[nodiscard]] std::optional<std::uint64_t> ParseDecimalBox(std::string_view text,
                                                           std::size_t max_digits);

// Which check a box runs after each keystroke.
enum class BoxCheck : std::uint8_t {
  kHex,        // View Data address, Fill address, Fill data
  kMoveToHex,  // Move To address: same check, the message with four blanks
  kDecimal,    // Fill length
};
struct KeystrokeResult {
  std::string text;
  std::size_t caret = 0;
  std::string_view message;  // empty when the keystroke was accepted
};
// The character before the caret must be a digit of the box's kind; otherwise it is
// removed, the caret steps back and the box's warning is shown (title "info"). Text
// and caret are UTF-8: a refused character outside ASCII goes with all its bytes.
KeystrokeResult CheckKeystroke(std::string_view text, std::size_t caret, BoxCheck check,
                               Host& host);

// ---- File Fill -------------------------------------------------------------------

// The boxes' checks in the dialog's order; the warning text, or empty when all hold.
[[nodiscard]] std::string_view ValidateFillRequest(std::string_view address,
                                                   std::string_view length, std::string_view data);

enum class FillOutcome : std::uint8_t {
  kRefused,    // a box is empty or holds no number (its box was shown)
  kScanMode,   // the image is in scan mode
  kNotLoaded,  // nothing to fill
  kDeclined,   // the user would not grow the image past the chip
  kFailed,     // the working copy could not be written (a full disk)
  kStopped,    // stopped between slices; what was filled by then stays
  kFilled,
};

// Between the slices of a fill: the bytes written so far of `total` (the gap before
// the address counts). False stops the fill there.
using FillProgress = std::function<bool(std::uint64_t done, std::uint64_t total)>;

// The question asked before a fill makes the image longer than the selected chip.
[[nodiscard]] std::string FillGrowsPastChipQuestion(std::uint64_t new_size, std::uint32_t capacity);

// The "Fill file data" dialog. It stays open after OK.
class FileFill {
 public:
  // `app_name` titles the scan-mode box (the executable's base name).
  FileFill(ImageBuffer& buffer, HexPage& page, Host& host, std::string app_name);

  [[nodiscard]] const std::string& AddressText() const { return address_; }
  [[nodiscard]] const std::string& LengthText() const { return length_; }
  [[nodiscard]] const std::string& DataText() const { return data_; }
  [[nodiscard]] const std::string& StateText() const { return state_text_; }
  [[nodiscard]] bool FromEnd() const { return from_end_; }
  // The address box is read-only while "Fill from the end" is checked.
  [[nodiscard]] bool AddressReadOnly() const { return from_end_; }

  void SetAddressText(std::string text) { address_ = std::move(text); }
  void SetLengthText(std::string text) { length_ = std::move(text); }
  void SetDataText(std::string text) { data_ = std::move(text); }
  // "Fill from the end": checked puts the image size ("%X") in the address box,
  // unchecked makes it editable again with "0".
  void SetFromEnd(bool checked);

  // OK. A fill that would make the image longer than the selected chip asks first
  // (a mistyped length must not write gigabytes). The bytes go in slices of
  // kFillSlice, with `progress` called between them.
  FillOutcome Ok(const FillProgress& progress = {});

 private:
  ImageBuffer& buffer_;
  HexPage& page_;
  Host& host_;
  std::string app_name_;
  std::string address_ = "0";
  std::string length_ = "1";
  std::string data_;
  std::string state_text_ = "null";
  bool from_end_ = false;
};

// ---- Move To ---------------------------------------------------------------------

// The Move To dialog's OK (the dialog stays open): true when the view moved.
bool MoveToAddress(ImageBuffer& buffer, HexPage& page, Host& host, std::string_view address_text);

// ---- View Data, file side ---------------------------------------------------------

// The byte address View Data looks at: the box's word address doubled for chips
// organised in 16-bit words. Nothing (and the box "please input the address!   ")
// for an empty box; kHexInputWarning for text that is no hexadecimal number.
[[nodiscard]] std::optional<std::uint64_t> ViewDataAddress(std::string_view address_text,
                                                           bool word_organised, Host& host);

struct ViewDataFile {
  std::string file_data = "null";  // file data text 1042
  std::string state;               // start of the state text 1044
};
// A byte as View Data shows it: "%2X" with the blank made "0".
[[nodiscard]] std::string HexByte(std::uint8_t b);

// The file side of View Data at byte address `address`: the byte ("%2X") or, for a
// 16-bit chip, the word ("%2X%2X", a byte past the end reads as FF); then the view
// goes to the address. Without an image "null" / "file unopened"; past the end
// "overflow" / "file overflow".
ViewDataFile ReadViewDataFile(ImageBuffer& buffer, HexPage& page, Host& host, std::uint64_t address,
                              bool word_organised);

}  // namespace tarvix
