// SPDX-License-Identifier: GPL-3.0-or-later
// Base64 (RFC 4648 alphabet, "=" padding) for the mail login and encoded header words.
#pragma once

#include <string>
#include <string_view>

namespace tarvix {

[[nodiscard]] std::string Base64Encode(std::string_view bytes);

}  // namespace tarvix
