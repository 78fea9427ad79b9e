#include "gui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <cstdio>
#include <cstdlib>

#include "app/settings.h"
#include "gui/about_box.h"
#include "gui/artwork.h"
#include "gui/caption_progress_bar.h"
#include "gui/dialogs.h"
#include "gui/hex_grid.h"
#include "gui/image_button.h"
#include "gui/qt_host.h"
#include "state/captions.h"
#include "state/control_ids.h"

namespace tarvix::gui {
namespace {

namespace c = control_id;

constexpr int kTypeList = 1014;
constexpr int kFirmList = 1015;
constexpr int kChipList = 1016;
constexpr int kCapacityLabel = 1017;
constexpr int kStatusLine = 1018;
constexpr int kProgressBarId = 1031;
constexpr int kFileSumLabel = 1033;
constexpr int kChipSumLabel = 1082;
constexpr int kGridId = 1057;
constexpr int kScrollBarId = 1002;
constexpr int kLogPaneId = 1101;
constexpr int kPathBox = 1003;
constexpr int kCellEdit = 1027;
constexpr int kDetailsButton = 1066;
constexpr int kWebLink = 1102;

// The web site the picture button opens.
constexpr char kWebSite[] = "https://www.vrnt-tarvix.example/";

const char* const kMenuOrder[] = {"File",         "Operate",  "Addr Operate", "Tools",
                                  "Firm Operate", "Settings", "Help"};

bool IsSettingCommand(int id, SettingItem* item) {
  for (int i = 0; i < static_cast<int>(kSettingCount); ++i) {
    const auto candidate = static_cast<SettingItem>(i);
    if (SettingCommandId(candidate) == id) {
      *item = candidate;
      return true;
    }
  }
  return false;
}

Key KeyOf(int qt_key) {
  switch (qt_key) {
    case Qt::Key_Escape:
      return Key::kEscape;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return Key::kEnter;
    case Qt::Key_F2:
      return Key::kF2;
    case Qt::Key_F3:
      return Key::kF3;
    case Qt::Key_F4:
      return Key::kF4;
    case Qt::Key_F5:
      return Key::kF5;
    case Qt::Key_F6:
      return Key::kF6;
    case Qt::Key_F7:
      return Key::kF7;
    case Qt::Key_F8:
      return Key::kF8;
    case Qt::Key_F9:
      return Key::kF9;
    case Qt::Key_O:
      return Key::kO;
    default:
      return Key::kOther;
  }
}

bool OpenWithShell(const std::filesystem::path& path) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return false;
  return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path.string())));
}

}  // namespace

MainWindow::MainWindow(Program& program, QtHost& host, QWidget* parent)
    : QMainWindow(parent), program_(program), host_(host) {
  setWindowTitle(kWindowTitle);
  setWindowIcon(artwork::WindowIcon());
  host_.SetBoxParent(this);
  BuildControls();
  BuildMenus();
  InstallHandlers();
  dialogs_ = new Dialogs(*this, program_, host_);
  ConnectModels();
  // The window is a fixed dialog.
  setFixedSize(sizeHint());
  qApp->installEventFilter(this);
}

MainWindow::~MainWindow() {
  qApp->removeEventFilter(this);
  // Focus moves while the children go (a dialog left open, the cell box); by then
  // this is no longer a MainWindow to tell.
  disconnect(qApp, nullptr, this, nullptr);
}

// ---- building ----------------------------------------------------------------

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

  // Fixed pixel cells: the grid takes its cells' size inside its layout rectangle.
  grid_->resize(grid_->sizeHint().width(), grid_->height());
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
  for (auto* label : {file_sum_, chip_sum_}) label->setMinimumWidth(label->sizeHint().width());

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

void MainWindow::BuildMenus() {
  for (const char* title : kMenuOrder) {
    QMenu* menu = menuBar()->addMenu(title);
    menu->setObjectName(QString("menu_%1").arg(title));
    menus_[title] = menu;
  }
  QMenu* bulk_process = nullptr;
  for (const MenuEntry& e : MainMenu()) {
    QMenu* menu = menus_[Text(e.menu)];
    if (!e.submenu.empty()) {
      if (bulk_process == nullptr) bulk_process = menu->addMenu(Text(e.submenu));
      menu = bulk_process;
    }
    if (e.state == MenuState::kSeparator) {
      menu->addSeparator();
      continue;
    }
    QAction* action = menu->addAction(artwork::MenuIcon(e.id), Text(e.text));
    const int id = e.id;
    action->setObjectName(QString("action_%1").arg(id));
    action->setCheckable(e.state == MenuState::kChecked || id == c::kEditMode);
    action->setChecked(e.state == MenuState::kChecked);
    action->setEnabled(e.state != MenuState::kGrayed);
    // The model decides the check mark; the action must not flip it on its own.
    connect(action, &QAction::triggered, this, [this, id] { DispatchCommand(id); });
    actions_[id] = action;
  }
}

