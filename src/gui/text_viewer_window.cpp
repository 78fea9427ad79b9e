// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/text_viewer_window.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QScrollBar>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace tarvix::gui {

TextViewerWindow::TextViewerWindow(QWidget* parent, const QString& title) : QDialog(parent) {
  setWindowTitle(title);
  setAttribute(Qt::WA_DeleteOnClose);
  browser_ = new QTextBrowser(this);
  browser_->setOpenExternalLinks(true);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(browser_);
  layout->addWidget(buttons);
  resize(760, 560);
}

void TextViewerWindow::ShowHtmlFile(const QString& path) {
  browser_->setSource(QUrl::fromLocalFile(path), QTextDocument::HtmlResource);
}

void TextViewerWindow::ShowPlainText(const QString& text) {
  browser_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  browser_->setLineWrapMode(QTextEdit::NoWrap);
  browser_->setPlainText(text);
  browser_->verticalScrollBar()->setValue(browser_->verticalScrollBar()->maximum());
}

}  // namespace tarvix::gui
