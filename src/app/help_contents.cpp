// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/help_contents.h"

#include "device/host.h"

namespace tarvix {

std::vector<std::filesystem::path> ManualCandidates(const std::filesystem::path& base,
                                                    const std::filesystem::path& program_folder) {
  std::vector<std::filesystem::path> candidates{base / kManualFileName, base / kHelpFileName};
  if (!program_folder.empty()) {
    candidates.push_back(program_folder / kManualFileName);
    candidates.push_back(program_folder.parent_path() / "share" / "tarvix" / kManualFileName);
  }
  return candidates;
}

std::optional<std::filesystem::path> FindManual(const std::filesystem::path& base,
                                                const std::filesystem::path& program_folder) {
  for (const std::filesystem::path& candidate : ManualCandidates(base, program_folder)) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(candidate, ec)) return candidate;
  }
  return std::nullopt;
}

std::filesystem::path ProgramFolder() {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : self.parent_path();
}

void ShowHelpContents(Host& host, const std::filesystem::path& base,
                      const std::filesystem::path& program_folder,
                      const std::function<bool(const std::filesystem::path&)>& open_with_viewer,
                      const ShowManualHere& show_here) {
  const std::optional<std::filesystem::path> manual = FindManual(base, program_folder);
  if (manual && open_with_viewer && open_with_viewer(*manual)) return;
  if (manual && show_here) {
    show_here(*manual);
    return;
  }
  host.MessageBox(kHelpNotFound, "info", BoxIcon::kWarning, BoxButtons::kOk);
}

void ShowHelpContents(Host& host, const std::filesystem::path& base,
                      const std::function<bool(const std::filesystem::path&)>& open_with_viewer,
                      const ShowManualHere& show_here) {
  ShowHelpContents(host, base, ProgramFolder(), open_with_viewer, show_here);
}

}  // namespace tarvix