void MainWindow::AddMenu(QMenu* menu) {
  menuBar()->addMenu(menu);
  menus_[menu->title()] = menu;
}

// ---- command dispatch -----------------------------------------------------------

void MainWindow::SetCommandHandler(int id, std::function<void()> handler) {
  handlers_[id] = std::move(handler);
}

void MainWindow::DispatchCommand(int id) {
  if (closing_) return;
  if (program_.Buttons().Press(id)) return;
  SettingItem item;
  if (IsSettingCommand(id, &item)) {
    (void)program_.SettingsMenu().Toggle(item);
    SyncSettings();
    return;
  }
  const auto it = handlers_.find(id);
  if (it != handlers_.end() && it->second) it->second();
  // Commands of dialogs not built into this window have no handler yet.
  if (QAction* action = MenuAction(id); action != nullptr && action->isCheckable()) {
    if (id == c::kEditMode) action->setChecked(program_.Hex().EditMode());
  }
}

void MainWindow::InstallHandlers() {
  handlers_[c::kBrowse] = [this] { Open(); };
  handlers_[c::kSave] = [this] { (void)program_.Files().Save(); };
  handlers_[c::kSaveAs] = [this] { (void)program_.Files().SaveAs(); };
  handlers_[c::kEditMode] = [this] { program_.Hex().ToggleModeFromMenu(); };
  handlers_[c::kFirmwareVersion] = [this] {
    program_.TheWorker().Give(worker_command::kFirmwareVersion);
  };
  handlers_[menu_id::kExist] = [this] {
    program_.Exist();
    // The process ends as it is: no questions, no clean-up. A worker that is idle
    // can still be let go in order; one that runs is left to the process's end.
    if (!program_.TheWorker().Idle()) {
      std::fflush(nullptr);
      std::_Exit(0);
    }
    closed_ = true;
    host_.SetClosing(true);
    qApp->quit();
  };
  handlers_[menu_id::kAboutUs] = [this] {
    AboutBox box(this);
    box.exec();
  };
  handlers_[menu_id::kOperateLog] = [this] { program_.OperationLog().Show(host_, OpenWithShell); };
  handlers_[kWebLink] = [] { QDesktopServices::openUrl(QUrl(kWebSite)); };
  handlers_[kDetailsButton] = [this] { ShowChipDetails(); };
  handlers_[c::kEditModeBox] = [this] { program_.Hex().ToggleModeFromCheckBox(); };

  for (auto& [id, button] : buttons_) {
    const int command = id;
    connect(button, &QPushButton::clicked, this, [this, command] {
      ButtonSound();
      DispatchCommand(command);
    });
    if (command != c::kBrowse)
      connect(button, &ImageButton::pointerEntered, this, &MainWindow::ButtonSound);
  }
  connect(static_cast<QPushButton*>(controls_[kWebLink]), &QPushButton::clicked, this,
          [this] { DispatchCommand(kWebLink); });
  connect(details_, &QPushButton::clicked, this, [this] { DispatchCommand(kDetailsButton); });
  connect(edit_mode_, &QCheckBox::clicked, this, [this] {
    ButtonSound();
    DispatchCommand(c::kEditModeBox);
    // The mode decides the mark, whatever the click did to it.
    edit_mode_->setChecked(program_.Hex().EditMode());
  });
  connect(type_list_, qOverload<int>(&QComboBox::activated), this,
          [this](int entry) { ChooseFromList(kTypeList, entry); });
  connect(firm_list_, qOverload<int>(&QComboBox::activated), this,
          [this](int entry) { ChooseFromList(kFirmList, entry); });
  connect(chip_list_, qOverload<int>(&QComboBox::activated), this,
          [this](int entry) { ChooseFromList(kChipList, entry); });

  connect(grid_, &HexGrid::cellClicked, this, [this](GridCell cell, bool right_half) {
    program_.Hex().SetFocusCell(cell);
    program_.Hex().Click(cell, right_half);
    grid_->update();
  });
  connect(grid_, &HexGrid::focusCellMoved, this, [this](GridCell cell) {
    program_.Hex().SetFocusCell(cell);
    grid_->update();
  });
  connect(grid_, &HexGrid::wheelStep, this, [this](int delta) { program_.Hex().Wheel(delta); });
  connect(grid_, &HexGrid::filesDropped, this, &MainWindow::DropFiles);
  connect(cell_edit_, &QLineEdit::textEdited, this, &MainWindow::CellTextEdited);
  connect(scroll_, &QScrollBar::actionTriggered, this, &MainWindow::ScrollAction);
  connect(qApp, &QApplication::focusChanged, this,
          [this](QWidget*, QWidget* now) { FocusChanged(now); });
}

