// SPDX-License-Identifier: GPL-3.0-or-later
// A message box a network service asks its front end to show.
#pragma once

#include <string>

#include "device/host.h"

namespace tarvix {

struct NetMessage {
  std::string text;
  std::string title;
  BoxIcon icon = BoxIcon::kNone;
};

}  // namespace tarvix
