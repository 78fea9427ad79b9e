// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/files_combine_window.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "buffer/files_combine.h"
#include "gui/qt_host.h"

namespace tarvix::gui {
FilesCombineWindow::FilesCombineWindow(QWidget* parent, QtHost& host, const FileChoosers& choosers)
    : DialogFrame(parent, Text(kCombineTitle), 270, 150),
      host_(host),
      choosers_(choosers),
      // A folder every user may write to stands in for the first save path.
      model_(std::make_unique<FilesCombine>(QDir::homePath().toStdString())) {
  save_path_ = AddBox(8, 8, 200, 0, 1107);
  SetBoxReadOnly(save_path_, true);
  choose_folder_ = AddButton("Save path", 212, 8, 50, 13, 1105);
  AddLabel("file name:", 8, 28, 40);
  file_name_ = AddBox(50, 26, 158, 0, 1098);
  list_ = Place(new QListWidget(this), 8, 44, 200, 80, 1104);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  add_ = AddButton("Add", 212, 44, 50, 14, 1103);
  del_ = AddButton("Del", 212, 62, 50, 14, 1106);
  ok_ = AddButton("OK", 158, 130);
  auto* cancel = AddButton("Cancel", 212, 130);
  connect(choose_folder_, &QPushButton::clicked, this, &FilesCombineWindow::ChooseFolder);
  connect(add_, &QPushButton::clicked, this, &FilesCombineWindow::Add);
  connect(del_, &QPushButton::clicked, this, &FilesCombineWindow::Delete);
  connect(ok_, &QPushButton::clicked, this, &FilesCombineWindow::Ok);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  save_path_->setText(QString::fromStdString(model_->SavePath()));
  file_name_->setText(QString::fromStdString(model_->FileName()));
}

FilesCombineWindow::~FilesCombineWindow() = default;

void FilesCombineWindow::ChooseFolder() {
  const QString folder = choosers_.folder(this, DesktopFolder());
  if (folder.isEmpty()) return;
  model_->SetSavePath(folder.toStdString());
  save_path_->setText(folder);
}

void FilesCombineWindow::Add() {
  const QStringList chosen = choosers_.open_files(this, CombineFileFilter());
  std::vector<std::filesystem::path> files;
  for (const QString& path : chosen) files.emplace_back(path.toStdString());
  model_->Add(files);
  SyncList();
}

void FilesCombineWindow::Delete() {
  std::vector<std::size_t> rows;
  for (const QModelIndex& index : list_->selectionModel()->selectedRows())
    rows.push_back(static_cast<std::size_t>(index.row()));
  model_->Delete(rows);
  SyncList();
}

void FilesCombineWindow::Ok() {
  model_->SetFileName(file_name_->text().toStdString());
  (void)model_->Combine(host_);
}

void FilesCombineWindow::SyncList() {
  list_->clear();
  for (const std::filesystem::path& input : model_->Inputs())
    list_->addItem(QString::fromStdString(input.string()));
}

}  // namespace tarvix::gui
