// SPDX-License-Identifier: GPL-3.0-or-later
// The window's controls, made from the layout table.
#include "gui/main_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>

#include "gui/artwork.h"
#include "gui/caption_progress_bar.h"
#include "gui/hex_grid.h"
#include "gui/image_button.h"
#include "state/captions.h"
#include "state/control_ids.h"

namespace tarvix::gui {
namespace {

namespace c = control_id;

}  // namespace

QWidget* MainWindow::MakeControl(const LayoutItem& item, QWidget* parent) {
  const QString text = QString::fromUtf8(item.text);
  QWidget* w = nullptr;
  switch (item.kind) {
    case ControlKind::kGroupBox:
      w = new QGroupBox(text, parent);
      break;
    case ControlKind::kLabel:
      w = new QLabel(text, parent);
      break;
    case ControlKind::kCentredLabel: {
      auto* label = new QLabel(text, parent);
      label->setAlignment(Qt::AlignCenter);
      w = label;
      break;
    }
    case ControlKind::kStatusLabel: {
      auto* label = new QLabel(text, parent);
      label->setAlignment(Qt::AlignVCenter | Qt::AlignLeft);
      label->setAutoFillBackground(true);
      label->setIndent(3);
      w = label;
      break;
    }
    case ControlKind::kDropDownList: {
      auto* combo = new QComboBox(parent);
      combo->setEditable(false);
      w = combo;
      break;
    }
    case ControlKind::kImageButton: {
      auto* button = new ImageButton(item.id, text, parent);
      button->SetImage(artwork::ButtonIcon(item.id));
      button->setIconSize(item.height >= 20 ? QSize(32, 32) : QSize(14, 14));
      buttons_[item.id] = button;
      w = button;
      break;
    }
    case ControlKind::kPushButton: {
      auto* button = new QPushButton(text, parent);
      button->setAutoDefault(false);
      w = button;
      break;
    }
    case ControlKind::kProgressBar:
      w = new CaptionProgressBar(parent);
      break;
    case ControlKind::kCheckBox:
      w = new QCheckBox(text, parent);
      break;
    case ControlKind::kGrid:
      w = new HexGrid(program_.Hex(), parent);
      break;
    case ControlKind::kVerticalScrollBar:
      w = new QScrollBar(Qt::Vertical, parent);
      break;
    case ControlKind::kLogPane: {
      auto* pane = new QPlainTextEdit(parent);
      pane->setReadOnly(true);
      pane->setLineWrapMode(QPlainTextEdit::NoWrap);
      w = pane;
      break;
    }
    case ControlKind::kEditBox:
      w = new QLineEdit(text, parent);
      break;
    case ControlKind::kCellEditBox: {
      auto* box = new QLineEdit(parent);
      box->setMaxLength(2);
      box->setAlignment(Qt::AlignCenter);
      box->setFrame(false);
      w = box;
      break;
    }
    case ControlKind::kPictureButton: {
      auto* button = new QPushButton(parent);
      button->setFlat(true);
      button->setAutoDefault(false);
      button->setFocusPolicy(Qt::NoFocus);
      w = button;
      break;
    }
    case ControlKind::kEtchedLine: {
      auto* line = new QFrame(parent);
      line->setFrameShape(QFrame::HLine);
      line->setFrameShadow(QFrame::Sunken);
      w = line;
      break;
    }
  }
  QRect r = du_.Rect(item);
  if (item.kind == ControlKind::kDropDownList) {
    // The template gives the dropped list's height; the box itself is one line.
    r.setHeight(w->sizeHint().height());
    r.moveTop(r.top() - 2);
  }
  if (item.kind == ControlKind::kEtchedLine) r.setHeight(2);
  w->setGeometry(r);
  if (item.hidden) w->hide();
  if (item.disabled) w->setEnabled(false);
  if (item.id != 0) {
    controls_[item.id] = w;
    w->setObjectName(QString("control_%1").arg(item.id));
  }
  return w;
}

void MainWindow::BuildControls() {
  page_ = new QWidget(this);
  page_->setFixedSize(du_.DialogSize());
  setCentralWidget(page_);
  for (const LayoutItem& item : MainWindowLayout()) {
    QWidget* w = MakeControl(item, page_);
    // Group boxes sit behind the controls they frame.
    if (item.kind == ControlKind::kGroupBox) w->lower();
  }
  type_list_ = static_cast<QComboBox*>(controls_[kTypeList]);
  firm_list_ = static_cast<QComboBox*>(controls_[kFirmList]);
  chip_list_ = static_cast<QComboBox*>(controls_[kChipList]);
  capacity_ = static_cast<QLabel*>(controls_[kCapacityLabel]);
  status_ = static_cast<QLabel*>(controls_[kStatusLine]);
  progress_ = static_cast<CaptionProgressBar*>(controls_[kProgressBarId]);
  edit_mode_ = static_cast<QCheckBox*>(controls_[c::kEditModeBox]);
  file_sum_ = static_cast<QLabel*>(controls_[kFileSumLabel]);
  chip_sum_ = static_cast<QLabel*>(controls_[kChipSumLabel]);
  grid_ = static_cast<HexGrid*>(controls_[kGridId]);
  scroll_ = static_cast<QScrollBar*>(controls_[kScrollBarId]);
  log_ = static_cast<QPlainTextEdit*>(controls_[kLogPaneId]);
  path_box_ = static_cast<QLineEdit*>(controls_[kPathBox]);
  cell_edit_ = static_cast<QLineEdit*>(controls_[kCellEdit]);
  details_ = static_cast<QPushButton*>(controls_[kDetailsButton]);
  chip_picture_ = static_cast<QPushButton*>(controls_[kChipPictureControl]);
  second_picture_ = static_cast<QPushButton*>(controls_[kSecondPictureControl]);

  // Fixed pixel cells: the grid is as big as its cells and frame, with no strip under
  // its last row, and the scroll bar runs beside it to the same depth.
  grid_->resize(grid_->sizeHint());
  scroll_->resize(scroll_->width(), grid_->height());
  progress_->raise();
  cell_edit_->raise();
  cell_edit_->setStyleSheet("QLineEdit { background: #fff8d0; color: black; }");
  QFont cell_font = grid_->font();
  cell_edit_->setFont(cell_font);
  path_box_->setReadOnly(true);
  path_box_->setText(Text(program_.State().file_path_text));
  log_->setMaximumBlockCount(20000);
  QFont log_font = log_->font();
  log_font.setPixelSize(12);
  log_->setFont(log_font);
  scroll_->setRange(0, 0);
  scroll_->setPageStep(1);
  scroll_->setEnabled(false);
  // Ten digits of the widest hex digit: letters are wider than the "0"s shown at first.
  for (auto* label : {file_sum_, chip_sum_}) {
    int widest = 0;
    for (const QChar digit : QString("0123456789ABCDEF"))
      widest = std::max(widest, label->fontMetrics().horizontalAdvance(digit));
    label->resize(std::max(label->width(), widest * 10 + 2), label->height());
  }

  for (const ButtonTexts& b : OperationButtons()) {
    if (ImageButton* button = Button(b.id)) button->setToolTip(b.idle_tooltip);
  }
  edit_mode_->setToolTip("click to change file mode");

  for (QPushButton* picture :
       {chip_picture_, second_picture_, static_cast<QPushButton*>(controls_[kWebLink])}) {
    picture->setIconSize(picture->size() - QSize(4, 4));
    picture->setStyleSheet("QPushButton { border: none; }");
  }
  static_cast<QPushButton*>(controls_[kWebLink])
      ->setIcon(artwork::WebLinkPicture(controls_[kWebLink]->size() - QSize(4, 4)));
  static_cast<QPushButton*>(controls_[kWebLink])->setCursor(Qt::PointingHandCursor);
  SyncPictures();

  progress_->hide();
  bulk_timer_ = new QTimer(this);
  bulk_timer_->setInterval(kBulkTimerPeriodMs);
  connect(bulk_timer_, &QTimer::timeout, this, &MainWindow::BulkTick);
}

}  // namespace tarvix::gui