void MainWindow::ButtonSound() {
  program_.SettingsMenu().PlaySound(host_, program_.PrivatePaths().button_sound);
}

void MainWindow::Open() {
  const QString path = QFileDialog::getOpenFileName(
      this, "Open", QString(), "*.bin;*.rom(*.bin *.rom);;*.cap(*.cap);;(*.*)(*)");
  if (path.isEmpty()) return;
  (void)program_.Files().Load(path.toStdString(), true);
}

void MainWindow::DropFiles(const QStringList& paths) {
  std::vector<std::filesystem::path> files;
  for (const QString& p : paths) files.emplace_back(p.toStdString());
  (void)program_.Files().Drop(files, program_.ReportingHost().Commands().IsEnabled(c::kBrowse));
}

void MainWindow::RouteDeviceChanges(UsbBackend& backend) {
  QPointer<MainWindow> self(this);
  backend.SetDeviceChangeHandler([self] {
    QMetaObject::invokeMethod(
        qApp,
        [self] {
          if (self && !self->closing_) self->program_.DeviceChangeNotice();
        },
        Qt::QueuedConnection);
  });
}

void MainWindow::ShowChipDetails() {
  host_.MessageBox(program_.Selection().DetailsText(), kDetailsCaption, BoxIcon::kInformation,
                   BoxButtons::kOk);
}

void MainWindow::ChooseFromList(int list_id, int entry) {
  // The worker reads the current chip while it runs (and recognition changes it), so
  // the lists change hands only while it is idle.
  if (!program_.TheWorker().Idle() || entry < 0) {
    SyncLists();
    return;
  }
  ChipSelection& selection = program_.Selection();
  const auto index = static_cast<std::size_t>(entry);
  if (list_id == kTypeList) selection.ChooseType(index);
  if (list_id == kFirmList) selection.ChooseManufacturer(index);
  if (list_id == kChipList) selection.ChooseModel(index);
}

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

// ---- keys ---------------------------------------------------------------------

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride)
    return QMainWindow::eventFilter(watched, event);
  auto* widget = qobject_cast<QWidget*>(watched);
  // Only keys meant for this window: its boxes and dialogs have their own.
  if (widget == nullptr || widget->window() != this)
    return QMainWindow::eventFilter(watched, event);
  auto* key_event = static_cast<QKeyEvent*>(event);
  const Key key = KeyOf(key_event->key());
  const bool ctrl = key_event->modifiers().testFlag(Qt::ControlModifier);
  const KeyOutcome outcome =
      TranslateKey(key, ctrl, program_.ReportingHost().Commands(), QApplication::focusWidget());
  if (!outcome.swallowed) return QMainWindow::eventFilter(watched, event);
  if (event->type() == QEvent::ShortcutOverride) {
    // Claim the key so no shortcut takes it; the key press follows.
    event->accept();
    return true;
  }
  if (key_event->isAutoRepeat() && outcome.send != 0) return true;
  if (outcome.commit_cell) (void)program_.Hex().Commit();
  if (outcome.send != 0) {
    if (buttons_.count(outcome.send) != 0 && outcome.send != c::kBrowse) ButtonSound();
    DispatchCommand(outcome.send);
  }
  return true;
}

// ---- close ----------------------------------------------------------------------

