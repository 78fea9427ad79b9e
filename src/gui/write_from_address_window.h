// SPDX-License-Identifier: GPL-3.0-or-later
// "Write from specify file addr": loads a file's tail from a start offset as the
// image. A view of the core's WriteFromAddress. Opened from its menu item with offset
// 0, or for a ".cap" file with the offset locked at its header's size.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>

#include "gui/dialog_frame.h"
#include "gui/file_choosers.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace tarvix {
class Program;
class WriteFromAddress;
}  // namespace tarvix

namespace tarvix::gui {

class QtHost;

class WriteFromAddressWindow : public DialogFrame {
  Q_OBJECT

 public:
  WriteFromAddressWindow(QWidget* parent, Program& program, QtHost& host,
                         const FileChoosers& choosers, const std::filesystem::path& file = {},
                         std::uint32_t offset = 0);
  ~WriteFromAddressWindow() override;

  [[nodiscard]] QLineEdit* AddressBox() const { return address_; }
  [[nodiscard]] QLineEdit* FileBox() const { return file_; }
  [[nodiscard]] QPushButton* BrowseButton() const { return browse_; }
  [[nodiscard]] QLabel* StateText() const { return state_; }
  [[nodiscard]] QPushButton* OkButton() const { return ok_; }
  // True once OK has loaded an image.
  [[nodiscard]] bool Loaded() const { return loaded_; }

 private:
  void Browse();
  void Ok();
  void SyncBoxes();

  const FileChoosers& choosers_;
  std::unique_ptr<WriteFromAddress> model_;
  QLineEdit* address_ = nullptr;
  QLineEdit* file_ = nullptr;
  QPushButton* browse_ = nullptr;
  QLabel* state_ = nullptr;
  QPushButton* ok_ = nullptr;
  bool loaded_ = false;
};

}  // namespace tarvix::gui
