// SPDX-License-Identifier: GPL-3.0-or-later
// "Files combine": joins a list of files end to end into a new file in a chosen
// folder. A view of the core's FilesCombine; the dialog stays open after OK.
#pragma once

#include <memory>

#include "gui/dialog_frame.h"
#include "gui/file_choosers.h"

class QLineEdit;
class QListWidget;
class QPushButton;

namespace tarvix {
class FilesCombine;
}

namespace tarvix::gui {

class QtHost;

class FilesCombineWindow : public DialogFrame {
  Q_OBJECT

 public:
  FilesCombineWindow(QWidget* parent, QtHost& host, const FileChoosers& choosers);
  ~FilesCombineWindow() override;

  [[nodiscard]] QLineEdit* SavePathBox() const { return save_path_; }
  [[nodiscard]] QLineEdit* FileNameBox() const { return file_name_; }
  [[nodiscard]] QListWidget* FileList() const { return list_; }
  [[nodiscard]] QPushButton* SavePathButton() const { return choose_folder_; }
  [[nodiscard]] QPushButton* AddFilesButton() const { return add_; }
  [[nodiscard]] QPushButton* DeleteButton() const { return del_; }
  [[nodiscard]] QPushButton* OkButton() const { return ok_; }

 private:
  void ChooseFolder();
  void Add();
  void Delete();
  void Ok();
  void SyncList();

  QtHost& host_;
  const FileChoosers& choosers_;
  std::unique_ptr<FilesCombine> model_;
  QLineEdit* save_path_ = nullptr;
  QLineEdit* file_name_ = nullptr;
  QListWidget* list_ = nullptr;
  QPushButton* choose_folder_ = nullptr;
  QPushButton* add_ = nullptr;
  QPushButton* del_ = nullptr;
  QPushButton* ok_ = nullptr;
};

}  // namespace tarvix::gui
