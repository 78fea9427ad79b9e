// SPDX-License-Identifier: GPL-3.0-or-later
// HexPage: the hex view without its widgets. It owns the 21 x 18 grid texts (header
// row, address column, 16 byte cells, ASCII column), the colour state of every byte
// cell, the scroll bar values, the grid's focus cell, the cell edit box and edit
// mode. The window mirrors it: after each call it copies what the listener names
// (blocking its own change signals while it does, so mirroring the edit box text does
// not come back as typed text). Offsets are 64-bit; only the scroll bar is scaled to
// its 16-bit range.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "buffer/image_buffer.h"
#include "device/host.h"
#include "state/main_state.h"

namespace tarvix {

// Colour states of a byte cell.
enum HexCellState : std::uint16_t {
  kCellSame = 0,      // equals the source file, within the chip: black
  kCellChanged = 1,   // differs from the source or past its end, within the image: red
  kCellOutside = 2,   // nothing loaded, or past the end of the image: grey
  kCellMatch = 3,     // a search match: white on blue
  kCellPastChip = 4,  // equals the source but past the chip's capacity: cornflower blue
};

struct Rgb {
  std::uint8_t red = 0, green = 0, blue = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};
// Text colour of a state; only state 3 has a background of its own (blue).
[[nodiscard]] Rgb CellTextColour(std::uint16_t state);
inline constexpr Rgb kMatchBackground{0, 0, 255};

// A grid position: row 0 is the header, column 0 the address, 17 the ASCII column.
struct GridCell {
  int row = -1;
  int column = -1;
  [[nodiscard]] bool IsNone() const { return row < 0 || column < 0; }
  [[nodiscard]] bool IsByteCell() const {
    return row >= 1 && row <= kHexRows && column >= 1 && column <= kHexColumns;
  }
  friend bool operator==(const GridCell&, const GridCell&) = default;
};
inline constexpr GridCell kNoCell{-1, -1};

// One state applied by a refresh.
struct CellStateChange {
  int row;     // 1..20
  int column;  // 1..16
  std::uint16_t from;
  std::uint16_t to;
};

class HexPage {
 public:
  static constexpr int kGridRows = kHexRows + 1;        // 21 with the header
  static constexpr int kGridColumns = kHexColumns + 2;  // 18 with address and ASCII
  static constexpr int kAsciiColumn = kHexColumns + 1;
  static constexpr std::uint64_t kPageBytes = kHexRows * kHexColumns;  // 320
  // From this many scroll rows on, the scroll bar range is scaled to 0..32767.
  static constexpr std::uint64_t kScaledScrollRows = 32788;
  static constexpr int kScrollMaximum = 32767;

  // Grid layout (pixels) the window applies once.
  static constexpr int kRowHeight = 18;
  static constexpr int kAddressColumnWidth = 85;
  static constexpr int kByteColumnWidth = 25;
  static constexpr int kAsciiColumnWidth = 132;

  enum class Change {
    kPage,       // cell texts or states (a refresh or a match mark)
    kEditBox,    // edit box shown/hidden/moved, its text or selection
    kScrollBar,  // range, position or enabled state
    kFocusCell,  // the grid's focus cell
    kKeyboardFocus,
    kEditMode,  // the "edit mode" check box and the check mark of menu item 32783
  };
  using Listener = std::function<void(Change)>;

  // Which control has the keyboard focus (the wheel only works on these).
  enum class Focus { kOther, kGrid, kScrollBar, kEditBox };

  // Scroll bar notification codes.
  enum class ScrollCode {
    kLineUp,
    kLineDown,
    kPageUp,
    kPageDown,
    kThumbTrack,
    kThumbPosition,
    kTop,
    kBottom,
    kEndScroll
  };

  struct ScrollBar {
    int minimum = 0;
    int maximum = 0;
    int page = 1;
    int position = 0;
    [[nodiscard]] bool Enabled() const { return maximum > minimum; }
  };

  // Edit box 1027: a single line of at most 2 upper-case characters over one cell.
  struct EditBox {
    bool visible = false;
    GridCell cell;
    std::string text;
    int selection_start = 0;
    int selection_end = 0;
  };
  enum class Select { kFirstDigit, kSecondDigit, kBothDigits };

  HexPage(ImageBuffer& buffer, MainState& state, Host& host);

  // ---- what the grid shows --------------------------------------------------
  [[nodiscard]] const std::string& CellText(int row, int column) const {
    return texts_[row][column];
  }
  // The state last applied to byte cell (row 1..20, column 1..16).
  [[nodiscard]] std::uint16_t CellState(int row, int column) const {
    return state_.hex_cell_states[row - 1][column - 1];
  }
  [[nodiscard]] const ScrollBar& ScrollBarState() const { return scroll_bar_; }
  [[nodiscard]] const EditBox& Box() const { return box_; }
  [[nodiscard]] bool EditBoxOpen() const { return edit_box_open_; }
  [[nodiscard]] GridCell FocusCell() const { return focus_cell_; }
  [[nodiscard]] Focus KeyboardFocus() const { return keyboard_focus_; }
  [[nodiscard]] bool EditMode() const { return edit_mode_; }
  [[nodiscard]] bool FollowFocus() const { return follow_focus_; }

