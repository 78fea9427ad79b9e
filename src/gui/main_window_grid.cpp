// SPDX-License-Identifier: GPL-3.0-or-later
// The hex grid, its cell edit box and its scroll bar.
#include "gui/main_window.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QScrollBar>

#include "gui/hex_grid.h"
#include "state/control_ids.h"

namespace tarvix::gui {
namespace {

namespace c = control_id;

}  // namespace

void MainWindow::CellTextEdited(const QString& text) {
  if (mirroring_) return;
  // The box takes upper case only.
  const QString upper = text.toUpper();
  const int caret = cell_edit_->cursorPosition();
  if (upper != text) {
    mirroring_ = true;
    cell_edit_->setText(upper);
    cell_edit_->setCursorPosition(caret);
    mirroring_ = false;
  }
  program_.Hex().TextChanged(upper.toStdString(), caret);
}

void MainWindow::ScrollAction(int action) {
  using Code = HexPage::ScrollCode;
  Code code;
  switch (action) {
    case QAbstractSlider::SliderSingleStepAdd:
      code = Code::kLineDown;
      break;
    case QAbstractSlider::SliderSingleStepSub:
      code = Code::kLineUp;
      break;
    case QAbstractSlider::SliderPageStepAdd:
      code = Code::kPageDown;
      break;
    case QAbstractSlider::SliderPageStepSub:
      code = Code::kPageUp;
      break;
    case QAbstractSlider::SliderMove:
      code = Code::kThumbTrack;
      break;
    case QAbstractSlider::SliderToMinimum:
      code = Code::kTop;
      break;
    case QAbstractSlider::SliderToMaximum:
      code = Code::kBottom;
      break;
    default:
      return;
  }
  program_.Hex().Scroll(code, scroll_->sliderPosition());
  // The page decides where the thumb ends up.
  scroll_->setSliderPosition(program_.Hex().ScrollBarState().position);
}

void MainWindow::FocusChanged(QWidget* now) {
  using F = HexPage::Focus;
  F focus = F::kOther;
  if (now == grid_) focus = F::kGrid;
  if (now == scroll_) focus = F::kScrollBar;
  if (now == cell_edit_) focus = F::kEditBox;
  if (focus != program_.Hex().KeyboardFocus() && !mirroring_)
    program_.Hex().SetKeyboardFocus(focus);
}
void MainWindow::SyncHexPage(HexPage::Change change) {
  switch (change) {
    case HexPage::Change::kPage:
    case HexPage::Change::kFocusCell:
      grid_->update();
      break;
    case HexPage::Change::kEditBox:
      SyncEditBox();
      break;
    case HexPage::Change::kScrollBar:
      SyncScrollBar();
      break;
    case HexPage::Change::kKeyboardFocus: {
      mirroring_ = true;
      switch (program_.Hex().KeyboardFocus()) {
        case HexPage::Focus::kGrid:
          grid_->setFocus();
          break;
        case HexPage::Focus::kScrollBar:
          scroll_->setFocus();
          break;
        case HexPage::Focus::kEditBox:
          if (cell_edit_->isVisible()) cell_edit_->setFocus();
          break;
        case HexPage::Focus::kOther:
          break;
      }
      mirroring_ = false;
      break;
    }
    case HexPage::Change::kEditMode: {
      const bool on = program_.Hex().EditMode();
      edit_mode_->setChecked(on);
      if (QAction* a = MenuAction(c::kEditMode)) a->setChecked(on);
      break;
    }
  }
}

void MainWindow::SyncEditBox() {
  const HexPage::EditBox& box = program_.Hex().Box();
  mirroring_ = true;
  if (!box.visible || !box.cell.IsByteCell()) {
    const bool had_focus = cell_edit_->hasFocus();
    cell_edit_->hide();
    if (had_focus) grid_->setFocus();
  } else {
    const QRect cell = grid_->CellRect(box.cell.row, box.cell.column);
    const QPoint at = grid_->mapTo(page_, cell.topLeft());
    cell_edit_->setGeometry(at.x() + 3, at.y() + 3, cell.width() - 4, cell.height() - 3);
    if (cell_edit_->text() != Text(box.text)) cell_edit_->setText(Text(box.text));
    cell_edit_->setSelection(box.selection_start, box.selection_end - box.selection_start);
    if (box.selection_end == box.selection_start)
      cell_edit_->setCursorPosition(box.selection_start);
    cell_edit_->show();
    cell_edit_->raise();
    cell_edit_->setFocus();
  }
  mirroring_ = false;
  grid_->update();
}

void MainWindow::SyncScrollBar() {
  const HexPage::ScrollBar& bar = program_.Hex().ScrollBarState();
  const QSignalBlocker block(scroll_);
  scroll_->setRange(bar.minimum, bar.maximum);
  scroll_->setPageStep(bar.page);
  scroll_->setSingleStep(1);
  scroll_->setValue(bar.position);
  scroll_->setEnabled(bar.Enabled());
}

}  // namespace tarvix::gui
