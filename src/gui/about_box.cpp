// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/about_box.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>

#include "gui/artwork.h"

namespace tarvix::gui {

AboutBox::AboutBox(QWidget* parent) : QDialog(parent) {
  setWindowTitle("About VRNT_Tarvix");
  auto* layout = new QGridLayout(this);
  auto* logo = new QLabel(this);
  logo->setPixmap(artwork::Logo(64));
  layout->addWidget(logo, 0, 0, 4, 1, Qt::AlignTop);
  auto* caption = new QLabel("<b>VRNT_Tarvix Ultra Speed Writer V4.0</b>", this);
  layout->addWidget(caption, 0, 1);
  layout->addWidget(
      new QLabel("USB programmer for 24, 25 and 93 series serial memory chips.", this), 1, 1);
  layout->addWidget(new QLabel("Erase, write, read, verify and bulk production runs.", this), 2, 1);
  auto* links = new QLabel(QString("<a href=\"%1\">web site</a> &nbsp;&nbsp; "
                                   "<a href=\"%2\">contact us</a>")
                               .arg(kAboutWebSite, kAboutMail),
                           this);
  links->setOpenExternalLinks(true);
  links->setObjectName("links");
  layout->addWidget(links, 3, 1);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  layout->addWidget(buttons, 4, 0, 1, 2);
  setFixedSize(sizeHint());
}

}  // namespace tarvix::gui
