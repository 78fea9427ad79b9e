// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/window_layout.h"

namespace tarvix::gui {

const std::vector<LayoutItem>& MainWindowLayout() {
  using K = ControlKind;
  static const std::vector<LayoutItem> kLayout = {
      {0, K::kGroupBox, "ChipInfo", 5, 2, 105, 72},
      {0, K::kLabel, "type:", 11, 16, 21, 8},
      {1014, K::kDropDownList, "", 32, 13, 75, 75},
      {0, K::kLabel, "firm:", 11, 30, 21, 8},
      {1015, K::kDropDownList, "", 32, 28, 75, 117},
      {0, K::kLabel, "chip:", 11, 44, 21, 8},
      {1016, K::kDropDownList, "", 32, 43, 75, 102},
      {0, K::kLabel, "capa:", 11, 59, 21, 8},
      {1017, K::kCentredLabel, "0", 35, 59, 70, 8},
      {0, K::kGroupBox, "operation", 5, 77, 105, 265},
      {1019, K::kImageButton, "Auto(F9)", 9, 89, 95, 31},
      {1020, K::kImageButton, "Erase(F4)", 9, 120, 95, 31},
      {1021, K::kImageButton, "Write(F6)", 9, 151, 95, 31},
      {1023, K::kImageButton, "Verify(F8)", 9, 182, 95, 31},
      {1022, K::kImageButton, "Read(F7)", 9, 213, 95, 31},
      {1035, K::kImageButton, "Blank(F3)", 9, 243, 95, 31},
      {1024, K::kImageButton, "Test(F5)", 9, 274, 95, 31},
      {1026, K::kImageButton, "Bulk Mode(F2)", 9, 306, 95, 31},
      {1018, K::kStatusLabel, "state", 5, 345, 166, 12},
      {1031, K::kProgressBar, "", 5, 345, 166, 12, true},
      {0, K::kGroupBox, "data", 111, 2, 371, 340},
      {1006, K::kCheckBox, "edit mode", 120, 13, 55, 10},
      {0, K::kLabel, "file sum code:", 220, 13, 57, 8},
      {1033, K::kLabel, "0000000000", 279, 13, 41, 8},
      {0, K::kLabel, "chip sum code:", 357, 13, 57, 8},
      {1082, K::kLabel, "0000000000", 416, 13, 41, 8},
      {1057, K::kGrid, "", 114, 25, 355, 235},
      {1002, K::kVerticalScrollBar, "", 469, 25, 10, 235},
      {1101, K::kLogPane, "", 114, 262, 366, 77},
      {0, K::kLabel, "file:", 174, 348, 21, 8},
      {1003, K::kEditBox, "", 203, 346, 238, 12},
      {1004, K::kImageButton, "brower", 442, 344, 35, 14},
      {1027, K::kCellEditBox, "", 485, 346, 7, 12, true},
      {1066, K::kPushButton, "查看", 525, 345, 17, 12, true},
      {0, K::kGroupBox, "note", 483, 2, 107, 358},
      {1071, K::kPictureButton, "", 485, 14, 102, 91, false, true},
      {1073, K::kPictureButton, "", 485, 105, 102, 155, false, true},
      {1102, K::kPictureButton, "", 485, 260, 102, 98},
      {0, K::kEtchedLine, "", 0, 0, 591, 1},
  };
  return kLayout;
}

const LayoutItem* FindLayoutItem(int id) {
  for (const LayoutItem& item : MainWindowLayout())
    if (item.id == id && id != 0) return &item;
  return nullptr;
}

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
  // Edges are scaled, not sizes, so neighbours that touch in units touch in pixels.
  const int left = Px(x), top = Py(y);
  return {left, top, Px(x + width) - left, Py(y + height) - top};
}

QRect DialogUnits::Rect(const LayoutItem& item) const {
  return Rect(item.x, item.y, item.width, item.height);
}

}  // namespace tarvix::gui
