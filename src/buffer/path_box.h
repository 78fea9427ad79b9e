// SPDX-License-Identifier: GPL-3.0-or-later
// The path box (control 1003) shows the current file's path shortened to about 53
// characters: its leading folders give way to "/.../" so the file name and its last
// folders stay readable.
#pragma once

#include <string>
#include <string_view>

namespace tarvix {

// Paths up to this many characters (not bytes) are shown whole.
inline constexpr std::size_t kPathBoxLength = 53;

// Keeps the root "/" (the place a drive letter would take), then drops one leading
// folder name with its "/" at a time while the text is longer than 53 characters, and
// marks the cut with "/.../". A relative path keeps nothing in front and is marked
// ".../". When no "/" is left to cut at, the rest stays as it is.
[[nodiscard]] std::string ShortenPathForBox(std::string_view path);

}  // namespace tarvix
