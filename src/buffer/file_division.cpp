// SPDX-License-Identifier: GPL-3.0-or-later
#include "buffer/file_division.h"

#include <limits>

#include "buffer/replacement_file.h"
#include "buffer/stream_copy.h"
#include "device/host.h"

namespace tarvix {
namespace {

constexpr std::string_view kFullWidthComma = "\xEF\xBC\x8C";

void Box(Host& host, std::string_view text, std::string_view title) {
  (void)host.MessageBox(text, title, BoxIcon::kInformation, BoxButtons::kOk);
}

// Decimal digits, saturating: a node too large for 64 bits lies past any file anyway.
std::uint64_t NodeValue(std::string_view digits) {
  constexpr auto kMax = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t value = 0;
  for (const char c : digits) {
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (kMax - digit) / 10) return kMax;
    value = value * 10 + digit;
  }
  return value;
}

}  // namespace

std::string NormaliseDivisionNodes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (text.substr(i, kFullWidthComma.size()) == kFullWidthComma) {
      out += ',';
      i += kFullWidthComma.size();
    } else {
      out += text[i++];
    }
  }
  return out;
}

bool ValidDivisionNodes(std::string_view normalised) {
  if (normalised.empty() || normalised.front() == ',') return false;
  for (const char c : normalised)
    if (c != ',' && (c < '0' || c > '9')) return false;
  return true;
}

std::vector<DivisionSpan> PlanDivision(std::string_view normalised, std::uint64_t length) {
  std::vector<DivisionSpan> spans;
  std::uint64_t start = 0;
  std::size_t pos = 0;
  while (pos < normalised.size()) {
    std::size_t comma = normalised.find(',', pos);
    if (comma == std::string_view::npos) comma = normalised.size();
    const std::uint64_t node = NodeValue(normalised.substr(pos, comma - pos));
    pos = comma + 1;
    if (node > length) break;
    if (node > start) {
      spans.push_back({start, node - start});
      start = node;
    }
  }
  spans.push_back({start, length - start});
  return spans;
}

std::filesystem::path DivisionPieceName(const std::filesystem::path& source,
                                        const DivisionSpan& span) {
  // The cut goes before the file name's own extension, never into a folder name
  // that happens to hold a dot.
  const std::filesystem::path name = source.filename();
  // The end is the last byte; an empty piece at the very start ends at -1.
  const std::uint64_t past = span.start + span.length;
  const std::string end = past == 0 ? std::string("-1") : std::to_string(past - 1);
  const std::string range = "_" + std::to_string(span.start) + "-" + end;
  return source.parent_path() / (name.stem().native() + range + name.extension().native());
}

DivisionResult DivideFile(const std::filesystem::path& source, std::string_view nodes_text,
                          Host& host, const std::atomic<bool>* stop) {
  DivisionResult result;
  result.nodes_text = std::string(nodes_text);
  if (source.empty()) return result;
  if (nodes_text.empty()) {
    result.outcome = DivisionOutcome::kNoNodes;
    Box(host, kDivisionNoNodes, "info");
    return result;
  }
  result.nodes_text = NormaliseDivisionNodes(nodes_text);
  if (!ValidDivisionNodes(result.nodes_text)) {
    result.outcome = DivisionOutcome::kBadNodes;
    Box(host, kDivisionBadNodes, "info");
    return result;
  }

  const UniqueFd in = OpenRegularForReading(source);
  const std::int64_t length = in.Valid() ? FileLength(in.Get()) : -1;
  if (length < 0) {
    result.outcome = DivisionOutcome::kSourceFailed;
    Box(host, kDivisionSourceFailed, "info");
    return result;
  }

  for (const DivisionSpan& span :
       PlanDivision(result.nodes_text, static_cast<std::uint64_t>(length))) {
    const std::filesystem::path piece = DivisionPieceName(source, span);
    // A piece name that is another name of the source (a link) must not replace it.
    if (SameFile(piece, source)) {
      result.outcome = DivisionOutcome::kPieceFailed;
      Box(host, kDivisionPieceFailed, "info");
      return result;
    }
    // Written beside its name and put in place only when whole: an older file of that
    // name stays as it was if the piece fails.
    ReplacementFile out(piece);
    if (!out.Valid()) {
      result.outcome = DivisionOutcome::kPieceFailed;
      Box(host, kDivisionPieceFailed, "info");
      return result;
    }
    CopyResult copied = CopyRange(in.Get(), span.start, span.length, out.Fd(), 0, stop);
    if (copied == CopyResult::kStopped) {
      result.outcome = DivisionOutcome::kStopped;
      return result;
    }
    if (copied == CopyResult::kOk && !out.Commit()) copied = CopyResult::kWriteFailed;
    if (copied != CopyResult::kOk) {
      const bool read_failed = copied == CopyResult::kReadFailed;
      result.outcome = read_failed ? DivisionOutcome::kSourceFailed : DivisionOutcome::kPieceFailed;
      Box(host, read_failed ? kDivisionSourceFailed : kDivisionPieceFailed, "info");
      return result;
    }
    result.pieces.push_back(piece);
  }
  result.outcome = DivisionOutcome::kSucceeded;
  Box(host, kDivisionSucceeded, "succeed");
  return result;
}

}  // namespace tarvix