  // ---- page ---------------------------------------------------------------
  // Redraws the page at the buffer's top row. Returns the cells whose state was
  // applied (only those whose state differs from the recorded one).
  const std::vector<CellStateChange>& Refresh();
  // Scroll bar range after a change of size or chip (the buffer's kRows notice
  // calls this too).
  void UpdateScrollRange();
  // Scroll bar position for a top row (the 16-bit scaling lives only here).
  [[nodiscard]] int ScrollPositionFor(std::uint64_t top_row) const;

  // ---- user input, as the grid reports it ----------------------------------------
  void Scroll(ScrollCode code, int position = 0);
  // Positive steps move up one row, negative ones down one row.
  void Wheel(int delta);
  // A click on a grid cell; the grid has made it its focus cell. `right_half` is true
  // when the pointer lies beyond half the column's width.
  void Click(GridCell cell, bool right_half);
  // The edit box text changed; `caret` is the selection start after the change.
  void TextChanged(const std::string& text, int caret);
  // Enter, Save and the switch to scan mode commit a pending edit. True when a byte
  // was written.
  bool Commit();
  // Edit Mode from the menu (32783) and from the check box 1006.
  void ToggleModeFromMenu();
  void ToggleModeFromCheckBox();
  // A chip read is about to replace the image: back to scan mode without committing
  // or reporting (the read reports it).
  void LeaveEditMode();
  // While an operation holds the image the page takes no edit: no edit box opens and
  // typing changes nothing. `locked` says whether one does (the program's command
  // state knows); the window calls EditLockChanged when that may have changed, and
  // shows the grid read-only meanwhile.
  void SetEditLock(std::function<bool()> locked) { edit_lock_ = std::move(locked); }
  [[nodiscard]] bool EditLocked() const { return edit_lock_ && edit_lock_(); }
  void EditLockChanged();
  // The grid's own focus moved (keyboard navigation); `kNoCell` for none.
  void SetFocusCell(GridCell cell);
  void SetKeyboardFocus(Focus focus);

  // ---- used by load and the buffer tools --------------------------------------
  // After a load: clear follow focus and the focus cell, hide the edit box.
  void ResetFocus();
  void SetFollowFocus(bool on) { follow_focus_ = on; }
  // Opens the edit box on a byte cell with `text` and the given digits selected.
  void OpenEditBox(GridCell cell, const std::string& text, Select select);
  // Marks a byte cell as a search match (state 3, white on blue).
  void MarkMatch(GridCell cell);

  void AddListener(Listener listener) { listeners_.push_back(std::move(listener)); }

 private:
  std::function<bool()> edit_lock_;
  struct Remembered {
    GridCell cell;
    std::uint64_t absolute_row = 0;
    std::string text;
    bool valid = false;
  };
  void Notify(Change change);
  // Offset of the byte a byte cell of the current page shows.
  [[nodiscard]] std::uint64_t ByteOffset(GridCell cell) const;
  [[nodiscard]] bool ViewFrozen() const;  // write or verify running, nothing loaded
  void RememberFocus(std::uint64_t top_row_for_absolute);
  void HideEditBox();
  void AfterSecondDigit();
  void SwitchToScan();
  void SwitchToEdit();
  void FollowFocusAfterRefresh(const std::string& focus_text_before);
  // The open edit box shows its byte's value as the page now holds it.
  void SyncEditBoxWithItsByte();

  ImageBuffer& buffer_;
  MainState& state_;
  Host& host_;
  std::array<std::array<std::string, kGridColumns>, kGridRows> texts_;
  std::array<std::uint8_t, kPageBytes> working_page_{};
  std::array<std::uint8_t, kPageBytes> source_page_{};
  std::int64_t source_length_ = 0;
  std::vector<CellStateChange> applied_;
  ScrollBar scroll_bar_;
  EditBox box_;
  bool edit_box_open_ = false;
  bool edit_mode_ = false;
  bool follow_focus_ = false;
  GridCell focus_cell_ = kNoCell;
  Focus keyboard_focus_ = Focus::kOther;
  Remembered remembered_;
  std::string opened_text_;  // text the edit box was last opened with
  // A digit was typed into the box since it opened. A box nobody typed into never
  // writes: on a blank cell past the image it would grow the file by itself.
  bool box_typed_ = false;
  Select opened_select_ = Select::kFirstDigit;
  std::uint64_t previous_top_row_ = 0;
  std::string reset_text_;
  std::string last_valid_text_;
  // The byte whose texts reset_text_ and last_valid_text_ hold.
  std::optional<std::uint64_t> box_byte_;
  std::vector<Listener> listeners_;
};

// Wires the chip selection's kCurrentChip notice: rows, scroll range, chip sum, redraw.
class ChipSelection;
void ConnectChipSelection(ChipSelection& selection, ImageBuffer& buffer, HexPage& page);

}  // namespace tarvix
