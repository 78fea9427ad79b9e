// SPDX-License-Identifier: GPL-3.0-or-later
// Help > "&About Us": the product caption, two lines about the product, the logo and
// two links (the web site and a contact mail).
#pragma once

#include <QDialog>

namespace tarvix::gui {

inline constexpr char kAboutWebSite[] = "https://www.vrnt-tarvix.example/";
inline constexpr char kAboutMail[] = "mailto:support@vrnt-tarvix.example";

class AboutBox : public QDialog {
  Q_OBJECT

 public:
  explicit AboutBox(QWidget* parent = nullptr);
};

}  // namespace tarvix::gui
