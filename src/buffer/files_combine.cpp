// SPDX-License-Identifier: GPL-3.0-or-later
#include "buffer/files_combine.h"

#include <algorithm>

#include "buffer/replacement_file.h"
#include "buffer/stream_copy.h"
#include "device/host.h"

namespace tarvix {

std::filesystem::path CombineOutputPath(std::string_view save_path, std::string_view file_name) {
  std::string out(save_path);
  if (out.empty() || out.back() != '/') out += '/';
  out += file_name;
  if (file_name.find('.') == std::string_view::npos) out += ".bin";
  return out;
}

CombineResult CombineFiles(std::string_view save_path, std::string_view file_name,
                           const std::vector<std::filesystem::path>& inputs, Host& host,
                           const std::atomic<bool>* stop) {
  CombineResult result;
  auto box = [&](CombineOutcome outcome, std::string_view text, std::string_view title,
                 BoxIcon icon) {
    result.outcome = outcome;
    (void)host.MessageBox(text, title, icon, BoxButtons::kOk);
    return result;
  };
  if (save_path.empty())
    return box(CombineOutcome::kNoSavePath, kCombineNoSavePath, "info", BoxIcon::kInformation);
  if (file_name.empty())
    return box(CombineOutcome::kNoFileName, kCombineNoFileName, "info", BoxIcon::kInformation);

  result.output = CombineOutputPath(save_path, file_name);
  // Truncating the output first would destroy an input that is the same file.
  for (const auto& input : inputs) {
    if (SameFile(input, result.output))
      return box(CombineOutcome::kOutputIsInput, kCombineOutputIsInput, "failed", BoxIcon::kError);
  }
  // The new output takes the old one's place only when it is whole: a missing input
  // or a full disk leaves an existing file of that name as it was.
  ReplacementFile out(result.output);
  if (!out.Valid())
    return box(CombineOutcome::kOutputFailed, kCombineOutputFailed, "failed", BoxIcon::kError);

  for (const auto& input : inputs) {
    const UniqueFd in = OpenRegularForReading(input);
    const std::int64_t length = in.Valid() ? FileLength(in.Get()) : -1;
    if (length < 0)
      return box(CombineOutcome::kInputFailed, kCombineInputFailed, "failed",
                 BoxIcon::kInformation);
    const CopyResult copied = CopyRange(in.Get(), 0, static_cast<std::uint64_t>(length), out.Fd(),
                                        result.bytes_written, stop);
    if (copied == CopyResult::kStopped) {
      result.outcome = CombineOutcome::kStopped;
      return result;
    }
    if (copied == CopyResult::kReadFailed)
      return box(CombineOutcome::kInputFailed, kCombineInputFailed, "failed",
                 BoxIcon::kInformation);
    if (copied != CopyResult::kOk)
      return box(CombineOutcome::kWriteFailed, kCombineWriteFailed, "failed", BoxIcon::kError);
    result.bytes_written += static_cast<std::uint64_t>(length);
    ++result.inputs_copied;
  }
  if (!out.Commit())
    return box(CombineOutcome::kWriteFailed, kCombineWriteFailed, "failed", BoxIcon::kError);
  return box(CombineOutcome::kSucceeded, kCombineSucceeded, "succeed", BoxIcon::kInformation);
}

void FilesCombine::Add(const std::vector<std::filesystem::path>& files) {
  inputs_.insert(inputs_.end(), files.begin(), files.end());
}

void FilesCombine::Delete(std::vector<std::size_t> positions) {
  // From the back, so earlier removals do not shift later positions.
  std::sort(positions.begin(), positions.end());
  positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
  for (auto it = positions.rbegin(); it != positions.rend(); ++it)
    if (*it < inputs_.size()) inputs_.erase(inputs_.begin() + static_cast<std::ptrdiff_t>(*it));
}

CombineResult FilesCombine::Combine(Host& host) const {
  return CombineFiles(save_path_, file_name_, inputs_, host);
}

}  // namespace tarvix
