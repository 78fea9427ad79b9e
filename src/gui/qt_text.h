// SPDX-License-Identifier: GPL-3.0-or-later
// The program's texts (UTF-8) as Qt strings.
#pragma once

#include <QString>
#include <string_view>

namespace tarvix::gui {

[[nodiscard]] inline QString Text(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace tarvix::gui
