// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's controls as the dialog template lays them out: kind, id, text and
// position in dialog units. MainWindow builds itself from this table alone, and the
// dialog units become pixels here.
#pragma once

#include <QRect>
#include <vector>

namespace tarvix::gui {

enum class ControlKind {
  kGroupBox,
  kLabel,
  kCentredLabel,
  kStatusLabel,  // vertically centred
  kDropDownList,
  kImageButton,
  kPushButton,
  kProgressBar,
  kCheckBox,
  kGrid,
  kVerticalScrollBar,
  kLogPane,
  kEditBox,
  kCellEditBox,  // hidden until a cell is edited
  kPictureButton,
  kEtchedLine,
};

struct LayoutItem {
  int id;  // 0 for controls without an id of their own
  ControlKind kind;
  const char* text;  // UTF-8, as created
  int x, y, width, height;
  bool hidden = false;
  bool disabled = false;
};

// Dialog size in dialog units.
inline constexpr int kDialogWidthDu = 591;
inline constexpr int kDialogHeightDu = 362;

[[nodiscard]] const std::vector<LayoutItem>& MainWindowLayout();
[[nodiscard]] const LayoutItem* FindLayoutItem(int id);

// Dialog units to pixels. A fixed scale, chosen so the hex grid's fixed pixel cells
// (85 + 16 x 25 + 132 by 21 x 18) fit the grid's 355 x 235 units with its frame, and
// so an 8-unit-high label holds one line of the dialog font.
struct DialogUnits {
  double x = 1.75;
  double y = 1.65;
  [[nodiscard]] int Px(int du) const { return static_cast<int>(du * x + 0.5); }
  [[nodiscard]] int Py(int du) const { return static_cast<int>(du * y + 0.5); }
  [[nodiscard]] QRect Rect(int x, int y, int width, int height) const;
  [[nodiscard]] QRect Rect(const LayoutItem& item) const;
  [[nodiscard]] QSize DialogSize() const { return {Px(kDialogWidthDu), Py(kDialogHeightDu)}; }
};

}  // namespace tarvix::gui
