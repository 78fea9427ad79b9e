// SPDX-License-Identifier: GPL-3.0-or-later
// Help > "&Contents": the program's manual, opened with the desktop's viewer. The
// manual lives beside the settings in the directory the program was started from,
// like every other private file; a copy installed with the program is the fallback.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

namespace tarvix {

class Host;

// The manual as the build and the installation place it.
inline constexpr char kManualFileName[] = "VRNT_Tarvix.html";
// The help file's traditional name, still opened when someone keeps one there.
inline constexpr char kHelpFileName[] = "VRNT_Tarvix.CHM";
inline constexpr char kHelpNotFound[] = "not find file";

// Where the manual is looked for, in order: the start-up directory (`base`), then
// beside the executable and in the installed data folder (`program_folder`/../share/
// tarvix). An empty `program_folder` leaves out the installed copies.
[[nodiscard]] std::vector<std::filesystem::path> ManualCandidates(
    const std::filesystem::path& base, const std::filesystem::path& program_folder);
// The first candidate that exists as a regular file.
[[nodiscard]] std::optional<std::filesystem::path> FindManual(
    const std::filesystem::path& base, const std::filesystem::path& program_folder);
// The folder of the running executable; empty when it cannot be told.
[[nodiscard]] std::filesystem::path ProgramFolder();

// Shows a manual that exists in the program's own window.
using ShowManualHere = std::function<void(const std::filesystem::path&)>;

// Opens the manual with `open_with_viewer` (false: the viewer could not open it). A
// manual the desktop has no viewer for goes to `show_here`; only when there is no
// manual anywhere (or nothing to show it with) the box "not find file" (title
// "info", warning icon).
void ShowHelpContents(Host& host, const std::filesystem::path& base,
                      const std::filesystem::path& program_folder,
                      const std::function<bool(const std::filesystem::path&)>& open_with_viewer,
                      const ShowManualHere& show_here = {});
// The same with the running executable's folder.
void ShowHelpContents(Host& host, const std::filesystem::path& base,
                      const std::function<bool(const std::filesystem::path&)>& open_with_viewer,
                      const ShowManualHere& show_here = {});

}  // namespace tarvix
