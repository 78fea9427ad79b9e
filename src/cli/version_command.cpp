// SPDX-License-Identifier: GPL-3.0-or-later
// version: the programmer's serial number and firmware version, after the same
// start-up as the window (a recognition, which also tells whether the programmer is
// in its update mode) and followed by the worker's end-of-run command.
#include <iostream>
#include <memory>

#include "cli/chip_session.h"
#include "cli/cli_context.h"
#include "firmware/firmware_version.h"

namespace tarvix::cli {
namespace {

constexpr char kVersionBoxTitle[] = "version information";

int Version(Context& c) {
  if (!c.options().args.empty()) return UsageError("version takes no arguments");
  if (!c.CheckFiles({}, {}, true, true)) return kExitFailed;
  std::unique_ptr<ChipSession> session = ChipSession::Open(c, false);
  if (!session) return kExitFailed;
  ChipSession& s = *session;
  // The box's text is the result: printed once, on stdout.
  s.host().CaptureBoxes(kVersionBoxTitle);
  s.StartUp();
  if (s.Interrupted()) return s.InterruptedExit();

  Program& p = s.program();
  FirmwareVersionResult r;
  s.Run(worker_command::kFirmwareVersion,
        [&] { r = ShowFirmwareVersion(p.Link(), p.Packet(), s.host(), p.State()); });

  s.host().BreakLine();
  if (c.options().json) {
    std::cout << "{\"ok\":" << JsonBool(r.ok) << ",\"status\":" << JsonString(s.host().LastStatus())
              << ",\"version\":"
              << (r.version_byte ? JsonString(FirmwareVersionText(*r.version_byte)) : "null")
              << ",\"serial\":" << (r.serial ? JsonString(SerialText(*r.serial)) : "null")
              << ",\"serial_number\":" << (r.serial ? std::to_string(*r.serial) : "null")
              << ",\"text\":" << JsonString(r.box_text) << "}\n";
  } else if (r.ok) {
    // The box text as the terminal shows it, without the box's opening line break.
    std::string text = TerminalText(r.box_text);
    if (!text.empty() && text.front() == '\n') text.erase(0, 1);
    std::cout << text << "\n";
  }
  return r.ok ? kExitOk : kExitFailed;
}

const Registration kVersion{
    {"version", "version                programmer serial number and firmware version", Version}};

}  // namespace
}  // namespace tarvix::cli
