// SPDX-License-Identifier: GPL-3.0-or-later
// Text from outside (server replies, file contents, file names) reaches the terminal
// only as text: control characters and bytes that are no UTF-8 are shown escaped, so
// that nothing but the tool itself moves the cursor, clears the screen or sets the
// title.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>
#include <string_view>

namespace tarvix::cli {

// Length of the valid UTF-8 sequence `text` starts with (1 for ASCII); 0 when it
// starts with a byte that cannot begin one, an overlong form, a surrogate, or a
// sequence cut short.
[[nodiscard]] std::size_t Utf8SequenceLength(std::string_view text);

// `text` as a terminal shows it safely: line feeds and tabs stay, a CR LF becomes a
// line feed, other control characters (C0, DEL, C1) and stray bytes become "\x1b",
// "\u009b" and the like; valid UTF-8 stays as it is.
[[nodiscard]] std::string EscapeControls(std::string_view text);

// From here on, what the tool prints on stdout and stderr is escaped wherever either
// one is a terminal. Call once at start, before any other thread prints.
void GuardTerminal();

// Where the tool's own terminal sequences go (progress bar, refreshed lines, bell):
// stderr as it was before GuardTerminal. Whoever writes there escapes outside text
// itself.
[[nodiscard]] std::ostream& OwnSequences();

}  // namespace tarvix::cli