void MainWindow::closeEvent(QCloseEvent* event) {
  if (closed_) {
    event->accept();
    return;
  }
  if (closing_ || !program_.BeginClose()) {
    event->ignore();
    return;
  }
  closing_ = true;
  // A question the worker asks from now on is refused at once; nothing here waits
  // for the worker while the worker could be waiting for this thread.
  host_.SetClosing(true);
  page_->setEnabled(false);
  menuBar()->setEnabled(false);
  QElapsedTimer waited;
  waited.start();
  QEventLoop loop;
  QTimer poll;
  connect(&poll, &QTimer::timeout, &loop, [&] {
    if (program_.WorkerEnded() || waited.elapsed() >= kCloseWaitMs) loop.quit();
  });
  poll.start(5);
  if (!program_.WorkerEnded()) loop.exec();
  if (!program_.WorkerEnded()) {
    // A transfer that never returns: end the process rather than close the link
    // under it. The chip's image and the user's files are on disk already.
    std::fprintf(stderr, "tarvix: the worker did not stop within %d ms; ending now\n",
                 kCloseWaitMs);
    std::fflush(nullptr);
    std::_Exit(0);
  }
  program_.FinishClose();
  closed_ = true;
  event->accept();
}

// ---- mirrors ----------------------------------------------------------------------

