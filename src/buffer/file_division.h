// SPDX-License-Identifier: GPL-3.0-or-later
// File Division (Tools menu): cuts one file on disk into consecutive pieces at the
// byte offsets the user lists, writing the pieces beside it. Independent of the
// loaded image and of the chip.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tarvix {

class Host;

inline constexpr std::string_view kDivisionTitle = "File Division";
inline constexpr std::string_view kDivisionNodesLabel = "Div nodes:";
inline constexpr std::string_view kDivisionHelpText =
    "eg.\xEF\xBC\x9A"
    "1024,2048\r\nthis will divid the select file into three files  from the address 1024 "
    "and 2048.";

inline constexpr std::string_view kDivisionNoNodes = "please input division nodes   ";
inline constexpr std::string_view kDivisionBadNodes = "input division nodes error  ";
inline constexpr std::string_view kDivisionSourceFailed = "file divide failed!   ";
inline constexpr std::string_view kDivisionPieceFailed = "file create failed   ";
inline constexpr std::string_view kDivisionSucceeded = "file divide succeed!  ";

// One piece: `length` bytes of the source from `start` on.
struct DivisionSpan {
  std::uint64_t start = 0;
  std::uint64_t length = 0;
  friend bool operator==(const DivisionSpan&, const DivisionSpan&) = default;
};

enum class DivisionOutcome : std::uint8_t {
  kNoFile,        // no file chosen: nothing happens
  kNoNodes,       // kDivisionNoNodes
  kBadNodes,      // kDivisionBadNodes
  kSourceFailed,  // kDivisionSourceFailed: the source cannot be opened or read
  kPieceFailed,   // kDivisionPieceFailed: a piece cannot be created or written
  kStopped,       // the caller stopped it (no box); the piece under way is not left
  kSucceeded,     // kDivisionSucceeded
};

struct DivisionResult {
  DivisionOutcome outcome = DivisionOutcome::kNoFile;
  // The nodes text as the box shows it afterwards (full-width commas made ASCII).
  std::string nodes_text;
  // The pieces completely written, in order; they stay on disk after a failure.
  std::vector<std::filesystem::path> pieces;
};

// The nodes text with every full-width comma "，" replaced by ",".
[[nodiscard]] std::string NormaliseDivisionNodes(std::string_view text);
// Only digits and commas, not starting with a comma (checked on the normalised text).
[[nodiscard]] bool ValidDivisionNodes(std::string_view normalised);

// The pieces a file of `length` bytes is cut into. Nodes are read left to right; a
// trailing comma adds none; only a node above the previous cut cuts (others are
// ignored); the first node past the end stops the reading. The last piece runs
// from the last cut to the end and is empty when the last cut is the end.
[[nodiscard]] std::vector<DivisionSpan> PlanDivision(std::string_view normalised,
                                                     std::uint64_t length);

// Beside the source: its name before the extension's dot, "_start-end" in decimal
// (end = start - 1 for an empty piece), then the extension. A name without an
// extension (no dot, or only a leading one) gets the suffix at its end.
[[nodiscard]] std::filesystem::path DivisionPieceName(const std::filesystem::path& source,
                                                      const DivisionSpan& span);

// The dialog's OK: validates, divides and shows the outcome's box through `host`.
// A set `stop` ends it between two chunks.
[[nodiscard]] DivisionResult DivideFile(const std::filesystem::path& source,
                                        std::string_view nodes_text, Host& host,
                                        const std::atomic<bool>* stop = nullptr);

}  // namespace tarvix
