// SPDX-License-Identifier: GPL-3.0-or-later
// The hex view's grid (control 1057): 21 rows of 18 cells with the header row and
// the address column fixed, painted straight from HexPage's texts and colour states.
// Clicks, keyboard moves, the wheel and dropped files go back to the window; the
// grid itself edits nothing.
#pragma once

#include <QWidget>
#include <vector>

#include "buffer/hex_page.h"

namespace tarvix::gui {

class HexGrid : public QWidget {
  Q_OBJECT

 public:
  HexGrid(const HexPage& page, QWidget* parent = nullptr);

  // The screen rectangle of a grid cell, in the grid's coordinates.
  [[nodiscard]] QRect CellRect(int row, int column) const;
  // The cell under a point; kNoCell outside the cells.
  [[nodiscard]] GridCell CellAt(const QPoint& point) const;
  // Repaints the cells that the page says changed (or everything).
  void Redraw() { update(); }
  [[nodiscard]] QSize sizeHint() const override;

 signals:
  // A click on a cell: the cell, and whether it landed in its right half.
  void cellClicked(tarvix::GridCell cell, bool right_half);
  // The focus cell moved by keyboard.
  void focusCellMoved(tarvix::GridCell cell);
  void wheelStep(int delta);
  void filesDropped(const QStringList& paths);
  void focusEntered();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  [[nodiscard]] int ColumnLeft(int column) const;
  [[nodiscard]] int ColumnWidth(int column) const;

  const HexPage& page_;
  int wheel_rest_ = 0;
};

}  // namespace tarvix::gui
