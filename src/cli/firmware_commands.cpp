// SPDX-License-Identifier: GPL-3.0-or-later
// upgrade: the programmer firmware upgrade from a ".tvx" file; tvx make: a valid
// ".tvx" file from a payload, for tests and for the simulated programmer.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "buffer/replacement_file.h"
#include "buffer/stream_copy.h"
#include "cli/chip_session.h"
#include "cli/cli_context.h"
#include "cli/file_reasons.h"
#include "firmware/firmware_upgrade.h"
#include "firmware/tvx_image.h"

namespace tarvix::cli {
namespace {

int Upgrade(Context& c) {
  const auto& args = c.options().args;
  if (args.size() != 1 || args[0].empty()) return UsageError("upgrade needs FILE.tvx");
  const std::filesystem::path file = args[0];
  if (!c.CheckFiles({{"", file}}, {}, true, true)) return kExitFailed;
  std::unique_ptr<ChipSession> session = ChipSession::Open(c, false);
  if (!session) return kExitFailed;
  ChipSession& s = *session;
  // Recognition first, as at the window's start: a programmer already in its update
  // mode is found so, and the upgrade then starts without switching it again.
  s.StartUp();
  if (s.Interrupted()) return s.InterruptedExit();
  Program& program = s.program();
  MainState& state = program.State();

  // A file that fails the check goes to the upgrade all the same, which refuses it in
  // its own words; a good one replaces the programmer's firmware: ask first.
  const std::string problem = TvxProblem(file);
  if (problem.empty() && !s.host().Confirm("the programmer's firmware will be replaced by " +
                                           file.string() + " ! continue ?"))
    return kExitFailed;

  // The dialog's bar is the tool's progress bar; its last text is the run's answer.
  FirmwareUpgradeDialog& dialog = program.Upgrade();
  dialog.ChooseFile(file);
  dialog.SetBarListener([&s](const FirmwareUpgradeDialog::Bar& bar) {
    s.host().SetProgress(bar.position, bar.text, CaptionAlign::kCentre);
  });
  int result = kUpgradeNoProgrammer;
  s.host().ShowProgress(true);
  s.Run(worker_command::kFirmwareUpgrade, [&] { result = UpgradeFirmware(s.ctx(), dialog); });
  s.host().ShowProgress(false);
  dialog.SetBarListener(nullptr);

  const bool ok = result == kUpgradeSucceeded;
  const bool interrupted = s.Interrupted() && !ok;
  const std::string text = dialog.CurrentBar().text;
  s.host().BreakLine();
  if (result == 1 && !problem.empty())
    std::cerr << "tarvix-cli: " << file.string() << ": " << problem << "\n";
  if (result == kUpgradeStopped)
    std::cerr << "tarvix-cli: the programmer "
              << (state.dfu_mode.load() != 0 ? "stays in its update mode; run upgrade again"
                                             : "was not switched to its update mode")
              << "\n";
  if (c.options().json) {
    std::cout << "{\"ok\":" << JsonBool(ok) << ",\"status\":" << JsonString(s.host().LastStatus())
              << ",\"failure\":" << (result > 0 ? std::to_string(result) : "null")
              << ",\"text\":" << JsonString(text) << ",\"file\":" << JsonString(file.string())
              << ",\"dfu_mode\":" << JsonBool(state.dfu_mode.load() != 0)
              << (interrupted ? ",\"interrupted\":true" : "") << "}\n";
  } else if (result != kUpgradeNoProgrammer) {
    std::cout << text << "\n";
  }
  if (interrupted) return s.InterruptedExit();
  return ok ? kExitOk : kExitFailed;
}

int TvxMake(Context& c) {
  const auto& args = c.options().args;
  if (args.size() != 2 || args[0].empty() || args[1].empty())
    return UsageError("tvx make needs PAYLOAD and OUT.tvx");
  const std::filesystem::path in_path = args[0], out_path = args[1];
  if (!c.CheckFiles({{"", in_path}}, {{"", out_path}}, false, false)) return kExitFailed;
  std::vector<std::uint8_t> payload;
  if (!ReadWholeInput(in_path, kTvxLargestPayload, "a firmware payload", &payload))
    return kExitFailed;
  std::string error;
  const auto image = MakeTvx(payload, &error);
  if (!image) {
    std::cerr << "tarvix-cli: " << in_path.string() << ": " << error << "\n";
    return kExitFailed;
  }
  // Written beside the target first, so a failure never leaves half an image under its name.
  ReplacementFile out(out_path);
  if (!out.Valid() || !WriteAt(out.Fd(), *image, 0) || !out.Commit()) {
    const int error = out.Error() != 0 ? out.Error() : errno;
    out.Abandon();
    std::cerr << "tarvix-cli: cannot write " << out_path.string() << ": " << std::strerror(error)
              << "\n";
    return kExitFailed;
  }
  const std::size_t n = image->size();
  const std::uint32_t sum = (std::uint32_t{(*image)[n - 3]} << 16) |
                            (std::uint32_t{(*image)[n - 2]} << 8) | (*image)[n - 1];
  if (c.options().json) {
    std::cout << "{\"ok\":true,\"status\":\"\",\"file\":" << JsonString(out_path.string())
              << ",\"bytes\":" << n << ",\"checksum\":" << sum << "}\n";
  } else {
    std::cout << out_path.string() << ": " << n << " bytes, checksum " << sum << "\n";
  }
  return kExitOk;
}

const Registration kUpgrade{
    {"upgrade",
     "upgrade FILE.tvx       programmer firmware upgrade (asks first; Ctrl-C stops it between\n"
     "                         blocks, leaving the programmer in its update mode)",
     Upgrade}};
const Registration kTvxMake{
    {"tvx make", "tvx make PAYLOAD OUT.tvx   a firmware image file of PAYLOAD", TvxMake}};

}  // namespace
}  // namespace tarvix::cli
