// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/hex_grid.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QUrl>
#include <QWheelEvent>

namespace tarvix::gui {
namespace {

const QColor kGridLine(208, 212, 220);
const QColor kFixedCell(236, 238, 242);
const QColor kFixedText(60, 70, 90);
const QColor kLockedCell(218, 218, 218);
const QColor kFocusFrame(30, 100, 210);

QColor TextColour(std::uint16_t state) {
  const Rgb rgb = CellTextColour(state);
  return {rgb.red, rgb.green, rgb.blue};
}

}  // namespace

HexGrid::HexGrid(const HexPage& page, QWidget* parent) : QWidget(parent), page_(page) {
  setFocusPolicy(Qt::StrongFocus);
  setAcceptDrops(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
  // Every cell uses one monospaced face, 14 pixels high, so digits line up.
  QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  font.setPixelSize(14);
  font.setStyleHint(QFont::Monospace);
  // 14 pixels high and about 7 wide, so 16 characters fill the ASCII column.
  font.setStretch(84);
  setFont(font);
}

QSize HexGrid::sizeHint() const {
  return {ColumnLeft(HexPage::kGridColumns) + 2, HexPage::kGridRows * HexPage::kRowHeight + 2};
}

int HexGrid::ColumnWidth(int column) const {
  if (column == 0) return HexPage::kAddressColumnWidth;
  if (column == HexPage::kAsciiColumn) return HexPage::kAsciiColumnWidth;
  return HexPage::kByteColumnWidth;
}

int HexGrid::ColumnLeft(int column) const {
  int x = 1;  // inside the frame
  for (int c = 0; c < column; ++c) x += ColumnWidth(c);
  return x;
}

QRect HexGrid::CellRect(int row, int column) const {
  return {ColumnLeft(column), 1 + row * HexPage::kRowHeight, ColumnWidth(column),
          HexPage::kRowHeight};
}

GridCell HexGrid::CellAt(const QPoint& point) const {
  if (point.y() < 1) return kNoCell;
  const int row = (point.y() - 1) / HexPage::kRowHeight;
  if (row >= HexPage::kGridRows) return kNoCell;
  for (int c = 0; c < HexPage::kGridColumns; ++c)
    if (point.x() >= ColumnLeft(c) && point.x() < ColumnLeft(c + 1)) return {row, c};
  return kNoCell;
}

void HexGrid::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::white);
  const GridCell focus = page_.FocusCell();
  // While an operation holds the image the cells are grey: they take no typing.
  const bool locked = page_.EditLocked();
  const QFontMetrics metrics(font());
  const int char_width = metrics.horizontalAdvance(QLatin1Char('0'));
  const int baseline = (HexPage::kRowHeight - metrics.height()) / 2 + metrics.ascent();
  for (int r = 0; r < HexPage::kGridRows; ++r) {
    for (int c = 0; c < HexPage::kGridColumns; ++c) {
      const QRect cell = CellRect(r, c);
      const bool fixed = r == 0 || c == 0;
      QColor text = fixed ? kFixedText : Qt::black;
      QColor back = fixed ? kFixedCell : locked ? kLockedCell : Qt::white;
      if (!fixed && c <= kHexColumns) {
        const std::uint16_t state = page_.CellState(r, c);
        if (state != kHexNoState) text = TextColour(state);
        if (state == kCellMatch)
          back = QColor(kMatchBackground.red, kMatchBackground.green, kMatchBackground.blue);
      } else if (!fixed) {
        text = QColor(70, 70, 70);  // the ASCII column
      }
      p.fillRect(cell, back);
      p.setPen(kGridLine);
      p.drawLine(cell.topRight(), cell.bottomRight());
      p.drawLine(cell.bottomLeft(), cell.bottomRight());
      p.setPen(text);
      // One monospaced face: every text's width is its length in character cells, so
      // the texts go down at computed points without a layout pass per cell.
      const std::string& cell_text = page_.CellText(r, c);
      const QString s =
          QString::fromLatin1(cell_text.data(), static_cast<qsizetype>(cell_text.size()));
      const int width = static_cast<int>(s.size()) * char_width;
      const int x =
          (c >= 1 && c <= kHexColumns) ? cell.left() + (cell.width() - width) / 2 : cell.left() + 2;
      p.drawText(QPoint(x, cell.top() + baseline), s);
    }
  }
  if (!focus.IsNone() && focus.row < HexPage::kGridRows && focus.column < HexPage::kGridColumns) {
    p.setPen(QPen(hasFocus() ? kFocusFrame : kFocusFrame.lighter(150), 2));
    p.setBrush(Qt::NoBrush);
    p.drawRect(CellRect(focus.row, focus.column).adjusted(1, 1, -1, -1));
  }
  // The frame.
  p.setPen(QColor(150, 156, 168));
  p.drawRect(rect().adjusted(0, 0, -1, -1));
}

void HexGrid::mousePressEvent(QMouseEvent* event) {
  setFocus(Qt::MouseFocusReason);
  const GridCell cell = CellAt(event->position().toPoint());
  if (cell.IsNone() || cell.row == 0 || cell.column == 0) return;
  const QRect r = CellRect(cell.row, cell.column);
  const bool right_half = event->position().x() - r.left() > r.width() / 2.0;
  emit cellClicked(cell, right_half);
}

void HexGrid::wheelEvent(QWheelEvent* event) {
  wheel_rest_ += event->angleDelta().y();
  while (wheel_rest_ >= 120) {
    wheel_rest_ -= 120;
    emit wheelStep(1);
  }
  while (wheel_rest_ <= -120) {
    wheel_rest_ += 120;
    emit wheelStep(-1);
  }
  event->accept();
}

void HexGrid::keyPressEvent(QKeyEvent* event) {
  GridCell cell = page_.FocusCell();
  if (cell.IsNone()) cell = {1, 1};
  switch (event->key()) {
    case Qt::Key_Left:
      cell.column = std::max(1, cell.column - 1);
      break;
    case Qt::Key_Right:
      cell.column = std::min(kHexColumns, cell.column + 1);
      break;
    case Qt::Key_Up:
      if (cell.row == 1) {
        emit wheelStep(1);
        return;
      }
      --cell.row;
      break;
    case Qt::Key_Down:
      if (cell.row == kHexRows) {
        emit wheelStep(-1);
        return;
      }
      ++cell.row;
      break;
    default:
      QWidget::keyPressEvent(event);
      return;
  }
  emit focusCellMoved(cell);
}

void HexGrid::focusInEvent(QFocusEvent* event) {
  QWidget::focusInEvent(event);
  emit focusEntered();
  update();
}

void HexGrid::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void HexGrid::dropEvent(QDropEvent* event) {
  QStringList paths;
  for (const QUrl& url : event->mimeData()->urls())
    if (url.isLocalFile()) paths << url.toLocalFile();
  if (!paths.isEmpty()) {
    event->acceptProposedAction();
    emit filesDropped(paths);
  }
}

}  // namespace tarvix::gui