void MainWindow::OnWindowThread(std::function<void()> fn) {
  if (QThread::currentThread() == thread()) {
    fn();
    return;
  }
  QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

void MainWindow::ConnectModels() {
  connect(&host_, &QtHost::statusChanged, this, &MainWindow::SyncStatus);
  connect(&host_, &QtHost::logLineAdded, this, &MainWindow::AppendLogLine);
  connect(&host_, &QtHost::logCleared, log_, &QPlainTextEdit::clear);
  connect(&host_, &QtHost::progressChanged, this, &MainWindow::ShowProgressState);
  connect(&host_, &QtHost::picturesChanged, this, &MainWindow::SyncPictures);
  connect(&host_, &QtHost::beepRequested, this, [] { QApplication::beep(); });
  connect(&host_, &QtHost::commandChanged, this, [this](int kind, int id) {
    if (kind == static_cast<int>(CommandState::ChangeKind::kCaption))
      SyncCaption(id);
    else
      SyncCommand(id);
  });

  program_.Selection().AddListener([this](ChipSelection::Change change) {
    OnWindowThread([this, change] {
      switch (change) {
        case ChipSelection::Change::kTypeList:
        case ChipSelection::Change::kManufacturerList:
        case ChipSelection::Change::kModelList:
          SyncLists();
          break;
        case ChipSelection::Change::kCurrentChip:
          SyncLists();
          SyncCurrentChip();
          break;
        case ChipSelection::Change::kPicture:
          SyncPictures();
          break;
      }
    });
  });
  program_.Image().AddListener(
      [this](ImageBuffer::Change) { OnWindowThread([this] { SyncImage(); }); });
  program_.Hex().AddListener(
      [this](HexPage::Change change) { OnWindowThread([this, change] { SyncHexPage(change); }); });
  program_.SettingsMenu().AddListener(
      [this](SettingItem) { OnWindowThread([this] { SyncSettings(); }); });
  program_.Bulk().SetTimerListener([this](bool running) {
    OnWindowThread([this, running] {
      if (running) {
        bulk_timer_->start();
      } else {
        bulk_timer_->stop();
        if (ImageButton* b = Button(c::kBulkMode)) b->SetImage(artwork::ButtonIcon(c::kBulkMode));
      }
    });
  });
  SyncStatus();
  SyncLists();
  SyncCurrentChip();
  SyncImage();
  SyncScrollBar();
  SyncSettings();
  for (const MenuEntry& e : MainMenu())
    if (e.id != 0) SyncCommand(e.id);
  for (auto& [id, button] : buttons_) SyncCommand(id);
}

void MainWindow::SyncCommand(int id) {
  const CommandState& commands = program_.ReportingHost().Commands();
  if (QWidget* w = Control(id)) w->setEnabled(commands.IsEnabled(id));
  if (QAction* a = MenuAction(id)) a->setEnabled(!commands.IsMenuGrayed(id));
}

void MainWindow::SyncCaption(int id) {
  const CommandState& commands = program_.ReportingHost().Commands();
  ImageButton* button = Button(id);
  if (button == nullptr) return;
  button->setText(Text(commands.Caption(id)));
  button->setToolTip(Text(commands.Tooltip(id)));
  if (id != c::kBulkMode)
    button->SetImage(commands.IsBusy(id) ? artwork::BusyIcon() : artwork::ButtonIcon(id));
}

void MainWindow::SyncStatus() {
  const tarvix::StatusLine status = program_.ReportingHost().Status();
  status_->setText(Text(status.text));
  // The line is short; the whole text shows on hover and in the log pane.
  status_->setToolTip(Text(status.text));
  QPalette palette = status_->palette();
  if (status.red) {
    palette.setColor(QPalette::Window, QColor(255, 0, 0));
    palette.setColor(QPalette::WindowText, Qt::white);
  } else {
    palette.setColor(QPalette::Window, QApplication::palette().color(QPalette::Light));
    palette.setColor(QPalette::WindowText, Qt::black);
  }
  status_->setPalette(palette);
}

void MainWindow::AppendLogLine(const QString& line, bool replaced) {
  if (replaced && log_->document()->blockCount() > 0 && !log_->document()->isEmpty()) {
    QTextCursor cursor(log_->document()->lastBlock());
    cursor.select(QTextCursor::BlockUnderCursor);
    cursor.movePosition(QTextCursor::StartOfBlock);
    cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    cursor.insertText(line);
  } else {
    log_->appendPlainText(line);
  }
  log_->verticalScrollBar()->setValue(log_->verticalScrollBar()->maximum());
}

void MainWindow::ShowProgressState(bool visible, int position, const QString& caption, int align) {
  progress_->SetPosition(position);
  progress_->SetCaption(caption, static_cast<CaptionAlign>(align));
  if (visible != progress_->isVisible()) {
    progress_->setVisible(visible);
    if (visible) progress_->raise();
  }
}

void MainWindow::SyncLists() {
  const ChipSelection& s = program_.Selection();
  mirroring_ = true;
  const auto fill = [](QComboBox* box, const std::vector<std::string>& entries, int selected) {
    bool same = box->count() == static_cast<int>(entries.size());
    for (int i = 0; same && i < box->count(); ++i)
      same = box->itemText(i) == Text(entries[static_cast<std::size_t>(i)]);
    if (!same) {
      const QSignalBlocker block(box);
      box->clear();
      for (const std::string& e : entries) box->addItem(Text(e));
    }
    const QSignalBlocker block(box);
    box->setCurrentIndex(selected);
  };
  fill(type_list_, s.Types(), s.TypeIndex());
  fill(firm_list_, s.Manufacturers(), s.ManufacturerIndex());
  fill(chip_list_, s.Models(), s.ModelIndex());
  mirroring_ = false;
}

void MainWindow::SyncCurrentChip() {
  capacity_->setText(Text(program_.Selection().CapacityLabel()));
  SyncPictures();
  SyncImage();
}

void MainWindow::SyncPictures() {
  // The two picture buttons are disabled; their pictures still show in full colour.
  const auto picture = [](const QPixmap& pixmap) {
    QIcon icon(pixmap);
    icon.addPixmap(pixmap, QIcon::Disabled);
    return icon;
  };
  chip_picture_->setIcon(picture(
      artwork::ChipPicture(program_.Selection().Picture(), chip_picture_->size() - QSize(4, 4))));
  second_picture_->setIcon(
      picture(artwork::ProgrammerPicture(program_.ReportingHost().Picture(kSecondPictureControl),
                                         second_picture_->size() - QSize(4, 4))));
}

void MainWindow::SyncImage() {
  const ImageBuffer& image = program_.Image();
  setWindowTitle(Text(image.WindowTitle()));
  path_box_->setText(Text(image.PathBoxText()));
  file_sum_->setText(Text(image.FileSumText()));
  chip_sum_->setText(Text(image.ChipSumText()));
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

void MainWindow::SyncSettings() {
  for (int i = 0; i < static_cast<int>(kSettingCount); ++i) {
    const auto item = static_cast<SettingItem>(i);
    if (QAction* a = MenuAction(SettingCommandId(item)))
      a->setChecked(program_.SettingsMenu().IsOn(item));
  }
}

void MainWindow::BulkTick() {
  program_.Bulk().TimerTick(kBulkTimerId);
  if (ImageButton* b = Button(c::kBulkMode)) {
    if (program_.Bulk().TimerRunning())
      b->SetImage(artwork::BulkFrame(program_.Bulk().AnimationFrame()));
  }
}

// ---- lookups ------------------------------------------------------------------------

QMenu* MainWindow::Menu(const QString& title) const {
  const auto it = menus_.find(title);
  return it == menus_.end() ? nullptr : it->second;
}

QAction* MainWindow::MenuAction(int id) const {
  const auto it = actions_.find(id);
  return it == actions_.end() ? nullptr : it->second;
}

QWidget* MainWindow::Control(int id) const {
  const auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : it->second;
}

ImageButton* MainWindow::Button(int id) const {
  const auto it = buttons_.find(id);
  return it == buttons_.end() ? nullptr : it->second;
}

}  // namespace tarvix::gui
