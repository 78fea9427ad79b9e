// SPDX-License-Identifier: GPL-3.0-or-later
#include "buffer/hex_page.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "buffer/load_save.h"
#include "catalogue/chip_selection.h"

namespace tarvix {

namespace {

std::string HexText(std::uint64_t value, int width) {
  char text[32];
  std::snprintf(text, sizeof text, "%*llX", width, static_cast<unsigned long long>(value));
  std::string result = text;
  std::replace(result.begin(), result.end(), ' ', '0');
  return result;
}

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

int DigitValue(char c) {
  return c < 'A' ? c - '0' : c - 'A' + 10;
}

}  // namespace

Rgb CellTextColour(std::uint16_t state) {
  switch (state) {
    case kCellChanged:
      return {255, 0, 0};
    case kCellOutside:
      return {204, 204, 204};
    case kCellMatch:
      return {255, 255, 255};
    case kCellPastChip:
      return {100, 149, 237};
    default:
      return {0, 0, 0};
  }
}

HexPage::HexPage(ImageBuffer& buffer, MainState& state, Host& host)
    : buffer_(buffer), state_(state), host_(host) {
  texts_[0][0] = "  ADDR";
  for (int c = 1; c <= kHexColumns; ++c) texts_[0][c] = HexText(c - 1, 1);
  texts_[0][kAsciiColumn] = "     ASCII";
  for (int r = 1; r <= kHexRows; ++r) {
    texts_[r][0] = HexText(static_cast<std::uint64_t>(r - 1) * 16, 8);
    for (int c = 1; c <= kHexColumns; ++c) texts_[r][c] = "FF";
    texts_[r][kAsciiColumn] = std::string(kHexColumns, '.');
  }
  buffer_.AddListener([this](ImageBuffer::Change change) {
    if (change == ImageBuffer::Change::kRows || change == ImageBuffer::Change::kImage) {
      UpdateScrollRange();
    }
  });
  UpdateScrollRange();
}

std::uint64_t HexPage::ByteOffset(GridCell cell) const {
  return (buffer_.TopRow() + static_cast<std::uint64_t>(cell.row - 1)) * 16 +
         static_cast<std::uint64_t>(cell.column - 1);
}

void HexPage::Notify(Change change) {
  for (const auto& listener : listeners_) listener(change);
}

bool HexPage::ViewFrozen() const {
  return state_.busy_writing.load() || state_.busy_verifying.load() || !buffer_.Loaded();
}

int HexPage::ScrollPositionFor(std::uint64_t top_row) const {
  const std::uint64_t rows = buffer_.ScrollRows();
  if (rows < kScaledScrollRows) return static_cast<int>(top_row);
  const double scaled =
      static_cast<double>(top_row) / static_cast<double>(rows - kHexRows) * kScrollMaximum;
  return static_cast<int>(std::min<double>(scaled, kScrollMaximum));
}

void HexPage::UpdateScrollRange() {
  const std::uint64_t rows = buffer_.ScrollRows();
  ScrollBar bar;
  bar.minimum = 0;
  bar.page = 1;
  if (rows <= static_cast<std::uint64_t>(kHexRows)) {
    bar.maximum = 0;
  } else if (rows < kScaledScrollRows) {
    bar.maximum = static_cast<int>(rows - kHexRows);
  } else {
    bar.maximum = kScrollMaximum;
  }
  bar.position = std::clamp(scroll_bar_.position, bar.minimum, bar.maximum);
  scroll_bar_ = bar;
  Notify(Change::kScrollBar);
}

const std::vector<CellStateChange>& HexPage::Refresh() {
  applied_.clear();
  // The focused byte's text before this page replaces it: following the focus keeps
  // the byte's own text, not whatever scrolls into its grid position.
  std::string focus_text;
  if (focus_cell_.IsByteCell()) focus_text = texts_[focus_cell_.row][focus_cell_.column];

  working_page_.fill(0xFF);
  source_page_.fill(0x00);
  const std::uint64_t top = buffer_.TopRow();
  const bool loaded = buffer_.Loaded();
  source_length_ = 0;
  if (loaded) {
    (void)buffer_.ReadWorking(top * 16, working_page_);
    (void)buffer_.ReadSource(top * 16, source_page_);
    source_length_ = std::max<std::int64_t>(buffer_.SourceLength(), 0);
    scroll_bar_.position = ScrollPositionFor(top);
    Notify(Change::kScrollBar);
  }
  const std::uint64_t size = buffer_.Size();
  const std::uint64_t capacity = buffer_.Capacity();
  const auto source_length = static_cast<std::uint64_t>(source_length_);
  bool entered_changed = false;
  for (int r = 1; r <= kHexRows; ++r) {
    const std::uint64_t row = top + static_cast<std::uint64_t>(r - 1);
    texts_[r][0] = HexText(row * 16, 8);
    std::string ascii(kHexColumns, '.');
    for (int c = 1; c <= kHexColumns; ++c) {
      const std::size_t i = static_cast<std::size_t>(r - 1) * kHexColumns + (c - 1);
      const std::uint64_t n = row * 16 + static_cast<std::uint64_t>(c);  // 1-based
      const std::uint8_t byte = working_page_[i];
      std::uint16_t cell_state;
      if (!loaded) {
        cell_state = kCellOutside;
      } else if (byte != source_page_[i] || n > source_length) {
        cell_state = n > size ? kCellOutside : kCellChanged;
      } else {
        cell_state = n > capacity ? kCellPastChip : kCellSame;
      }
      std::uint16_t& recorded = state_.hex_cell_states[r - 1][c - 1];
      if (recorded != cell_state) {
        applied_.push_back({r, c, recorded, cell_state});
        recorded = cell_state;
        if (cell_state == kCellChanged) entered_changed = true;
      }
      texts_[r][c] = HexText(byte, 2);
      if (byte >= 0x21 && byte <= 0x7E) ascii[c - 1] = static_cast<char>(byte);
    }
    texts_[r][kAsciiColumn] = ascii;
  }
  if (entered_changed) host_.EnableMenuItem(kCommandSave);
  Notify(Change::kPage);
  if (follow_focus_) FollowFocusAfterRefresh(focus_text);
  SyncEditBoxWithItsByte();
  previous_top_row_ = top;
  return applied_;
}

void HexPage::SyncEditBoxWithItsByte() {
  if (!edit_box_open_ || !box_.visible || !box_byte_) return;
  const std::uint64_t top = buffer_.TopRow();
  const std::uint64_t row = *box_byte_ / 16;
  if (row < top || row >= top + static_cast<std::uint64_t>(kHexRows)) return;
  const std::string& text =
      texts_[static_cast<int>(row - top) + 1][static_cast<int>(*box_byte_ % 16) + 1];
  // The box's own keystrokes reopen it with the byte's new text; any other change (a
  // file fill) would leave it showing, and Enter writing back, the old value.
  if (text == opened_text_) return;
  box_.text = text;
  opened_text_ = text;
  reset_text_ = text;
  last_valid_text_.clear();
  remembered_.text = text;
  Notify(Change::kEditBox);
}

void HexPage::FollowFocusAfterRefresh(const std::string& focus_text_before) {
  const std::uint64_t top = buffer_.TopRow();
  auto on_page = [top](std::uint64_t absolute) {
    return absolute >= top && absolute < top + static_cast<std::uint64_t>(kHexRows);
  };
  if (focus_cell_.IsByteCell()) {
    remembered_.cell = focus_cell_;
    remembered_.absolute_row = previous_top_row_ + static_cast<std::uint64_t>(focus_cell_.row - 1);
    remembered_.text = focus_text_before;
    remembered_.valid = true;
    const bool visible = on_page(remembered_.absolute_row);
    focus_cell_ =
        visible ? GridCell{static_cast<int>(remembered_.absolute_row - top) + 1, focus_cell_.column}
                : kNoCell;
    Notify(Change::kFocusCell);
    if (edit_box_open_ && edit_mode_) {
      if (visible && ByteOffset(focus_cell_) != box_byte_) {
        // The grid's focus had moved to another byte: the box edits that byte now.
        OpenEditBox(focus_cell_, texts_[focus_cell_.row][focus_cell_.column], opened_select_);
      } else if (visible) {
        box_.cell = focus_cell_;
        box_.visible = true;
        Notify(Change::kEditBox);
      } else {
        // The edit stays pending; it comes back with its cell.
        box_.visible = false;
        keyboard_focus_ = Focus::kGrid;
        Notify(Change::kKeyboardFocus);
        Notify(Change::kEditBox);
      }
    }
  } else if (focus_cell_.IsNone() && remembered_.valid && on_page(remembered_.absolute_row)) {
    focus_cell_ = {static_cast<int>(remembered_.absolute_row - top) + 1, remembered_.cell.column};
    Notify(Change::kFocusCell);
    if (edit_mode_ && edit_box_open_) {
      const std::string text = remembered_.text;
      OpenEditBox(focus_cell_, text, opened_select_);
    }
  }
}

void HexPage::Scroll(ScrollCode code, int position) {
  const std::uint64_t rows = buffer_.ScrollRows();
  if (ViewFrozen() || rows <= static_cast<std::uint64_t>(kHexRows)) return;
  SetKeyboardFocus(Focus::kScrollBar);
  std::uint64_t top = buffer_.TopRow();
  switch (code) {
    case ScrollCode::kLineUp:
    case ScrollCode::kPageUp:
      if (top > 0) --top;
      break;
    case ScrollCode::kLineDown:
    case ScrollCode::kPageDown:
      if (top + kHexRows < rows) ++top;
      break;
    case ScrollCode::kThumbTrack: {
      if (position < 0) break;
      const auto pos = static_cast<std::uint64_t>(position);
      // The same threshold as the range and the position: with a scaled range an
      // unscaled thumb could not reach the last rows and would jump back on redraw.
      if (rows < kScaledScrollRows) {
        if (pos + kHexRows <= rows) top = pos;
      } else {
        const auto target = static_cast<std::uint64_t>(static_cast<double>(pos) / kScrollMaximum *
                                                       static_cast<double>(rows - kHexRows));
        if (target + kHexRows <= rows) top = target;
      }
      break;
    }
    default:
      break;
  }
  buffer_.SetTopRow(top);
  Refresh();
}

void HexPage::Wheel(int delta) {
  const std::uint64_t rows = buffer_.ScrollRows();
  if (ViewFrozen() || rows <= static_cast<std::uint64_t>(kHexRows)) return;
  if (!(keyboard_focus_ == Focus::kGrid || keyboard_focus_ == Focus::kScrollBar ||
        edit_box_open_)) {
    return;
  }
  std::uint64_t top = buffer_.TopRow();
  if (delta > 0 && top > 0) --top;
  if (delta < 0 && top + kHexRows < rows) ++top;
  buffer_.SetTopRow(top);
  Refresh();
}

void HexPage::SetFocusCell(GridCell cell) {
  focus_cell_ = cell;
  Notify(Change::kFocusCell);
}

void HexPage::SetKeyboardFocus(Focus focus) {
  keyboard_focus_ = focus;
  Notify(Change::kKeyboardFocus);
}

void HexPage::RememberFocus(std::uint64_t top_row_for_absolute) {
  if (!focus_cell_.IsByteCell()) return;
  remembered_.cell = focus_cell_;
  remembered_.absolute_row = top_row_for_absolute + static_cast<std::uint64_t>(focus_cell_.row - 1);
  remembered_.text = texts_[focus_cell_.row][focus_cell_.column];
  remembered_.valid = true;
}

void HexPage::Click(GridCell cell, bool right_half) {
  // The grid has already moved its focus to the clicked cell.
  focus_cell_ = cell;
  keyboard_focus_ = Focus::kGrid;
  Notify(Change::kFocusCell);
  follow_focus_ = true;
  if (ViewFrozen() || !edit_mode_ || EditLocked()) return;
  if (!cell.IsByteCell()) return;
  RememberFocus(buffer_.TopRow());
  reset_text_ = texts_[cell.row][cell.column];
  OpenEditBox(cell, reset_text_, right_half ? Select::kSecondDigit : Select::kFirstDigit);
}

void HexPage::OpenEditBox(GridCell cell, const std::string& text, Select select) {
  if (!cell.IsByteCell()) return;
  host_.ShowStatus("input...", false, false);
  box_.visible = true;
  box_.cell = cell;
  box_.text = text;
  switch (select) {
    case Select::kFirstDigit:
      box_.selection_start = 0, box_.selection_end = 1;
      break;
    case Select::kSecondDigit:
      box_.selection_start = 1, box_.selection_end = 2;
      break;
    case Select::kBothDigits:
      box_.selection_start = 0, box_.selection_end = 2;
      break;
  }
  keyboard_focus_ = Focus::kEditBox;
  edit_box_open_ = true;
  box_typed_ = false;
  // On a new byte, an emptied box or a refused digit may only bring back this byte's
  // own text, never the one of the byte edited before.
  if (const std::uint64_t offset = ByteOffset(cell); box_byte_ != offset) {
    reset_text_ = text;
    last_valid_text_.clear();
    box_byte_ = offset;
  }
  opened_text_ = text;
  opened_select_ = select;
  // The box edits this byte whatever the caller remembered before.
  remembered_.cell = cell;
  remembered_.absolute_row = buffer_.TopRow() + static_cast<std::uint64_t>(cell.row - 1);
  remembered_.text = text;
  remembered_.valid = true;
  Notify(Change::kKeyboardFocus);
  Notify(Change::kEditBox);
}

void HexPage::HideEditBox() {
  box_.visible = false;
  edit_box_open_ = false;
  Notify(Change::kEditBox);
}

void HexPage::TextChanged(const std::string& typed, int caret) {
  if (!box_.visible) return;
  if (EditLocked()) {
    HideEditBox();
    return;
  }
  std::string text = typed;
  for (auto& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (text.empty()) {
    host_.ShowStatus("input error", true, false);
    host_.MessageBox("input is invalid! ", "warning", BoxIcon::kWarning, BoxButtons::kOk);
    box_.text = reset_text_;
    last_valid_text_ = reset_text_;
    box_.selection_start = 0;
    box_.selection_end = static_cast<int>(box_.text.size());
    Notify(Change::kEditBox);
    return;
  }
  const int p = std::min<int>(caret, static_cast<int>(text.size()));
  if (p <= 0) {
    box_.text = text;
    box_.selection_start = box_.selection_end = 0;
    Notify(Change::kEditBox);
    return;
  }
  // The box holds two characters; anything longer never reaches a real one.
  if (text.size() > 2 || !IsHexDigit(text[p - 1])) {
    if (text.size() <= 2) {
      host_.MessageBox("please input hexadecimal data!  ", "warning", BoxIcon::kWarning,
                       BoxButtons::kOk);
    }
    box_.text = last_valid_text_.empty() ? reset_text_ : last_valid_text_;
    box_.selection_start = std::min<int>(p - 1, static_cast<int>(box_.text.size()));
    box_.selection_end = std::min<int>(p, static_cast<int>(box_.text.size()));
    Notify(Change::kEditBox);
    return;
  }
  box_.text = text;
  box_.selection_start = box_.selection_end = p;
  last_valid_text_ = text;
  box_typed_ = true;
  if (p == 1) {
    const GridCell cell = box_.cell;
    Commit();
    OpenEditBox(cell, texts_[cell.row][cell.column], Select::kSecondDigit);
  } else if (p == 2 && text.size() == 2) {
    Commit();
    AfterSecondDigit();
  } else {
    Notify(Change::kEditBox);
  }
}

void HexPage::EditLockChanged() {
  // A half-typed byte is dropped: the operation reads the image as it is.
  if (EditLocked() && edit_box_open_) HideEditBox();
  Notify(Change::kPage);
}

void HexPage::AfterSecondDigit() {
  GridCell next = remembered_.cell;
  if (!next.IsByteCell()) return;
  if (++next.column > kHexColumns) {
    next.column = 1;
    if (++next.row > kHexRows) {
      buffer_.SetTopRow(buffer_.TopRow() + 1);
      Refresh();
      next.row = kHexRows;
    }
  }
  focus_cell_ = next;
  Notify(Change::kFocusCell);
  RememberFocus(buffer_.TopRow());
  Refresh();
  last_valid_text_.clear();
  // Emptying the box now restores this byte, not the one first clicked.
  reset_text_ = texts_[next.row][next.column];
  OpenEditBox(next, texts_[next.row][next.column], Select::kFirstDigit);
}

bool HexPage::Commit() {
  // Only a pending edit is written: a stale box text never lands on another cell.
  if (state_.busy_writing.load() || !buffer_.Loaded() || !edit_box_open_) return false;
  std::string text = box_.text;
  if (focus_cell_.IsByteCell()) {
    RememberFocus(buffer_.TopRow());
  } else {
    text = opened_text_;
    box_.text = text;
  }
  if (!remembered_.valid) {
    HideEditBox();
    return false;
  }
  const std::uint64_t offset =
      remembered_.absolute_row * 16 + static_cast<std::uint64_t>(remembered_.cell.column - 1);
  const std::uint64_t old_size = buffer_.Size();
  if (text == remembered_.text && (offset + 1 <= old_size || !box_typed_)) {
    HideEditBox();
    host_.ShowStatus("data not changed", false, false);
    return false;
  }
  if (text.size() == 1) text = "0" + text;
  if (text.size() != 2 || !IsHexDigit(text[0]) || !IsHexDigit(text[1])) {
    HideEditBox();
    host_.ShowStatus("data not changed", false, false);
    return false;
  }
  const auto value = static_cast<std::uint8_t>(DigitValue(text[0]) * 16 + DigitValue(text[1]));
  HideEditBox();
  const ImageBuffer::Status status = buffer_.WriteByte(offset, value);
  buffer_.SetSizeText(SizeText(buffer_.Size()));
  Refresh();
  if (status != ImageBuffer::Status::kOk) {
    host_.ShowStatus("data write failed! ", true, true);
    return false;
  }
  host_.ShowStatus("data changed", false, false);
  host_.EnableMenuItem(kCommandSave);
  return true;
}

void HexPage::ToggleModeFromMenu() {
  if (state_.busy_writing.load()) return;
  if (!buffer_.Loaded()) {
    host_.ShowStatus("file is not opened.", true, true);
    return;
  }
  SetKeyboardFocus(Focus::kOther);
  ToggleModeFromCheckBox();
}

void HexPage::ToggleModeFromCheckBox() {
  if (state_.busy_writing.load()) {
    Notify(Change::kEditMode);
    return;
  }
  if (!buffer_.Loaded()) {
    host_.ShowStatus("file is not opened! ", true, false);
    Notify(Change::kEditMode);  // the check box goes back to the mode
    return;
  }
  if (edit_mode_) {
    SwitchToScan();
  } else {
    SwitchToEdit();
  }
}

void HexPage::LeaveEditMode() {
  if (!edit_mode_) return;
  edit_mode_ = false;
  Notify(Change::kEditMode);
  if (edit_box_open_) HideEditBox();
}

void HexPage::SwitchToScan() {
  edit_mode_ = false;
  Notify(Change::kEditMode);
  host_.GrayMenuItem(kCommandFileFill);
  if (focus_cell_.IsByteCell()) {
    SetFocusCell(focus_cell_);
    RememberFocus(buffer_.TopRow());
    const std::uint64_t n =
        remembered_.absolute_row * 16 + static_cast<std::uint64_t>(remembered_.cell.column);
    if (n <= buffer_.Size()) Commit();
  }
  // An edit box opened past the image holds nothing typed: close it unwritten.
  if (edit_box_open_) HideEditBox();
  SetKeyboardFocus(Focus::kGrid);
  host_.ShowStatus("scan mode selected...", false, false);
}

void HexPage::SwitchToEdit() {
  edit_mode_ = true;
  Notify(Change::kEditMode);
  host_.EnableMenuItem(kCommandFileFill);
  if (focus_cell_.IsByteCell()) {
    SetFocusCell(focus_cell_);
    RememberFocus(buffer_.TopRow());
    reset_text_ = remembered_.text;
    OpenEditBox(focus_cell_, remembered_.text, Select::kFirstDigit);
  }
  host_.ShowStatus("edit mode selected...", false, false);
}

void HexPage::ResetFocus() {
  follow_focus_ = false;
  focus_cell_ = kNoCell;
  remembered_ = {};
  last_valid_text_.clear();
  box_byte_.reset();
  Notify(Change::kFocusCell);
  HideEditBox();
}

void HexPage::MarkMatch(GridCell cell) {
  if (!cell.IsByteCell()) return;
  std::uint16_t& recorded = state_.hex_cell_states[cell.row - 1][cell.column - 1];
  recorded = kCellMatch;
  Notify(Change::kPage);
}

void ConnectChipSelection(ChipSelection& selection, ImageBuffer& buffer, HexPage& page) {
  selection.AddListener([&buffer, &page](ChipSelection::Change change) {
    if (change != ChipSelection::Change::kCurrentChip) return;
    buffer.OnChipChanged();
    page.UpdateScrollRange();
    page.Refresh();
  });
}

}  // namespace tarvix
